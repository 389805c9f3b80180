#include <strings.h>
#include <unistd.h>

#include "platform/environment.h"

extern char** environ;

namespace vantrel {

std::optional<String> GetEnvironmentValue(const String& name) {
  const std::string wanted = ToUtf8(name);
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq != wanted.size()) continue;
    if (strncasecmp(text.data(), wanted.c_str(), eq) == 0) return FromUtf8(text.substr(eq + 1));
  }
  return std::nullopt;
}

String ComputerName() {
  if (auto value = GetEnvironmentValue(u"computername")) return *value;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return String();
  return FromUtf8(host);
}

}  // namespace vantrel
