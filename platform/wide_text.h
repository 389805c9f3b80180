// The program's UTF-16 text as the Windows API's wide strings and back; both
// are UTF-16, so these only change the character type. Windows only.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace vantrel {

inline const wchar_t* Wide(const String& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline String FromWide(const wchar_t* text, std::size_t length) {
  return String(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace vantrel
