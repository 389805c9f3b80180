// The program's failures are exceptions carrying a UTF-16 message, the text
// that the tick handler and the host write out.
#pragma once

#include <exception>
#include <string>

#include "platform/text.h"

namespace vantrel {

class Exception : public std::exception {
 public:
  explicit Exception(String message) : message_(std::move(message)), what_(ToUtf8(message_)) {}

  // The message as the program writes it out.
  const String& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  String message_;
  std::string what_;
};

}  // namespace vantrel
