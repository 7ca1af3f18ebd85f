#include "engine/table/meta_object_def.h"

#include "engine/storage/exception.h"

namespace rzv {

void RzvMetaObjectDef::SetName(std::string_view name) {
  if (name.size() > kMaxNameLength) {
    throw RzvException::Format(30515, "Object name '%s' is longer than %d characters", name,
                               static_cast<int>(kMaxNameLength));
  }
  name_ = name;
}

}  // namespace rzv
