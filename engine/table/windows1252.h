// Single-byte text in the engine is windows-1252. These tables map its bytes
// to UTF-16 and give the upper-case byte used for case-insensitive names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rzv {

// UTF-16 code unit of a windows-1252 byte. The five bytes the code page
// leaves undefined map to the C1 control of the same value, as Windows does.
char16_t Windows1252ToUtf16(uint8_t byte);

// Upper-case form of a windows-1252 letter, when that form is itself in the
// code page (e.g. 0x9A 's caron' -> 0x8A); other bytes map to themselves.
uint8_t Windows1252Upper(uint8_t byte);

// Engine object names compare case-insensitively in the upper-cased form.
std::string UpperObjectName(std::string_view name);
bool SameObjectName(std::string_view a, std::string_view b);

}  // namespace rzv
