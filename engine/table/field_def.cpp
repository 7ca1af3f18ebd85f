#include "engine/table/field_def.h"

#include <algorithm>
#include <string>

#include "engine/storage/exception.h"
#include "engine/table/default_expression.h"

namespace rzv {

namespace {

// Raises when field n's name repeats that of an earlier field.
void CheckNameNotEarlier(const RzvFieldDefs& defs, int n) {
  for (int j = 0; j < n; ++j) {
    if (SameObjectName(defs[n].Name(), defs[j].Name())) {
      throw RzvException::Format(30508, "Duplicate field name %s", defs[n].Name());
    }
  }
}

}  // namespace

RzvFieldDef::RzvFieldDef(std::string_view name, RzvDeclaredType type, int32_t size) {
  SetName(name);
  SetType(type, size);
}

void RzvFieldDef::SetType(RzvDeclaredType type, int32_t size) {
  RzvStorageType storage = DeclaredTypeToStorageType(type);
  if (storage == RzvStorageType::kUnknown) {
    throw RzvException::Format(30500, "Unsupported data type '%s'", DeclaredTypeName(type));
  }
  int32_t memory_size = StorageDataSize(storage, size);
  int32_t disk_size = StorageDiskDataSize(storage, size);
  RzvVariant default_value = ConvertDefault(default_value_, storage);
  data_type_ = type;
  storage_type_ = storage;
  size_ = size;
  memory_data_size_ = memory_size;
  disk_data_size_ = disk_size;
  default_value_ = std::move(default_value);
  DeriveDefaultExpression();
}

RzvVariant RzvFieldDef::ConvertDefault(const RzvVariant& value, RzvStorageType storage) {
  if (storage == RzvStorageType::kUnknown || value.Type() == storage) return value;
  RzvVariant converted(storage);
  if (value.IsNull()) return converted;
  try {
    converted.Assign(value, true);
  } catch (const RzvException&) {
    // Text that does not read as the field's type may be an expression (a
    // current-date call for a DATE field); kept as text, it is converted or
    // refused when a record takes it.
    if (!IsStringStorageType(value.Type())) throw;
    return value;
  }
  return converted;
}

void RzvFieldDef::SetDefaultValue(const RzvVariant& value) {
  default_value_ = ConvertDefault(value, storage_type_);
  DeriveDefaultExpression();
}

void RzvFieldDef::DeriveDefaultExpression() {
  has_default_expression_ = false;
  if (default_value_.IsNull() || !IsStringStorageType(default_value_.Type())) return;
  auto evaluator = DefaultExpressionEvaluator();
  if (!evaluator) return;
  std::string text = default_value_.AsString();
  try {
    std::optional<RzvVariant> value = (*evaluator)(text);
    has_default_expression_ = value.has_value() && (value->IsNull() || value->AsString() != text);
  } catch (const RzvException&) {
    // A text that does not evaluate without a record is a literal.
  }
}

RzvVariant RzvFieldDef::NewRecordDefault() const {
  const RzvVariant* value = &default_value_;
  std::optional<RzvVariant> evaluated;
  if (has_default_expression_) {
    if (auto evaluator = DefaultExpressionEvaluator()) {
      evaluated = (*evaluator)(default_value_.AsString());
      if (evaluated) value = &*evaluated;
    }
  }
  if (value->Type() == storage_type_ || value->IsNull()) return *value;
  RzvVariant result(storage_type_);
  result.Assign(*value, true);
  return result;
}

void RzvFieldDef::Assign(const RzvFieldDef& other) {
  *this = other;
  DeriveDefaultExpression();
}

void RzvFieldDef::Validate() const {
  if (IsBlobStorageType(storage_type_) && blob_block_size_ <= 0) {
    throw RzvException::Format(30507, "BLOB block size should be > 0 for field %s", Name());
  }
}

void RzvFieldDef::Write(RzvMetadataWriter& out) const {
  const std::string& name = Name();
  out.WriteLE<uint8_t>(static_cast<uint8_t>(name.size()));
  out.Write(name.data(), name.size());
  out.WriteLE<int32_t>(ObjectID());
  out.WriteLE<uint8_t>(static_cast<uint8_t>(data_type_));
  out.WriteLE<uint8_t>(static_cast<uint8_t>(storage_type_));
  out.WriteLE<int32_t>(size_);
  if (IsBlobStorageType(storage_type_)) {
    out.WriteLE<uint8_t>(blob_compression_algorithm_);
    out.WriteLE<uint8_t>(blob_compression_mode_);
    out.WriteLE<int32_t>(blob_block_size_);
  }
  out.WriteLE<int64_t>(increment_);
  out.WriteLE<int64_t>(initial_value_);
  out.WriteLE<int64_t>(min_value_);
  out.WriteLE<int64_t>(max_value_);
  out.WriteLE<uint8_t>(cycled_ ? 1 : 0);
  default_value_.Write(out);
}

void RzvFieldDef::Read(RzvMetadataReader& in) {
  RzvFieldDef def;
  std::string name(in.ReadLE<uint8_t>(), '\0');
  in.Read(name.data(), name.size());
  def.SetName(name);
  def.SetObjectID(in.ReadLE<int32_t>());
  auto type = static_cast<RzvDeclaredType>(in.ReadLE<uint8_t>());
  in.ReadLE<uint8_t>();  // the storage type follows from the declared type
  int32_t size = in.ReadLE<int32_t>();
  def.SetType(type, size);
  if (IsBlobStorageType(def.storage_type_)) {
    def.blob_compression_algorithm_ = in.ReadLE<uint8_t>();
    def.blob_compression_mode_ = in.ReadLE<uint8_t>();
    def.blob_block_size_ = in.ReadLE<int32_t>();
  }
  def.increment_ = in.ReadLE<int64_t>();
  def.initial_value_ = in.ReadLE<int64_t>();
  def.min_value_ = in.ReadLE<int64_t>();
  def.max_value_ = in.ReadLE<int64_t>();
  def.cycled_ = in.ReadLE<uint8_t>() != 0;
  def.default_value_.SetNull(def.storage_type_);
  def.default_value_.Read(in);
  def.DeriveDefaultExpression();
  def.table_field_no_ = table_field_no_;
  *this = std::move(def);
}

RzvFieldDef& RzvFieldDefs::Add(const RzvFieldDef& def) {
  return Insert(Count(), def);
}

RzvFieldDef& RzvFieldDefs::Insert(int n, const RzvFieldDef& def) {
  n = std::clamp(n, 0, Count());
  items_.insert(items_.begin() + n, def);
  try {
    ComputeOffsets();
  } catch (...) {
    items_.erase(items_.begin() + n);
    throw;
  }
  return items_[static_cast<size_t>(n)];
}

void RzvFieldDefs::Delete(int n) {
  if (n < 0 || n >= Count()) {
    throw RzvException::Format(30501, "Invalid field number - FieldNo = %d, FieldCount = %d", n,
                               Count());
  }
  items_.erase(items_.begin() + n);
  ComputeOffsets();
}

void RzvFieldDefs::Move(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count()) {
    throw RzvException::Format(30501, "Invalid field number - FieldNo = %d, FieldCount = %d",
                               from < 0 || from >= Count() ? from : to, Count());
  }
  RzvFieldDef def = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(def));
  ComputeOffsets();
}

void RzvFieldDefs::Clear() {
  items_.clear();
  ComputeOffsets();
}

void RzvFieldDefs::Assign(const RzvFieldDefs& other) {
  for (int i = 0; i < other.Count(); ++i) CheckNameNotEarlier(other, i);
  RzvFieldDefs copy;
  copy.items_ = other.items_;
  for (RzvFieldDef& def : copy.items_) def.DeriveDefaultExpression();
  copy.ComputeOffsets();
  *this = std::move(copy);
}

void RzvFieldDefs::ComputeOffsets() {
  int64_t bitmap = (static_cast<int64_t>(items_.size()) + 7) / 8;
  int64_t memory = bitmap;
  int64_t disk = bitmap;
  for (const RzvFieldDef& def : items_) {
    memory += def.memory_data_size_;
    disk += def.disk_data_size_;
  }
  if (memory > INT32_MAX) {
    throw RzvException::Format(30516, "Record size is too large: %d fields need more than %d bytes",
                               Count(), INT32_MAX);
  }
  null_bitmap_size_ = static_cast<int32_t>(bitmap);
  int32_t memory_offset = null_bitmap_size_;
  int32_t disk_offset = null_bitmap_size_;
  for (RzvFieldDef& def : items_) {
    def.memory_offset_ = memory_offset;
    def.disk_offset_ = disk_offset;
    memory_offset += def.memory_data_size_;
    disk_offset += def.disk_data_size_;
  }
  working_record_size_ = memory_offset;
  stored_record_size_ = disk_offset;
}

void RzvFieldDefs::Validate() const {
  for (int i = 0; i < Count(); ++i) {
    Item(i).Validate();
    CheckNameNotEarlier(*this, i);
  }
}

void RzvFieldDefs::Write(RzvMetadataWriter& out) const {
  out.WriteLE<int32_t>(Count());
  for (const RzvFieldDef& def : items_) def.Write(out);
}

void RzvFieldDefs::Read(RzvMetadataReader& in) {
  int32_t count = in.ReadLE<int32_t>();
  RzvFieldDefs list;
  // Each definition takes at least 44 bytes, so a count beyond what is left
  // is a damaged image, not a reason to reserve memory.
  if (count < 0 || static_cast<size_t>(count) > in.Remaining()) {
    throw RzvException::Format(30517, "Invalid field count %d in table metadata", count);
  }
  list.items_.resize(static_cast<size_t>(count));
  for (RzvFieldDef& def : list.items_) def.Read(in);
  list.ComputeOffsets();
  *this = std::move(list);
}

}  // namespace rzv
