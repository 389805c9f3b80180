// Numbers written as text in stored values, cursors and protocol fields:
// the whole text is the number, with nothing around it.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace vantrel {

// text as a number of type T in the given base: digits alone (a "-" before
// them only for a signed T), no blank, sign "+" or prefix; nothing when the
// text is empty, holds anything else, or the number does not fit in T.
template <typename T>
std::optional<T> WholeNumber(std::string_view text, int base = 10) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace vantrel
