// Locale-aware string order for values: an ICU collator of the user's
// collation locale (LC_ALL, LC_COLLATE, LANG; the root locale for C and
// POSIX) with string-sort semantics, i.e. punctuation is not ignored. The
// case-insensitive order differs from the other only in letter case.
#pragma once

#include <string_view>

namespace rzv {

class RzvStringCollator {
 public:
  // -1, 0 or 1. Safe to call from any thread.
  static int Compare(std::u16string_view a, std::u16string_view b, bool case_insensitive);
  // Single-byte (windows-1252) text.
  static int CompareAnsi(std::string_view a, std::string_view b, bool case_insensitive);
};

}  // namespace rzv
