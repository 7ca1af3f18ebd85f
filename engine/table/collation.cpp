#include "engine/table/collation.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/windows1252.h"

namespace rzv {

namespace {

UCollator* OpenCollator(const std::string& locale, UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* coll = ucol_open(locale == "root" ? "" : locale.c_str(), &status);
  if (U_FAILURE(status)) {
    if (coll != nullptr) ucol_close(coll);
    status = U_ZERO_ERROR;
    coll = ucol_open("", &status);
    if (U_FAILURE(status)) {
      if (coll != nullptr) ucol_close(coll);
      throw RzvException(
          30511,
          "Unicode is not supported by your Windows. Please download Microsoft Layer for Unicode on Windows 95/98/Me Systems from msdn.microsoft.com and put \"unicows.dll\" file to the folder with your application");
    }
  }
  // Punctuation and symbols take part in the order (string sort).
  ucol_setAttribute(coll, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(coll, UCOL_STRENGTH, strength, &status);
  return coll;
}

struct CollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

int Order(UCollationResult r) {
  switch (r) {
    case UCOL_LESS:
      return -1;
    case UCOL_EQUAL:
      return 0;
    case UCOL_GREATER:
      return 1;
  }
  throw RzvException::Format(30509, "Unknown return code: %d", static_cast<int>(r));
}

// Simple case folding, code point by code point, into out (which has room
// for as many units as the input: simple folding keeps each code point in
// its plane).
int32_t FoldCase(const char16_t* in, int32_t n, char16_t* out) {
  int32_t i = 0;
  int32_t j = 0;
  while (i < n) {
    UChar32 c;
    U16_NEXT(in, i, n, c);
    UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    if (U16_LENGTH(f) != U16_LENGTH(c)) f = c;
    U16_APPEND_UNSAFE(out, j, f);
  }
  return j;
}

// Text of at most kInline units lives on the stack.
class Utf16Buffer {
 public:
  static constexpr int32_t kInline = 128;
  char16_t* Reserve(int32_t n) {
    if (n <= kInline) return inline_;
    heap_.resize(static_cast<size_t>(n));
    return heap_.data();
  }

 private:
  char16_t inline_[kInline];
  std::u16string heap_;
};

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;

// Word operations on eight characters below 0x80 each; no sum carries from
// one byte into the next.
uint64_t LowerAsciiLetters(uint64_t x) {
  uint64_t from_a = (x + 0x3F * kOnes) & kHighBits;  // byte >= 'A'
  uint64_t past_z = (x + 0x25 * kOnes) & kHighBits;  // byte > 'Z'
  return x | ((from_a & ~past_z) >> 2);
}
bool HasControl(uint64_t x) {  // a byte below 0x20, or 0x7F
  return ((~(x + 0x60 * kOnes) | (x + kOnes)) & kHighBits) != 0;
}
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::mutex& DefaultMutex() {
  static std::mutex m;
  return m;
}
// Every collator ever published stays alive: callers may hold references.
std::vector<std::unique_ptr<RzvCollator>>& Published() {
  static std::vector<std::unique_ptr<RzvCollator>> list;
  return list;
}

const char* EnvLocale() {
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return v;
  }
  return "C";
}

}  // namespace

RzvCollator::RzvCollator(const std::string& icu_locale)
    : locale_(icu_locale.empty() ? "root" : icu_locale),
      collator_(OpenCollator(locale_, UCOL_TERTIARY)) {
  for (int b = 0; b < 256; ++b) {
    char16_t c = Windows1252ToUtf16(static_cast<uint8_t>(b));
    ansi_to_utf16_[0][b] = c;
    UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    ansi_to_utf16_[1][b] = U16_LENGTH(folded) == 1 ? static_cast<char16_t>(folded) : c;
  }
  BuildAsciiTables();
}

RzvCollator::~RzvCollator() {
  ucol_close(collator_);
}

std::string RzvCollator::IcuLocaleFromPosix(std::string_view posix_locale) {
  std::string_view name = posix_locale.substr(0, posix_locale.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return "root";
  return std::string(name);
}

std::atomic<const RzvCollator*> RzvCollator::default_{nullptr};

const RzvCollator& RzvCollator::InitDefault() {
  std::lock_guard<std::mutex> lock(DefaultMutex());
  const RzvCollator* c = default_.load(std::memory_order_acquire);
  if (c == nullptr) {
    Published().push_back(std::make_unique<RzvCollator>(IcuLocaleFromPosix(EnvLocale())));
    c = Published().back().get();
    default_.store(c, std::memory_order_release);
  }
  return *c;
}

void RzvCollator::SetDefaultLocale(std::string_view posix_locale) {
  auto coll = std::make_unique<RzvCollator>(IcuLocaleFromPosix(posix_locale));
  std::lock_guard<std::mutex> lock(DefaultMutex());
  Published().push_back(std::move(coll));
  default_.store(Published().back().get(), std::memory_order_release);
}

void RzvCollator::BuildAsciiTables() {
  UErrorCode status = U_ZERO_ERROR;
  // Any contraction or expansion among ASCII characters (e.g. "ch" in Czech)
  // breaks the one-character-one-element assumption.
  USet* contractions = uset_openEmpty();
  USet* expansions = uset_openEmpty();
  ucol_getContractionsAndExpansions(collator_, contractions, expansions, true, &status);
  USet* ascii = uset_open(1, 0x7F);
  bool simple = U_SUCCESS(status) && !uset_containsSome(expansions, ascii);
  uset_close(ascii);
  if (simple) {
    for (int32_t k = 0; k < uset_getItemCount(contractions) && simple; ++k) {
      UChar32 start, end;
      UChar str[64];
      int32_t len = uset_getItem(contractions, k, &start, &end, str, 64, &status);
      if (U_FAILURE(status)) {
        simple = false;
        break;
      }
      if (len == 0) {
        simple = start >= 0x80;
        continue;
      }
      bool all_ascii = true;
      for (int32_t i = 0; i < len; ++i) all_ascii = all_ascii && str[i] < 0x80;
      if (all_ascii) simple = false;
    }
  }
  uset_close(contractions);
  uset_close(expansions);
  if (!simple) return;

  CollatorPtr primary(OpenCollator(locale_, UCOL_PRIMARY));
  CollatorPtr secondary(OpenCollator(locale_, UCOL_SECONDARY));
  auto cmp = [](UCollator* c, char16_t x, char16_t y) { return ucol_strcoll(c, &x, 1, &y, 1); };

  // Primary ranks: sort the non-ignorable characters by primary weight.
  // Rank 0 marks an ignorable character, which leaves the comparison to ICU.
  uint16_t primary_rank[128] = {};
  uint8_t tertiary_rank[128] = {};
  std::vector<char16_t> chars;
  for (char16_t c = 1; c < 128; ++c) {
    char16_t one = c;
    if (ucol_strcoll(collator_, &one, 1, nullptr, 0) == UCOL_EQUAL) continue;  // ignorable
    if (ucol_strcoll(primary.get(), &one, 1, nullptr, 0) == UCOL_EQUAL) return;
    chars.push_back(c);
  }
  std::stable_sort(chars.begin(), chars.end(),
                   [&](char16_t x, char16_t y) { return cmp(primary.get(), x, y) == UCOL_LESS; });
  uint16_t rank = 0;
  for (size_t i = 0; i < chars.size(); ++i) {
    if (i == 0 || cmp(primary.get(), chars[i - 1], chars[i]) != UCOL_EQUAL) ++rank;
    primary_rank[chars[i]] = rank;
  }
  // Tertiary ranks within each primary group; a secondary difference inside
  // a group is not modelled by the tables.
  for (size_t begin = 0; begin < chars.size();) {
    size_t end = begin;
    while (end < chars.size() && primary_rank[chars[end]] == primary_rank[chars[begin]]) ++end;
    std::stable_sort(chars.begin() + static_cast<ptrdiff_t>(begin),
                     chars.begin() + static_cast<ptrdiff_t>(end),
                     [&](char16_t x, char16_t y) { return cmp(collator_, x, y) == UCOL_LESS; });
    uint8_t t = 0;
    for (size_t i = begin; i < end; ++i) {
      if (cmp(secondary.get(), chars[begin], chars[i]) != UCOL_EQUAL) return;
      if (i == begin || cmp(collator_, chars[i - 1], chars[i]) != UCOL_EQUAL) ++t;
      tertiary_rank[chars[i]] = t;
    }
    begin = end;
  }
  for (int c = 1; c < 128; ++c) {
    if (primary_rank[c] != 0) {
      const uint8_t folded = tertiary_rank[u_foldCase(c, U_FOLD_CASE_DEFAULT)];
      keys_[0][c] = static_cast<uint16_t>(primary_rank[c] << 8 | tertiary_rank[c]);
      keys_[1][c] = static_cast<uint16_t>(primary_rank[c] << 8 | folded);
    }
  }

  bool words = true;
  for (char c = 0x20; c < 0x7F && words; ++c) {
    words = primary_rank[static_cast<int>(c)] != 0;
    for (char d = 0x20; d < 0x7F && words; ++d) {
      bool same_primary = primary_rank[static_cast<int>(c)] == primary_rank[static_cast<int>(d)];
      words = same_primary == (AsciiLower(c) == AsciiLower(d));
    }
  }
  for (int c = 'A'; c <= 'Z' && words; ++c) {
    words = keys_[0][c] != keys_[0][c + 32] && keys_[1][c] == keys_[1][c + 32];
  }

  // The tables must reproduce the collator on every pair of characters and
  // on a spread of short and longer strings, with and without case.
  ascii_tables_ = true;
  ascii_words_ = words;
  std::vector<std::u16string> samples;
  for (char16_t c : chars) samples.push_back(std::u16string(1, c));
  for (char16_t c : u"aAbZz09 -'_.") {
    if (c == 0) continue;
    for (char16_t d : u"aAbBzZ19 -'.,") {
      if (d != 0) samples.push_back(std::u16string{c, d});
    }
  }
  for (const char16_t* text : {u"Orvanel entry 042", u"ORVANEL entry 047", u"orvanel Entry 042",
                               u"Orvanel entry 04", u"Orvanel-entry 042", u"Orvanel entrz 042",
                               u"Orvanel entry 042 and more", u"Orvanel\tentry 042"}) {
    samples.push_back(text);
  }
  for (const auto& x : samples) {
    for (const auto& y : samples) {
      for (bool ci : {false, true}) {
        int expected = CompareIcu(x.data(), static_cast<int32_t>(x.size()), y.data(),
                                  static_cast<int32_t>(y.size()), ci);
        int fast = 0;
        CompareAscii(x.c_str(), y.c_str(), -1, ci, &fast);
        if (fast != expected) {
          ascii_tables_ = false;
          ascii_words_ = false;
          return;
        }
        std::string nx(x.begin(), x.end());
        std::string ny(y.begin(), y.end());
        if (ascii_words_ &&
            (!CompareAsciiWords(reinterpret_cast<const uint8_t*>(nx.c_str()),
                                reinterpret_cast<const uint8_t*>(ny.c_str()), -1, ci, &fast) ||
             fast != expected)) {
          ascii_words_ = false;
        }
      }
    }
  }
}

// The weights of single ASCII characters decide when both texts are pure
// ASCII without ignorable characters: the first differing primary rank
// decides, else the first differing tertiary rank. Returns false when the
// text needs the collator.
template <typename Unit>
bool RzvCollator::CompareAscii(const Unit* a, const Unit* b, int32_t length, bool ignore_case,
                               int* result, uint32_t i, int tie) const {
  const uint16_t* keys = keys_[ignore_case ? 1 : 0];
  auto key = [keys](uint32_t c) -> uint32_t {
    if constexpr (sizeof(Unit) == 1) {
      return keys[c];
    } else {
      return c < 256 ? keys[c] : 0;
    }
  };
  const uint32_t n = static_cast<uint32_t>(length);  // -1: no limit
  for (; i != n; ++i) {
    uint32_t ca = a[i];
    uint32_t cb = b[i];
    if (ca == cb) {
      // The same ASCII character on both sides adds the same weights (none
      // for an ignorable one) to both texts.
      if (ca - 1 < 0x7F) continue;
      if (ca == 0) break;
      return false;
    }
    uint32_t ka = key(ca);
    uint32_t kb = key(cb);
    if (ka != 0 && kb != 0) {
      if ((ka ^ kb) >> 8) {
        *result = ka < kb ? -1 : 1;
        return true;
      }
      if (tie == 0 && ka != kb) tie = ka < kb ? -1 : 1;
      continue;
    }
    // A terminator, an ignorable character or one outside ASCII: a text that
    // ends where the other goes on with a weight is the smaller one.
    if (ca == 0 && kb != 0) {
      *result = -1;
      return true;
    }
    if (cb == 0 && ka != 0) {
      *result = 1;
      return true;
    }
    return false;
  }
  *result = tie;
  return true;
}

// Eight characters at a time while both texts go on: identical words are
// skipped; in a differing word the first byte whose lower-case forms differ
// decides at the primary level, and a byte before it that differs only in
// case decides the tertiary tie. Words with controls, and the rest of the
// texts, go through CompareAscii.
bool RzvCollator::CompareAsciiWords(const uint8_t* a, const uint8_t* b, int32_t length,
                                    bool ignore_case, int* result) const {
  const auto* sa = reinterpret_cast<const char*>(a);
  const auto* sb = reinterpret_cast<const char*>(b);
  size_t la = length < 0 ? std::strlen(sa) : strnlen(sa, static_cast<size_t>(length));
  size_t lb = length < 0 ? std::strlen(sb) : strnlen(sb, static_cast<size_t>(length));
  size_t m = std::min(la, lb);
  const uint16_t* keys = keys_[ignore_case ? 1 : 0];
  int tie = 0;
  size_t i = 0;
  for (; i + 8 <= m; i += 8) {
    uint64_t wa = LoadLE<uint64_t>(a + i);
    uint64_t wb = LoadLE<uint64_t>(b + i);
    if (((wa | wb) & kHighBits) != 0) return false;
    if (wa == wb) continue;
    if (HasControl(wa) || HasControl(wb)) break;
    uint64_t primary = LowerAsciiLetters(wa) ^ LowerAsciiLetters(wb);
    unsigned first = static_cast<unsigned>(std::countr_zero(wa ^ wb)) / 8;
    unsigned first_primary =
        primary != 0 ? static_cast<unsigned>(std::countr_zero(primary)) / 8 : 8;
    if (tie == 0 && first < first_primary) {
      uint32_t ka = keys[a[i + first]];
      uint32_t kb = keys[b[i + first]];
      if (ka != kb) tie = ka < kb ? -1 : 1;
    }
    if (primary != 0) {
      *result = keys[a[i + first_primary]] < keys[b[i + first_primary]] ? -1 : 1;
      return true;
    }
  }
  return CompareAscii(a, b, length, ignore_case, result, static_cast<uint32_t>(i), tie);
}

int RzvCollator::CompareIcu(const char16_t* a, int32_t la, const char16_t* b, int32_t lb,
                            bool ignore_case) const {
  if (ignore_case) {
    Utf16Buffer fa, fb;
    char16_t* pa = fa.Reserve(la);
    char16_t* pb = fb.Reserve(lb);
    la = FoldCase(a, la, pa);
    lb = FoldCase(b, lb, pb);
    return Order(ucol_strcoll(collator_, pa, la, pb, lb));
  }
  return Order(ucol_strcoll(collator_, a, la, b, lb));
}

int RzvCollator::CompareAnsi(const uint8_t* a, const uint8_t* b, int32_t length,
                             bool ignore_case) const {
  int result = 0;
  if (ascii_words_ ? CompareAsciiWords(a, b, length, ignore_case, &result)
                   : ascii_tables_ && CompareAscii(a, b, length, ignore_case, &result)) {
    return result;
  }
  return CompareAnsiIcu(a, b, length, ignore_case);
}

int RzvCollator::CompareAnsiIcu(const uint8_t* a, const uint8_t* b, int32_t length,
                                bool ignore_case) const {
  auto text_length = [length](const uint8_t* s) {
    int32_t n = 0;
    while ((length < 0 || n < length) && s[n] != 0) ++n;
    return n;
  };
  int32_t la = text_length(a);
  int32_t lb = text_length(b);
  // Converted and, when asked, case-folded in one table lookup per byte.
  const char16_t* table = ansi_to_utf16_[ignore_case ? 1 : 0];
  Utf16Buffer wa, wb;
  char16_t* pa = wa.Reserve(la);
  char16_t* pb = wb.Reserve(lb);
  for (int32_t i = 0; i < la; ++i) pa[i] = table[a[i]];
  for (int32_t i = 0; i < lb; ++i) pb[i] = table[b[i]];
  return Order(ucol_strcoll(collator_, pa, la, pb, lb));
}

int RzvCollator::CompareWide(const uint8_t* a, const uint8_t* b, int32_t length,
                             bool ignore_case) const {
  auto text_length = [length](const uint8_t* s) {
    int32_t n = 0;
    while ((length < 0 || n < length) && (s[2 * n] | s[2 * n + 1]) != 0) ++n;
    return n;
  };
  int32_t la = text_length(a);
  int32_t lb = text_length(b);
  Utf16Buffer wa, wb;
  char16_t* pa = wa.Reserve(la + 1);
  char16_t* pb = wb.Reserve(lb + 1);
  for (int32_t i = 0; i < la; ++i) pa[i] = LoadLE<uint16_t>(a + 2 * i);
  for (int32_t i = 0; i < lb; ++i) pb[i] = LoadLE<uint16_t>(b + 2 * i);
  pa[la] = 0;
  pb[lb] = 0;
  int result = 0;
  if (ascii_tables_ && CompareAscii(pa, pb, -1, ignore_case, &result)) return result;
  return CompareIcu(pa, la, pb, lb, ignore_case);
}

int RzvCollator::CompareUtf16(std::u16string_view a, std::u16string_view b,
                              bool ignore_case) const {
  return CompareIcu(a.data(), static_cast<int32_t>(a.size()), b.data(),
                    static_cast<int32_t>(b.size()), ignore_case);
}

}  // namespace rzv
