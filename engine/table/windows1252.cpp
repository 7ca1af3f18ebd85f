#include "engine/table/windows1252.h"

#include <unicode/uchar.h>

#include <array>

namespace rzv {

namespace {

// 0x80..0x9F; 0xA0..0xFF equal their Latin-1 code points.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct UpperTable {
  std::array<uint8_t, 256> upper;
  UpperTable() {
    for (int b = 0; b < 256; ++b) upper[b] = static_cast<uint8_t>(b);
    for (int b = 0; b < 256; ++b) {
      UChar32 up = u_toupper(Windows1252ToUtf16(static_cast<uint8_t>(b)));
      for (int c = 0; c < 256; ++c) {
        if (Windows1252ToUtf16(static_cast<uint8_t>(c)) == up) {
          upper[b] = static_cast<uint8_t>(c);
          break;
        }
      }
    }
  }
};

const UpperTable& Upper() {
  static const UpperTable table;
  return table;
}

}  // namespace

char16_t Windows1252ToUtf16(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

uint8_t Windows1252Upper(uint8_t byte) {
  return Upper().upper[byte];
}

std::string UpperObjectName(std::string_view name) {
  const auto& table = Upper().upper;
  std::string result(name);
  for (char& c : result) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
  return result;
}

bool SameObjectName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto& table = Upper().upper;
  for (size_t i = 0; i < a.size(); ++i) {
    if (table[static_cast<uint8_t>(a[i])] != table[static_cast<uint8_t>(b[i])]) return false;
  }
  return true;
}

}  // namespace rzv
