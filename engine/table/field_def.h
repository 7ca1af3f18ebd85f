// RzvFieldDef: one field of a table: its name, type, length, BLOB storage
// options, autoincrement settings and default value, plus the derived sizes
// and offsets of the field in the two record layouts. RzvFieldDefs is the
// ordered field list; a field's number is its position.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/table/field_types.h"
#include "engine/table/meta_object_def.h"
#include "engine/table/metadata_stream.h"
#include "engine/table/variant.h"

namespace rzv {

class RzvFieldDef : public RzvMetaObjectDef {
 public:
  static constexpr int32_t kDefaultBlobBlockSize = 102400;

  RzvFieldDef() = default;
  // Raises like SetType.
  RzvFieldDef(std::string_view name, RzvDeclaredType type, int32_t size = 0);

  RzvDeclaredType DataType() const { return data_type_; }
  RzvStorageType StorageType() const { return storage_type_; }
  int32_t Size() const { return size_; }
  // Derives the storage type and both data sizes and converts the default
  // value as SetDefaultValue does. Raises "Unsupported data type '%s'" for a
  // declared type without a storage type, the data size errors of
  // StorageDataSize and a default's conversion error; the definition is
  // unchanged on failure.
  void SetType(RzvDeclaredType type, int32_t size);

  // Kept only for BLOB storage types.
  uint8_t BlobCompressionAlgorithm() const { return blob_compression_algorithm_; }
  void SetBlobCompressionAlgorithm(uint8_t v) { blob_compression_algorithm_ = v; }
  uint8_t BlobCompressionMode() const { return blob_compression_mode_; }
  void SetBlobCompressionMode(uint8_t v) { blob_compression_mode_ = v; }
  int32_t BlobBlockSize() const { return blob_block_size_; }
  void SetBlobBlockSize(int32_t v) { blob_block_size_ = v; }

  int64_t Increment() const { return increment_; }
  void SetIncrement(int64_t v) { increment_ = v; }
  int64_t InitialValue() const { return initial_value_; }
  void SetInitialValue(int64_t v) { initial_value_ = v; }
  int64_t MinValue() const { return min_value_; }
  void SetMinValue(int64_t v) { min_value_ = v; }
  int64_t MaxValue() const { return max_value_; }
  void SetMaxValue(int64_t v) { max_value_ = v; }
  bool Cycled() const { return cycled_; }
  void SetCycled(bool v) { cycled_ = v; }

  // A typed value of the field's storage type, or a text that is an
  // expression; NULL when the field has no default. Setting it converts value
  // to the storage type where it can (text that does not convert is kept as
  // text) and re-derives HasDefaultExpression; on failure nothing changes.
  const RzvVariant& DefaultValue() const { return default_value_; }
  void SetDefaultValue(const RzvVariant& value);
  // True when the default is a text that the installed expression evaluator
  // reads as an expression whose value differs from the text itself (e.g. a
  // current-date call): it is then evaluated afresh for every new record.
  bool HasDefaultExpression() const { return has_default_expression_; }
  // The value a new record gets: the evaluated expression converted to the
  // storage type, or the default value itself.
  RzvVariant NewRecordDefault() const;

  // Copies every attribute and re-derives the default expression.
  void Assign(const RzvFieldDef& other);

  // Bytes of the value in the working record and in the stored record.
  int32_t MemoryDataSize() const { return memory_data_size_; }
  int32_t DiskDataSize() const { return disk_data_size_; }
  // Set by RzvFieldDefs::ComputeOffsets.
  int32_t MemoryOffset() const { return memory_offset_; }
  int32_t DiskOffset() const { return disk_offset_; }

  // For a projected column of a cursor: the number of the table field it
  // shows; -1 otherwise. Not persisted.
  int32_t TableFieldNo() const { return table_field_no_; }
  void SetTableFieldNo(int32_t n) { table_field_no_ = n; }

  // Raises "BLOB block size should be > 0 for field %s" for a BLOB field
  // whose block size is not positive.
  void Validate() const;

  // Stream format: name length (1 byte), name, ObjectID (4), declared type
  // (1), storage type (1), Size (4), for BLOB storage types compression
  // algorithm (1), mode (1) and block size (4), then Increment, InitialValue,
  // MinValue, MaxValue (8 each), Cycled (1) and the default value.
  void Write(RzvMetadataWriter& out) const;
  // On failure the definition keeps its previous content.
  void Read(RzvMetadataReader& in);

 private:
  friend class RzvFieldDefs;

  RzvDeclaredType data_type_ = RzvDeclaredType::kUnknown;
  RzvStorageType storage_type_ = RzvStorageType::kUnknown;
  int32_t size_ = 0;
  uint8_t blob_compression_algorithm_ = 0;
  uint8_t blob_compression_mode_ = 0;
  int32_t blob_block_size_ = kDefaultBlobBlockSize;
  int64_t increment_ = 1;
  int64_t initial_value_ = 0;
  int64_t min_value_ = 0;
  int64_t max_value_ = INT64_MAX;
  bool cycled_ = false;
  RzvVariant default_value_;
  bool has_default_expression_ = false;

  void DeriveDefaultExpression();
  static RzvVariant ConvertDefault(const RzvVariant& value, RzvStorageType storage);

  int32_t memory_data_size_ = 0;
  int32_t disk_data_size_ = 0;
  int32_t memory_offset_ = 0;
  int32_t disk_offset_ = 0;
  int32_t table_field_no_ = -1;
};

// Invariant after ComputeOffsets (which every structural change runs): the
// fields lie back to back behind the null bitmap in both layouts, in field
// order. Whoever changes an item's type through Item() runs ComputeOffsets.
class RzvFieldDefs : public RzvMetaObjectDefs<RzvFieldDef> {
 public:
  RzvFieldDef& Add(const RzvFieldDef& def);
  RzvFieldDef& Insert(int n, const RzvFieldDef& def);
  void Delete(int n);
  // Moves field from to position to.
  void Move(int from, int to);
  void Clear();
  // Copies every definition as RzvFieldDef::Assign does, re-deriving each
  // default expression; raises "Duplicate field name %s" when a name repeats,
  // leaving this list unchanged.
  void Assign(const RzvFieldDefs& other);

  // Raises "Record size is too large: %d fields need more than %d bytes" on
  // 32-bit overflow, leaving the offsets as they were.
  void ComputeOffsets();
  int32_t NullBitmapSize() const { return null_bitmap_size_; }
  int32_t WorkingRecordSize() const { return working_record_size_; }
  int32_t StoredRecordSize() const { return stored_record_size_; }

  // Checks every field and the uniqueness of the names.
  void Validate() const;

  // A 4-byte count followed by the definitions.
  void Write(RzvMetadataWriter& out) const;
  // On failure the list keeps its previous content.
  void Read(RzvMetadataReader& in);

 private:
  int32_t null_bitmap_size_ = 0;
  int32_t working_record_size_ = 0;
  int32_t stored_record_size_ = 0;
};

}  // namespace rzv
