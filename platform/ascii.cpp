#include "platform/ascii.h"

namespace vantrel {

namespace {

template <typename Char>
bool EqualsIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

std::string AsciiLowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) { return EqualsIgnoringCase(a, b); }

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) { return EqualsIgnoringCase(a, b); }

bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

std::string_view TrimLeft(std::string_view s, std::string_view chars) {
  const std::size_t start = s.find_first_not_of(chars);
  return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

std::string_view TrimRight(std::string_view s, std::string_view chars) {
  const std::size_t last = s.find_last_not_of(chars);
  return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

std::string_view Trim(std::string_view s, std::string_view chars) { return TrimRight(TrimLeft(s, chars), chars); }

}  // namespace vantrel
