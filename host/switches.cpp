#include "host/switches.h"

#include "platform/ascii.h"

namespace vantrel {

bool IsSwitch(const String& arg, const String& word) {
  if (arg.empty() || (arg[0] != u'-' && arg[0] != u'/')) return false;
  return EqualsIgnoringAsciiCase(std::u16string_view(arg).substr(1), word);
}

std::vector<String> CountedArguments(const std::vector<String>& args) {
  std::vector<String> counted;
  for (const String& arg : args) {
    if (arg.empty()) break;
    counted.push_back(arg);
  }
  return counted;
}

bool FindSwitch(const std::vector<String>& args, const String& word) {
  for (const String& arg : args) {
    if (IsSwitch(arg, word)) return true;
  }
  return false;
}

Switches ParseSwitches(const std::vector<String>& args) {
  const std::vector<String> counted = CountedArguments(args);
  Switches result;
  if (FindSwitch(counted, u"INSTALL")) {
    result.mode = RunMode::kInstall;
  } else if (FindSwitch(counted, u"UNINSTALL")) {
    result.mode = RunMode::kUninstall;
  } else if (FindSwitch(counted, u"TEST")) {
    result.mode = RunMode::kTest;
  }
  result.silent = FindSwitch(counted, u"SILENT");
  return result;
}

}  // namespace vantrel
