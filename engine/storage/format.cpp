#include "engine/storage/format.h"

#include <cstdio>

namespace rzv {

namespace {

bool IsFlag(char c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Formats one conversion with snprintf; conversion is the whole "%...c" text with the
// length modifier already chosen to match the value's C type.
template <typename T>
std::string FormatOne(const std::string& conversion, T value) {
  int n = std::snprintf(nullptr, 0, conversion.c_str(), value);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), conversion.c_str(), value);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

std::optional<std::string> RzvFormat(std::string_view tmpl, const std::vector<RzvFormatArg>& args) {
  std::string out;
  out.reserve(tmpl.size() + 16);
  size_t next_arg = 0;
  for (size_t i = 0; i < tmpl.size(); ++i) {
    char c = tmpl[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    size_t start = i++;
    if (i < tmpl.size() && tmpl[i] == '%') {
      out.push_back('%');
      continue;
    }
    while (i < tmpl.size() && IsFlag(tmpl[i])) ++i;
    while (i < tmpl.size() && IsDigit(tmpl[i])) ++i;
    if (i < tmpl.size() && tmpl[i] == '.') {
      ++i;
      while (i < tmpl.size() && IsDigit(tmpl[i])) ++i;
    }
    if (i >= tmpl.size()) return std::nullopt;
    char conv = tmpl[i];
    if (next_arg >= args.size()) return std::nullopt;
    const auto& v = args[next_arg++].value();
    std::string conversion(tmpl.substr(start, i - start));
    switch (conv) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        if (const auto* s = std::get_if<int64_t>(&v)) {
          char real = conv == 'i' ? 'd' : conv;
          if ((conv == 'x' || conv == 'X' || conv == 'u') && *s >= 0) {
            out += FormatOne(conversion + "ll" + real, static_cast<unsigned long long>(*s));
          } else if (conv == 'x' || conv == 'X') {
            // Negative values print as their 32-bit two's complement when they fit.
            uint64_t bits = *s >= INT32_MIN ? static_cast<uint32_t>(*s) : static_cast<uint64_t>(*s);
            out += FormatOne(conversion + "ll" + real, static_cast<unsigned long long>(bits));
          } else {
            out += FormatOne(conversion + "lld", static_cast<long long>(*s));
          }
        } else if (const auto* u = std::get_if<uint64_t>(&v)) {
          char real = (conv == 'd' || conv == 'i') ? 'u' : conv;
          out += FormatOne(conversion + "ll" + real, static_cast<unsigned long long>(*u));
        } else {
          return std::nullopt;
        }
        break;
      }
      case 'f':
      case 'e':
      case 'E':
      case 'g':
      case 'G': {
        double d;
        if (const auto* f = std::get_if<double>(&v)) {
          d = *f;
        } else if (const auto* s = std::get_if<int64_t>(&v)) {
          d = static_cast<double>(*s);
        } else if (const auto* u = std::get_if<uint64_t>(&v)) {
          d = static_cast<double>(*u);
        } else {
          return std::nullopt;
        }
        out += FormatOne(conversion + conv, d);
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) return std::nullopt;
        out += FormatOne(conversion + 's', s->c_str());
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace rzv
