#include "host/switches.h"

namespace vantrel {

namespace {

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

}  // namespace

bool IsSwitch(const String& arg, const String& word) {
  if (arg.empty() || (arg[0] != u'-' && arg[0] != u'/')) return false;
  if (arg.size() - 1 != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (FoldCase(arg[i + 1]) != FoldCase(word[i])) return false;
  }
  return true;
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

Switches ParseSwitches(const std::vector<String>& all) {
  const std::vector<String> args = CountedArguments(all);
  Switches result;
  if (FindSwitch(args, u"INSTALL")) {
    result.mode = RunMode::kInstall;
  } else if (FindSwitch(args, u"UNINSTALL")) {
    result.mode = RunMode::kUninstall;
  } else if (FindSwitch(args, u"TEST")) {
    result.mode = RunMode::kTest;
  }
  result.silent = FindSwitch(args, u"SILENT");
  return result;
}

}  // namespace vantrel
