// Random notice lines for the message document and what their JSON "text"
// must read back as: the line cut at its first NUL or unpaired surrogate, a
// reversed surrogate pair put in order.
#pragma once

#include <random>

#include "platform/text.h"

namespace vantrel::testing {

inline String ExpectedDocText(const String& line) {
  String out;
  auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
  auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == 0) break;
    if (!high(c) && !low(c)) {
      out += c;
      continue;
    }
    if (i + 1 >= line.size()) break;
    const char16_t next = line[i + 1];
    if (high(c) && low(next)) {
      out += c;
      out += next;
    } else if (low(c) && high(next)) {
      out += next;
      out += c;
    } else {
      break;
    }
    ++i;
  }
  return out;
}

// A line mixing ASCII, controls, quotes, Latin letters, surrogates and NUL.
inline String RandomLine(std::mt19937& rng) {
  static constexpr char16_t kPool[] = {u'a', u'Z', u' ', u',',   u'"',   u'\\',  u'/',   0x7F,   u'\t',  u'\n',
                                       0x1F, 0x01, 0xE4, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDC00, 0x0000, 0xFFFF};
  std::uniform_int_distribution<int> length(0, 24), pick(0, std::size(kPool) - 1), rare(0, 40);
  String line;
  for (int n = length(rng); n > 0; --n) {
    char16_t c = kPool[pick(rng)];
    // Keep NUL and lone surrogates rare enough that most lines run long.
    if ((c == 0 || c == 0xDBFF || c == 0xDC00) && rare(rng) != 0) c = u'x';
    line += c;
  }
  return line;
}

}  // namespace vantrel::testing
