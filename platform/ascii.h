// ASCII letter case and blanks, for the words of protocols and formats that
// are compared without regard to case (header, charset and scheme names,
// command-line switches, member names, the data tags of a settings file).
// Letters beyond ASCII are never folded here.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// c in lower case when it is an ASCII capital letter; any other c unchanged.
char AsciiLower(char c);
char16_t AsciiLower(char16_t c);

// s with its ASCII capital letters in lower case.
std::string AsciiLowered(std::string_view s);

// True when a and b are equal but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

// True when s begins with prefix, but for the case of ASCII letters.
bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix);

// The blanks that most header and file rules skip.
inline constexpr std::string_view kBlanksAndTabs = " \t";

// s without the characters of chars at its start, at its end, or at both.
std::string_view TrimLeft(std::string_view s, std::string_view chars = kBlanksAndTabs);
std::string_view TrimRight(std::string_view s, std::string_view chars = kBlanksAndTabs);
std::string_view Trim(std::string_view s, std::string_view chars = kBlanksAndTabs);

}  // namespace vantrel
