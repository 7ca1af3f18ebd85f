// The last autoincrement value a session generated or supplied for each
// field, keyed by the field's ObjectID. Per session, so never shared between
// threads.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace rzv {

struct RzvSessionNamedObjectSequenceValue {
  int32_t object_id = -1;
  int64_t sequence_last_value = 0;
};

class RzvSessionSequenceValues {
 public:
  // Replaces the entry of the same ObjectID, if any.
  void Add(int32_t object_id, int64_t value);
  std::optional<int64_t> Find(int32_t object_id) const;
  int Count() const { return static_cast<int>(values_.size()); }
  void Clear() { values_.clear(); }

 private:
  std::vector<RzvSessionNamedObjectSequenceValue> values_;
};

}  // namespace rzv
