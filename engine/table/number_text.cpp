#include "engine/table/number_text.h"

#include <charconv>
#include <cmath>

#include "engine/storage/exception.h"

namespace rzv {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Lays out shortest scientific digits ("d.ddde±x" from to_chars) in the
// general format.
std::string GeneralFormat(std::string_view sci, char separator) {
  std::string out;
  if (!sci.empty() && sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (IsDigit(c)) digits += c;
  }
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") return "0";
  const int n = static_cast<int>(digits.size());
  if (exponent >= -4 && exponent <= 14) {
    if (exponent < 0) {
      out += '0';
      out += separator;
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out += digits;
    } else if (exponent + 1 >= n) {
      out += digits;
      out.append(static_cast<size_t>(exponent + 1 - n), '0');
    } else {
      out += digits.substr(0, static_cast<size_t>(exponent + 1));
      out += separator;
      out += digits.substr(static_cast<size_t>(exponent + 1));
    }
    return out;
  }
  out += digits[0];
  if (n > 1) {
    out += separator;
    out += digits.substr(1);
  }
  out += 'E';
  out += std::to_string(exponent);
  return out;
}

template <typename T>
std::string ToText(T value, const RzvFormatSettings& settings) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  return GeneralFormat(std::string_view(buf, static_cast<size_t>(r.ptr - buf)),
                       settings.decimal_separator);
}

}  // namespace

bool RzvTryTextToInt64(std::string_view text, int64_t& value) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  uint64_t magnitude = 0;
  if (s.front() == '$' || (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))) {
    s.remove_prefix(s.front() == '$' ? 1 : 2);
    if (s.empty() || s.size() > 16) return false;
    for (char c : s) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      magnitude = magnitude << 4 | static_cast<uint64_t>(d);
    }
    // Hexadecimal gives the bit pattern.
    value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
  }
  for (char c : s) {
    if (!IsDigit(c)) return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (magnitude > (UINT64_MAX - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool RzvTryTextToDouble(std::string_view text, char decimal_separator, double& value) {
  const std::string_view s = Trim(text);
  std::string normal;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') normal += '-';
    ++i;
  }
  size_t mantissa_digits = 0;
  while (i < s.size() && IsDigit(s[i])) normal += s[i++], ++mantissa_digits;
  if (i < s.size() && s[i] == decimal_separator) {
    normal += '.';
    ++i;
    while (i < s.size() && IsDigit(s[i])) normal += s[i++], ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  bool negative_exponent = false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      negative_exponent = s[i] == '-';
      normal += s[i++];
    }
    if (i == s.size() || !IsDigit(s[i])) return false;
    while (i < s.size() && IsDigit(s[i])) normal += s[i++];
  }
  if (i != s.size()) return false;
  double v = 0;
  const char* first = normal.data() + (normal.front() == '-' ? 1 : 0);
  const auto r = std::from_chars(first, normal.data() + normal.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    if (!negative_exponent) return false;
    v = 0;
  } else if (r.ec != std::errc() || r.ptr != normal.data() + normal.size()) {
    return false;
  }
  value = normal.front() == '-' ? -v : v;
  return true;
}

int64_t RzvTextToInt64(std::string_view text) {
  int64_t v = 0;
  if (!RzvTryTextToInt64(text, v)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid integer value", text);
  }
  return v;
}

double RzvTextToFloat(std::string_view text) {
  double v = 0;
  if (!RzvTryTextToDouble(text, '.', v)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid floating point value", text);
  }
  return v;
}

double RzvTextToCurrency(std::string_view text, const RzvFormatSettings& settings) {
  double v = 0;
  if (!RzvTryTextToDouble(text, settings.decimal_separator, v)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid floating point value", text);
  }
  return std::round(v * 10000) / 10000;
}

std::string RzvFloatToText(double value, const RzvFormatSettings& settings) {
  return ToText(value, settings);
}

std::string RzvSingleToText(float value, const RzvFormatSettings& settings) {
  return ToText(value, settings);
}

std::string RzvCurrencyToText(double value, const RzvFormatSettings& settings) {
  if (!std::isfinite(value)) return ToText(value, settings);
  // to_chars, unlike printf, ignores the C locale's decimal point.
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 4);
  std::string s(buf, static_cast<size_t>(r.ptr - buf));
  const size_t dot = s.find('.');
  if (dot != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.')
      s.pop_back();
    else
      s[dot] = settings.decimal_separator;
  }
  if (s == "-0") return "0";
  return s;
}

}  // namespace rzv
