// RzvFormat: printf-style formatting of message templates with typed,
// checked arguments. Unlike snprintf it never reads an argument that was not
// given, so a template that asks for more than it gets is reported, not run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace rzv {

// One argument of a message: integers, floating point values and text.
class RzvFormatArg {
 public:
  template <typename T>
    requires std::is_integral_v<T> || std::is_enum_v<T>
  RzvFormatArg(T v) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_enum_v<T>) {
      value_ = static_cast<int64_t>(v);
    } else if constexpr (std::is_signed_v<T>) {
      value_ = static_cast<int64_t>(v);
    } else {
      value_ = static_cast<uint64_t>(v);
    }
  }
  RzvFormatArg(double v) : value_(v) {}            // NOLINT(google-explicit-constructor)
  RzvFormatArg(const char* v) : value_(std::string(v ? v : "")) {}  // NOLINT
  RzvFormatArg(std::string_view v) : value_(std::string(v)) {}      // NOLINT
  RzvFormatArg(const std::string& v) : value_(v) {}                  // NOLINT

  const std::variant<int64_t, uint64_t, double, std::string>& value() const { return value_; }

 private:
  std::variant<int64_t, uint64_t, double, std::string> value_;
};

// Formats tmpl with args. Supported conversions: %d %i %u %x %X %s %f %e %g %%
// with the usual flags, width and precision. Returns nullopt when the template
// is malformed, asks for an argument of another kind, or asks for more
// arguments than there are.
std::optional<std::string> RzvFormat(std::string_view tmpl, const std::vector<RzvFormatArg>& args);

}  // namespace rzv
