// Numbers as text: the engine's reading of integers and floats (always with
// "." as the decimal separator, so stored texts read the same under every
// locale) and its writing of floats and currency in the system formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/table/system_formats.h"

namespace rzv {

// [blanks][+|-](digits | $hex | 0xhex)[blanks], within 64 bits.
bool RzvTryTextToInt64(std::string_view text, int64_t& value);
// [blanks][+|-]digits[<separator>digits][(e|E)[+|-]digits][blanks], or the
// same with no digits before the separator. Too large fails; too small is 0.
bool RzvTryTextToDouble(std::string_view text, char decimal_separator, double& value);

// Raise the system conversion error (kRzvConvertError) for unreadable text.
int64_t RzvTextToInt64(std::string_view text);
// Always "." as the decimal separator.
double RzvTextToFloat(std::string_view text);
// The system decimal separator; rounded to 4 decimal places.
double RzvTextToCurrency(std::string_view text, const RzvFormatSettings& settings);

// The general format: the shortest digits that read back as the same value,
// plain between 1E-4 and 1E15, otherwise with an exponent ("1.5E-5", "1E20");
// "NAN", "INF", "-INF" for the special values.
std::string RzvFloatToText(double value, const RzvFormatSettings& settings);
std::string RzvSingleToText(float value, const RzvFormatSettings& settings);
// Rounded to 4 decimal places, without trailing zeros ("10", "12.5").
std::string RzvCurrencyToText(double value, const RzvFormatSettings& settings);

}  // namespace rzv
