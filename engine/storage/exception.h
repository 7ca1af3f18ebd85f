// RzvException: every failure inside the engine. It carries a five-digit
// native error code beside its text; callers decide by the code, never by
// the text, which ends in " - Native error: " and the code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/format.h"

namespace rzv {

class RzvException : public std::runtime_error {
 public:
  // Plain message: text + " - Native error: " + code as "%.5d".
  RzvException(int32_t code, std::string_view message);

  // Formatted message: RzvFormat(tmpl, args) + " - Native error: " + code as
  // "%5d". When the arguments do not fit the template, the template followed
  // by " Arguments are invalid!" stands in for the formatted text.
  template <typename... Args>
  static RzvException Format(int32_t code, std::string_view tmpl, const Args&... args) {
    return RzvException(code, tmpl, std::vector<RzvFormatArg>{RzvFormatArg(args)...});
  }

  int32_t NativeError() const { return code_; }
  // The text without the native error suffix.
  const std::string& Message() const { return message_; }

 private:
  RzvException(int32_t code, std::string_view tmpl, const std::vector<RzvFormatArg>& args);
  RzvException(int32_t code, std::string message, std::string full);

  int32_t code_;
  std::string message_;
};

}  // namespace rzv
