// The raw comparison of two field values in their record encodings, which
// index keys and searches rely on. NULL is the smallest value.
#pragma once

#include <cstdint>

#include "engine/table/field_types.h"

namespace rzv {

// Compares value1 (of storage type type1) with value2 (of type2) and returns
// -1, 0 or 1. When either null flag is set the flags alone decide. Texts
// compare by the process-wide collator (RzvCollator::Default()), ignoring
// case only when case_insensitive is set, each up to its terminator or over
// length characters when length is not -1. Values of different types, and
// MEMO / WIDEMEMO texts, are compared in their common type; BLOB and VARBYTES
// values cannot be compared.
int CompareFieldValues(const void* value1, const void* value2, RzvStorageType type1,
                       RzvStorageType type2, bool case_insensitive, int32_t length, bool null1,
                       bool null2);

}  // namespace rzv
