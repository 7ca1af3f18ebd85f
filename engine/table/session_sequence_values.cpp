#include "engine/table/session_sequence_values.h"

namespace rzv {

void RzvSessionSequenceValues::Add(int32_t object_id, int64_t value) {
  for (auto& entry : values_) {
    if (entry.object_id == object_id) {
      entry.sequence_last_value = value;
      return;
    }
  }
  values_.push_back({object_id, value});
}

std::optional<int64_t> RzvSessionSequenceValues::Find(int32_t object_id) const {
  for (const auto& entry : values_) {
    if (entry.object_id == object_id) return entry.sequence_last_value;
  }
  return std::nullopt;
}

}  // namespace rzv
