#include <cstring>

#include "platform/system_text.h"

namespace vantrel {

String SystemErrorText(std::uint32_t code) {
  char buffer[256] = {};
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return TrimSystemText(FromUtf8(text ? text : ""));
}

}  // namespace vantrel
