// Answer text in a declared charset other than UTF-8, UTF-16 and UTF-32,
// decoded by the platform's own converter: iconv on Linux; on Windows the
// code page that the system's charset table (MLang) gives for the name.
#pragma once

#include <string>

#include "platform/text.h"

namespace vantrel {

// Decodes bytes declared in the named charset (letter case ignored). False,
// with text empty and message set, when the platform knows no such charset
// ("Unknown charset: " and the name) or the bytes are not valid in it
// (kNoMappingMessage).
bool DecodeCharset(const std::string& bytes, const std::string& charset, String& text, String& message);

}  // namespace vantrel
