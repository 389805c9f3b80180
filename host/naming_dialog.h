// The one-field dialog that asks for the instance name.
#pragma once

#include <optional>

#include "platform/text.h"

namespace vantrel {

extern const char16_t kNamingTitle[];
constexpr std::size_t kNamingMaxLength = 255;

// Shows the dialog with an empty box; the text when confirmed (possibly
// empty), nothing when cancelled (Linux: a prompt on /dev/tty, no terminal
// counts as cancelled).
std::optional<String> AskInstanceName();

}  // namespace vantrel
