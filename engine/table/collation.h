// RzvCollator: the locale-aware string order that field comparisons and
// indexes use: an ICU collator for one locale with punctuation not ignored
// (string-sort semantics). Ignoring case ignores letter case and nothing
// else: both sides are case-folded and then compared at full strength.
// Single-byte text is windows-1252.
//
// Pure-ASCII text, the bulk of what tables hold, is compared through tables
// of per-character weights taken from the collator itself when it opens;
// the tables are used only when the locale maps every ASCII character to a
// single collation element (no contraction or expansion among them) and a
// check against the collator over all character pairs agrees.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct UCollator;

namespace rzv {

class RzvCollator {
 public:
  // icu_locale is an ICU locale id; "" or "root" is the root locale.
  explicit RzvCollator(const std::string& icu_locale);
  ~RzvCollator();
  RzvCollator(const RzvCollator&) = delete;
  RzvCollator& operator=(const RzvCollator&) = delete;

  // The process-wide collator of the user's collation locale (LC_ALL,
  // LC_COLLATE, LANG; the root locale for C and POSIX). Lock-free after the
  // first call; the returned collator lives until the process ends.
  static const RzvCollator& Default() {
    const RzvCollator* c = default_.load(std::memory_order_acquire);
    return c != nullptr ? *c : InitDefault();
  }
  // Replaces the process-wide collator with one for a POSIX locale name such
  // as "en_US.UTF-8" or "C" (tests and benchmarks).
  static void SetDefaultLocale(std::string_view posix_locale);
  // "de_DE.UTF-8@euro" -> "de_DE"; "C", "POSIX", "C.UTF-8" and "" -> "root".
  static std::string IcuLocaleFromPosix(std::string_view posix_locale);

  // Single-byte text, each side read up to its zero terminator or up to
  // length characters when length is not -1. Returns the collator's result:
  // -1, 0 or 1.
  int CompareAnsi(const uint8_t* a, const uint8_t* b, int32_t length, bool ignore_case) const;
  // Little-endian UTF-16 text at any alignment, up to a zero unit or length
  // units.
  int CompareWide(const uint8_t* a, const uint8_t* b, int32_t length, bool ignore_case) const;
  int CompareUtf16(std::u16string_view a, std::u16string_view b, bool ignore_case) const;

  const std::string& Locale() const { return locale_; }
  bool HasAsciiTables() const { return ascii_tables_; }
  bool HasAsciiWords() const { return ascii_words_; }

 private:
  // i and tie resume a comparison whose first i characters are settled.
  template <typename Unit>
  bool CompareAscii(const Unit* a, const Unit* b, int32_t length, bool ignore_case, int* result,
                    uint32_t i = 0, int tie = 0) const;
  bool CompareAsciiWords(const uint8_t* a, const uint8_t* b, int32_t length, bool ignore_case,
                         int* result) const;
  static const RzvCollator& InitDefault();
  int CompareAnsiIcu(const uint8_t* a, const uint8_t* b, int32_t length, bool ignore_case) const;
  int CompareIcu(const char16_t* a, int32_t la, const char16_t* b, int32_t lb,
                 bool ignore_case) const;
  void BuildAsciiTables();

  static std::atomic<const RzvCollator*> default_;

  std::string locale_;
  UCollator* collator_ = nullptr;
  bool ascii_tables_ = false;
  // Printable ASCII characters share a primary weight exactly when they are
  // the same letter in either case, and the two cases differ at the
  // tertiary level: then eight characters at a time can be settled with
  // word operations.
  bool ascii_words_ = false;
  // Per byte: primary rank << 8 | tertiary rank, [1] after case folding. 0
  // for the terminator, ignorable characters and bytes above 0x7F. The
  // primary rank is the dense rank of the character's primary weight; the
  // tertiary rank is that of its tertiary weight among the characters of
  // equal primary weight.
  uint16_t keys_[2][256] = {};
  // UTF-16 of each windows-1252 byte, [1] case-folded.
  char16_t ansi_to_utf16_[2][256] = {};
};

}  // namespace rzv
