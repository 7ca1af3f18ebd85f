#include "engine/storage/exception.h"

#include <cstdio>

namespace rzv {

namespace {

constexpr std::string_view kNativeError = " - Native error: ";

std::string CodeText(const char* fmt, int32_t code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, fmt, static_cast<int>(code));
  return buf;
}

std::string FormattedText(std::string_view tmpl, const std::vector<RzvFormatArg>& args) {
  if (auto text = RzvFormat(tmpl, args)) return *text;
  return std::string(tmpl) + " Arguments are invalid!";
}

}  // namespace

RzvException::RzvException(int32_t code, std::string_view message)
    : RzvException(code, std::string(message),
                   std::string(message) + std::string(kNativeError) + CodeText("%.5d", code)) {}

RzvException::RzvException(int32_t code, std::string_view tmpl,
                           const std::vector<RzvFormatArg>& args)
    : RzvException(code, FormattedText(tmpl, args), std::string()) {}

RzvException::RzvException(int32_t code, std::string message, std::string full)
    : std::runtime_error(full.empty() ? message + std::string(kNativeError) + CodeText("%5d", code)
                                      : full),
      code_(code),
      message_(std::move(message)) {}

}  // namespace rzv
