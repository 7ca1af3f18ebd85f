#include "engine/table/ansi_text.h"

#include <array>
#include <cstdint>

namespace rzv {

namespace {

// Bytes 0x80..0x9F; every other byte is the Latin-1 code point of its value.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char16_t AnsiCharToWide(unsigned char c) {
  return c >= 0x80 && c <= 0x9F ? kHighControls[c - 0x80] : static_cast<char16_t>(c);
}

}  // namespace

char RzvWideCharToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::u16string RzvAnsiToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(AnsiCharToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string RzvWideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // A surrogate pair is one character outside the code page.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    out.push_back(RzvWideCharToAnsi(c));
  }
  return out;
}

}  // namespace rzv
