// Text as the program holds it: UTF-16 strings, as the Windows API speaks,
// with conversions to and from UTF-8 at the edges that need bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

using String = std::u16string;

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-8 form of s; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view s);

// UTF-16 form of UTF-8 text; an invalid sequence becomes U+FFFD.
String FromUtf8(std::string_view s);

// UTF-16 form of strictly valid UTF-8 text; false (and out empty) when any
// sequence is invalid.
bool TryFromUtf8(std::string_view s, String& out);

// Appends the UTF-8 bytes of one code point.
void AppendUtf8(std::string& out, char32_t code_point);

// The longest start of s whose UTF-8 form takes at most max_bytes, cut
// between characters (never inside a surrogate pair).
String CutToUtf8Size(const String& s, std::size_t max_bytes);

// Decimal text of a signed integer, with a leading "-" when negative.
String IntToStr(std::int64_t value);

}  // namespace vantrel
