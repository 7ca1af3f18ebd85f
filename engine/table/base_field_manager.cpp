#include "engine/table/base_field_manager.h"

#include <algorithm>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/integer_encoding.h"
#include "engine/table/record_buffer.h"

namespace rzv {

namespace {

using S = RzvStorageType;

// Largest value the storage type of an autoincrement field holds. A counter
// beyond it would be stored cut to its low bytes, handing out small or
// negative numbers that collide with earlier ones.
int64_t StorageMax(RzvStorageType type) {
  switch (type) {
    case S::kShortint:
      return INT8_MAX;
    case S::kSmallint:
      return INT16_MAX;
    case S::kInteger:
      return INT32_MAX;
    case S::kByte:
      return UINT8_MAX;
    case S::kWord:
      return UINT16_MAX;
    case S::kCardinal:
      return UINT32_MAX;
    default:
      return INT64_MAX;
  }
}

}  // namespace

void RzvBaseFieldManager::SetFieldDefs(const RzvFieldDefs& defs) {
  field_defs_.Assign(defs);
  ResetCounters();
}

void RzvBaseFieldManager::ReadFieldDefs(RzvMetadataReader& in) {
  field_defs_.Read(in);
  ResetCounters();
}

void RzvBaseFieldManager::ResetCounters() {
  autoinc_last_values_.assign(static_cast<size_t>(field_defs_.Count()), 0);
  for (int i = 0; i < field_defs_.Count(); ++i) {
    if (IsAutoincType(field_defs_[i].DataType())) {
      autoinc_last_values_[static_cast<size_t>(i)] = field_defs_[i].InitialValue();
    }
  }
}

void RzvBaseFieldManager::WriteAutoincValues(RzvMetadataWriter& out) const {
  out.WriteLE<int32_t>(static_cast<int32_t>(autoinc_last_values_.size()));
  for (int64_t v : autoinc_last_values_) out.WriteLE<int64_t>(v);
}

void RzvBaseFieldManager::ReadAutoincValues(RzvMetadataReader& in) {
  int32_t count = in.ReadLE<int32_t>();
  if (count < 0 || static_cast<size_t>(count) > in.Remaining() / 8) {
    // Reading the values themselves reports the short read.
    std::vector<uint8_t> rest(in.Remaining() + 1);
    in.Read(rest.data(), rest.size());
  }
  std::vector<int64_t> values(static_cast<size_t>(count));
  for (int64_t& v : values) v = in.ReadLE<int64_t>();
  size_t n = std::min(values.size(), autoinc_last_values_.size());
  std::copy_n(values.begin(), n, autoinc_last_values_.begin());
}

void RzvBaseFieldManager::CheckFieldNo(int field_no) const {
  if (field_no < 0 || field_no >= field_defs_.Count()) {
    throw RzvException::Format(30506, "Field #%d not found", field_no);
  }
}

int64_t RzvBaseFieldManager::NextAutoincValue(int field_no) {
  CheckFieldNo(field_no);
  const RzvFieldDef& def = field_defs_[field_no];
  int64_t& counter = autoinc_last_values_[static_cast<size_t>(field_no)];
  int64_t step = def.Increment() != 0 ? def.Increment() : 1;
  int64_t limit = StorageMax(def.StorageType());
  if (def.MaxValue() != 0) limit = std::min(limit, def.MaxValue());
  int64_t next = 0;
  bool overflow = __builtin_add_overflow(counter, step, &next);
  if (overflow || next > limit) {
    if (!def.Cycled()) {
      if (!overflow) counter = next;
      throw RzvException::Format(30504, "Autoinc max value exceeded for field '%s'", def.Name());
    }
    next = def.MinValue();
  }
  counter = next;
  return counter;
}

void RzvBaseFieldManager::ApplyAutoincValues(RzvSessionSequenceValues& session, uint8_t* record) {
  if (record == nullptr) throw RzvException(10529, "Nil pointer occured");
  // Record and session change only once every field has its value: a field
  // past its maximum fails the insert with the record as the caller wrote it.
  // Counters already advanced stay advanced; those values are used up.
  struct Taken {
    int field_no;
    int64_t value;
    bool generated;
  };
  std::vector<Taken> taken;
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const RzvFieldDef& def = field_defs_[i];
    if (!IsAutoincType(def.DataType())) continue;
    int64_t& counter = autoinc_last_values_[static_cast<size_t>(i)];
    if (IsNullBitSet(record, i)) {
      taken.push_back({i, NextAutoincValue(i), true});
    } else {
      int64_t value = RzvLoadInteger(def.StorageType(), record + def.MemoryOffset());
      if (value > counter) {
        counter = value;
        taken.push_back({i, value, false});
      }
    }
  }
  for (const Taken& t : taken) {
    const RzvFieldDef& def = field_defs_[t.field_no];
    session.Add(def.ObjectID(), t.value);
    if (!t.generated) continue;
    uint8_t bytes[8];
    StoreLE<int64_t>(bytes, t.value);
    std::copy_n(bytes, def.MemoryDataSize(), record + def.MemoryOffset());
    SetNullBit(record, t.field_no, false);
  }
}

int64_t RzvBaseFieldManager::LastAutoincValue(const RzvSessionSequenceValues& session,
                                              bool multi_user, int field_no) const {
  CheckFieldNo(field_no);
  const RzvFieldDef& def = field_defs_[field_no];
  if (auto value = session.Find(def.ObjectID())) return *value;
  if (multi_user) {
    throw RzvException::Format(
        30505, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
        def.Name());
  }
  return IsAutoincType(def.DataType()) ? autoinc_last_values_[static_cast<size_t>(field_no)] : 0;
}

}  // namespace rzv
