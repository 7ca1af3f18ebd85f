// The engine's type system: declared field types (what a table definition
// says), storage types (how a value is encoded in a record), the dataset field
// types a field surfaces as, and the ordered type-name table that translates
// between them. Record layouts, typed values and the SQL layer all name these.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace rzv {

// Declared type of a field; persisted as one byte in field definitions.
enum class RzvDeclaredType : uint8_t {
  kUnknown = 0,
  kChar = 1,
  kString = 2,
  kWideChar = 3,
  kWideString = 4,
  kShortint = 5,
  kSmallint = 6,
  kInteger = 7,
  kLargeint = 8,
  kByte = 9,
  kWord = 10,
  kCardinal = 11,
  kAutoinc = 12,
  kAutoincShortint = 13,
  kAutoincSmallint = 14,
  kAutoincInteger = 15,
  kAutoincLargeint = 16,
  kAutoincByte = 17,
  kAutoincWord = 18,
  kAutoincCardinal = 19,
  kSingle = 20,
  kFloat = 21,
  kExtended = 22,
  kLogical = 23,
  kCurrency = 24,
  kDate = 25,
  kTime = 26,
  kDateTime = 27,
  kTimeStamp = 28,
  kBytes = 29,
  kVarBytes = 30,
  kBlob = 31,
  kGraphic = 32,
  kMemo = 33,
  kFormattedMemo = 34,
  kWideMemo = 35,
  kGuid = 36,
};

// Encoding of a value in a record and in a typed value; persisted as one byte.
enum class RzvStorageType : uint8_t {
  kUnknown = 0,
  kChar = 1,        // Size + 1 single-byte characters, zero-terminated
  kWideChar = 2,    // (Size + 1) UTF-16 units, zero-terminated
  kString = 3,      // as kChar
  kWideString = 4,  // as kWideChar
  kShortint = 5,    // int8
  kSmallint = 6,    // int16
  kInteger = 7,     // int32
  kLargeint = 8,    // int64
  kByte = 9,        // uint8
  kWord = 10,       // uint16
  kCardinal = 11,   // uint32
  kSingle = 12,     // IEEE 754 single
  kFloat = 13,      // IEEE 754 double
  kExtended = 14,   // x87 80-bit extended
  kDate = 15,       // int32 day number, 0001-01-01 = 1
  kTime = 16,       // int32 milliseconds since midnight
  kDateTime = 17,   // kDate day number, then kTime milliseconds
  kBlob = 18,       // BLOB slot: 10 bytes working, 6 stored
  kMemo = 19,       // BLOB slot
  kWideMemo = 20,   // BLOB slot
  kLogical = 21,    // int16, non-zero = true
  kCurrency = 22,   // IEEE 754 double
  kBytes = 23,      // Size + 1 raw bytes
  kVarBytes = 24,   // Size + 1 raw bytes
};

// Field types of the platform's dataset classes, with their ordinal numbers.
enum class RzvDatasetFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
};

// One row of the type-name table.
struct TSQLFieldType {
  std::string_view name;
  RzvDeclaredType declared_type;
  RzvStorageType storage_type;
  RzvDatasetFieldType dataset_type;
};

// Bytes of a BLOB slot: a 6-byte BLOB reference (PageNo int32, BlobID int16),
// followed in the working record only by a 4-byte in-memory handle.
inline constexpr int32_t kBlobReferenceSize = 6;
inline constexpr int32_t kWorkingBlobSlotSize = 10;

// The 62 rows in their fixed order. Every lookup below takes the first
// matching row, so the order decides e.g. that ftWideString maps to WIDECHAR.
std::span<const TSQLFieldType> SqlFieldTypes();

// Lookups; a code that no row carries gives kUnknown / ftUnknown.
RzvStorageType DeclaredTypeToStorageType(RzvDeclaredType type);
RzvDeclaredType StorageTypeToDeclaredType(RzvStorageType type);
RzvDatasetFieldType DeclaredTypeToDatasetType(RzvDeclaredType type);
// Raises "Unknown DataType: '%s'" with the ordinal number for a dataset type
// that no row carries.
RzvDeclaredType DatasetTypeToDeclaredType(RzvDatasetFieldType type);
// First row whose name equals name, ignoring ASCII case; kUnknown if none.
RzvDeclaredType DeclaredTypeByName(std::string_view name);

// "Unknown" for a code without a row.
std::string_view DeclaredTypeName(RzvDeclaredType type);
std::string_view StorageTypeName(RzvStorageType type);

// Working-record data size of a value of the storage type with declared
// length size; raises "Unknown DataType: '%s'" for an unknown storage code.
int32_t StorageDataSize(RzvStorageType type, int32_t size);
// Stored-record data size: the BLOB reference for BLOB storage types,
// otherwise StorageDataSize.
int32_t StorageDiskDataSize(RzvStorageType type, int32_t size);

// Type groups.
bool IsStringType(RzvDeclaredType type);          // CHAR, STRING, WIDECHAR, WIDESTRING
bool IsStringLikeType(RzvDeclaredType type);      // string types and GUID
bool IsWideType(RzvDeclaredType type);            // WIDECHAR, WIDESTRING
bool IsAutoincType(RzvDeclaredType type);         // AUTOINC .. AUTOINCCARDINAL
bool IsBlobType(RzvDeclaredType type);            // BLOB .. WIDEMEMO
bool IsByteArrayType(RzvDeclaredType type);       // BYTES, VARBYTES
bool IsStringStorageType(RzvStorageType type);    // CHAR, WIDECHAR, STRING, WIDESTRING
bool IsWideStorageType(RzvStorageType type);      // WIDECHAR, WIDESTRING
bool IsBlobStorageType(RzvStorageType type);      // BLOB, MEMO, WIDEMEMO
bool IsNumericStorageType(RzvStorageType type);   // SHORTINT .. EXTENDED, CURRENCY
bool IsDateTimeStorageType(RzvStorageType type);  // DATE, TIME, DATETIME

}  // namespace rzv
