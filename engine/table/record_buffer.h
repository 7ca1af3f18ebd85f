// Field access on record buffers. Both record layouts start with the null
// bitmap: ceil(FieldCount / 8) bytes, field n is bit (n mod 8) of byte
// n div 8 counted from the least significant bit, a set bit means NULL. The
// working record (what cursors and datasets see) follows with every field's
// MemoryDataSize bytes, the stored record (what record pages hold) with its
// DiskDataSize bytes; the two differ only in the 4-byte in-memory handle that
// follows a BLOB reference in the working record.
#pragma once

#include <cstdint>

#include "engine/table/field_def.h"

namespace rzv {

inline bool IsNullBitSet(const uint8_t* record, int field_no) {
  return (record[field_no >> 3] >> (field_no & 7)) & 1;
}
inline void SetNullBit(uint8_t* record, int field_no, bool is_null) {
  uint8_t mask = static_cast<uint8_t>(1u << (field_no & 7));
  if (is_null) {
    record[field_no >> 3] |= mask;
  } else {
    record[field_no >> 3] &= static_cast<uint8_t>(~mask);
  }
}

// Size of the buffer a value crosses the dataset boundary in. It differs from
// MemoryDataSize where the dataset type is wider than the storage type:
// SHORTINT and BYTE as 16 bits, CARDINAL as 64, SINGLE and EXTENDED as a
// double, and the narrow autoincrement types as a 32-bit autoincrement value.
int32_t DatasetDataSize(const RzvFieldDef& def);

// Copies field field_no of the working record into dest in dataset format
// and returns true, or returns false when the field is NULL. A null dest only
// tests for NULL; a BLOB field is not copied (its content travels through BLOB
// streams). A string is copied up to its terminator, which is always written.
// dest_size, when not -1, is the room at dest: too little raises "Error
// getting field data - ...".
bool ReadFieldValue(const RzvFieldDefs& defs, int field_no, const uint8_t* record, void* dest,
                    int32_t dest_size = -1);

// Stores source (dataset format) into field field_no, or sets the field NULL
// when source is null or holds a string-like value starting with a zero
// character: an empty string is always stored as NULL. A string is read up
// to its terminator and the rest of its slot is zeroed; one longer than the
// field raises "Buffer size exceeded" and leaves the record unchanged.
void WriteFieldValue(const RzvFieldDefs& defs, int field_no, const void* source, uint8_t* record);

// Sets every field NULL and zeroes every data byte; with apply_defaults,
// then gives each field with a default (NewRecordDefault) that value. A
// default longer than its field raises "Buffer size exceeded". BLOB fields
// keep no value in the record and get no default here.
void InitWorkingRecord(const RzvFieldDefs& defs, uint8_t* record, bool apply_defaults);

// The two layout conversions, between distinct buffers. The destination is
// zeroed first, so a BLOB field's in-memory handle reads 0 after
// StoredToWorkingRecord.
void StoredToWorkingRecord(const RzvFieldDefs& defs, const uint8_t* stored, uint8_t* working);
void WorkingToStoredRecord(const RzvFieldDefs& defs, const uint8_t* working, uint8_t* stored);

// Zeroes every string field's bytes after its terminator and the whole slot
// of a NULL string field, so that equal keys are equal byte for byte.
void NormalizeRecord(const RzvFieldDefs& defs, uint8_t* record);

}  // namespace rzv
