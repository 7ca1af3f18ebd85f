// RzvMetaObjectDef: what every named schema object (field, index, constraint)
// has: a name, compared case-insensitively, and the ObjectID the database
// assigns. RzvMetaObjectDefs<T> is an ordered list of such objects whose
// position is the object's number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/table/windows1252.h"

namespace rzv {

class RzvMetaObjectDef {
 public:
  // Names are persisted with a one-byte length.
  static constexpr size_t kMaxNameLength = 255;

  RzvMetaObjectDef() = default;
  virtual ~RzvMetaObjectDef() = default;
  RzvMetaObjectDef(const RzvMetaObjectDef&) = default;
  RzvMetaObjectDef& operator=(const RzvMetaObjectDef&) = default;

  const std::string& Name() const { return name_; }
  // Raises when name is longer than kMaxNameLength; the name is unchanged then.
  void SetName(std::string_view name);
  int32_t ObjectID() const { return object_id_; }
  void SetObjectID(int32_t id) { object_id_ = id; }

 private:
  std::string name_;
  int32_t object_id_ = -1;  // -1 until the database assigns one
};

template <typename T>
class RzvMetaObjectDefs {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const T& Item(int n) const { return items_[static_cast<size_t>(n)]; }
  T& Item(int n) { return items_[static_cast<size_t>(n)]; }
  const T& operator[](int n) const { return Item(n); }

  // Number of the first object whose name matches, or -1.
  int FindByName(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (SameObjectName(items_[i].Name(), name)) return static_cast<int>(i);
    }
    return -1;
  }
  int FindByObjectID(int32_t id) const {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].ObjectID() == id) return static_cast<int>(i);
    }
    return -1;
  }

 protected:
  std::vector<T> items_;
};

}  // namespace rzv
