// The command-line switches of the host and the mode they choose.
#pragma once

#include <vector>

#include "platform/text.h"

namespace vantrel {

// True when arg is "-" or "/" followed by exactly word, in any letter case.
bool IsSwitch(const String& arg, const String& word);

// The arguments as the program counts them: counting stops at the first
// empty argument, so nothing from there on is a switch or a name.
std::vector<String> CountedArguments(const std::vector<String>& args);

// True when any argument is the switch word.
bool FindSwitch(const std::vector<String>& args, const String& word);

enum class RunMode { kInstall, kUninstall, kTest, kService };

struct Switches {
  RunMode mode = RunMode::kService;
  bool silent = false;
  bool operator==(const Switches&) const = default;
};

// The mode chosen by the counted arguments 1..n (the program name left
// out): install wins over uninstall, and either over test; none of them
// gives service mode.
Switches ParseSwitches(const std::vector<String>& args);

}  // namespace vantrel
