#include "platform/command_line.h"

namespace vantrel {

std::vector<String> SplitCommandLine(const String& line) {
  std::vector<String> args;
  std::size_t pos = 0;
  const std::size_t n = line.size();
  bool first = true;  // the program name
  for (;;) {
    // Before an argument begins, blanks and pairs of double quotes (with the
    // blanks after them) are skipped: `a "" b` holds two arguments.
    for (;;) {
      while (pos < n && line[pos] <= u' ') ++pos;
      if (pos + 1 >= n || line[pos] != u'"' || line[pos + 1] != u'"') break;
      pos += 2;
    }
    String token;
    while (pos < n && line[pos] > u' ') {
      if (line[pos] == u'"') {
        ++pos;
        while (pos < n && line[pos] != u'"') token += line[pos++];
        if (pos < n) ++pos;
      } else {
        token += line[pos++];
      }
    }
    if (first) {
      first = false;
      if (pos >= n && token.empty()) return args;
      continue;
    }
    if (token.empty()) return args;  // only at the end of the line
    args.push_back(std::move(token));
  }
}

}  // namespace vantrel
