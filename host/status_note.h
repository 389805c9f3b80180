// A line of free text beside the service's state, where the service manager
// shows one: on Linux the STATUS= text of `systemctl status`. The service
// manager of Windows has no such text, so there it goes nowhere.
#pragma once

#include "platform/text.h"

namespace vantrel {

// Shows text (one line) as the service's status until the next state
// report or note replaces it. Nothing happens outside a service manager
// that listens; never raises.
void PublishStatusNote(const String& text);

}  // namespace vantrel
