// The one-field dialog that asks for the instance name.
#pragma once

#include <optional>

#include "platform/text.h"

namespace vantrel {

// The dialog's title; the Linux prompt's first line.
inline constexpr char16_t kNamingTitle[] = u"Anna instanssin selv\u00e4kielinen, ymm\u00e4rrett\u00e4v\u00e4 nimi";
// The longest name the box takes, in UTF-16 units.
constexpr std::size_t kNamingMaxLength = 255;

// Shows the dialog with an empty box; the text when confirmed (possibly
// empty), nothing when cancelled (Linux: a prompt on /dev/tty, no terminal
// counts as cancelled; Windows: a desktop nobody sees counts as cancelled).
std::optional<String> AskInstanceName();

}  // namespace vantrel
