// Single-byte engine text is windows-1252. These convert it to and from
// UTF-16 (wide text) by the code page's exact table: the five bytes the code
// page leaves unassigned map to the C1 controls of the same number, and
// characters outside the code page become '?'.
#pragma once

#include <string>
#include <string_view>

namespace rzv {

std::u16string RzvAnsiToWide(std::string_view text);
std::string RzvWideToAnsi(std::u16string_view text);

// One character; '?' when the code page lacks it.
char RzvWideCharToAnsi(char16_t c);

}  // namespace rzv
