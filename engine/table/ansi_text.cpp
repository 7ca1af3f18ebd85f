#include "engine/table/ansi_text.h"

#include <cstdint>

#include "engine/table/windows1252.h"

namespace rzv {

char RzvWideCharToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  // Only 0x80..0x9F differ from Latin-1.
  for (unsigned b = 0x80; b <= 0x9F; ++b) {
    if (Windows1252ToUtf16(static_cast<uint8_t>(b)) == c) return static_cast<char>(b);
  }
  return '?';
}

std::u16string RzvAnsiToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(Windows1252ToUtf16(static_cast<uint8_t>(c)));
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
