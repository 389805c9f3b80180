// The journal library's cursor text, formatted and parsed in one place:
// "s=<sequence>;i=<number, hex>;b=<boot>;m=<monotonic, hex>;t=<realtime,
// hex>;x=<hash, hex>". The walk seeks by it and reads an entry's number and
// time from it; nothing stores it.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/whole_number.h"

namespace vantrel {

// The cursor that seeks the entry numbered `number` of a sequence (the
// library needs no more of it).
inline std::string CursorOfNumber(const std::string& sequence, std::uint64_t number) {
  char hex[17];
  const auto [end, error] = std::to_chars(hex, hex + sizeof hex, number, 16);
  return "s=" + sequence + ";i=" + std::string(hex, end);
}

// The number and realtime stamp a cursor names; false when it names either
// not.
inline bool NumberAndTimeOfCursor(std::string_view cursor, std::uint64_t& number, std::uint64_t& realtime) {
  const auto hex = [](std::string_view text, std::uint64_t& value) {
    const auto read = WholeNumber<std::uint64_t>(text, 16);
    value = read.value_or(0);
    return read.has_value();
  };
  bool have_number = false, have_time = false;
  while (!cursor.empty()) {
    const std::size_t semi = cursor.find(';');
    const std::string_view part = cursor.substr(0, semi);
    cursor = semi == std::string_view::npos ? std::string_view() : cursor.substr(semi + 1);
    if (part.starts_with("i=")) have_number = hex(part.substr(2), number);
    if (part.starts_with("t=")) have_time = hex(part.substr(2), realtime);
  }
  return have_number && have_time;
}

}  // namespace vantrel
