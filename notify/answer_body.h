// The body of the chat server's answer as text: which answers are read as
// text (by status and Content-Type), then gzip inflated and the declared
// charset decoded. UTF-8 and UTF-16/UTF-32 are read here, the same on both
// platforms; any other charset goes to the platform's converter (charset.h).
#pragma once

#include <string>

#include "platform/text.h"

namespace vantrel {

// The failure for bytes that are not valid in their charset (the Windows
// text of ERROR_NO_UNICODE_TRANSLATION), on both platforms.
inline constexpr char16_t kNoMappingMessage[] =
    u"No mapping for the Unicode character exists in the target multi-byte code page";

// A Content-Type value taken apart.
struct ContentTypeParts {
  std::string media;    // the value without its charset parameter
  std::string charset;  // that parameter's value, unquoted; empty when none
};
ContentTypeParts SplitContentType(const std::string& value);

// True when the body of an answer is read as text: from status 300 up
// always, whatever its type; below that only when it declares a charset or
// its media type begins with "text" or "application/json" (letter case
// ignored).
bool AnswerBodyIsText(int status, const ContentTypeParts& type);

// Decodes an answer body: inflated first when content_encoding is exactly
// "gzip", then decoded in charset (UTF-8 when empty). False, with text empty
// and the decoder's message, when that fails.
bool DecodeBody(const std::string& raw, const std::string& content_encoding, const std::string& charset, String& text,
                String& message);

// UTF-16 (unit_size 2) or UTF-32 (4) text in the given byte order; a leading
// byte-order mark overrides that order and is dropped. False (text empty)
// for a cut unit or a UTF-32 value that is no character.
bool DecodeUnicodeUnits(const std::string& bytes, std::size_t unit_size, bool big_endian, String& text);

}  // namespace vantrel
