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

// The message of the exception being handled; call only inside a catch
// block. Failures that are not the program's own give their what() text, or
// "Unknown error" when they carry none.
inline String CurrentFailureMessage() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return u"Unknown error";
  }
}

}  // namespace vantrel
