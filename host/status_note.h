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

// The last note published, or empty; a report that repeats the state the
// service is in (an interrogate) shows it again instead of the state's text.
String LastStatusNote();

}  // namespace vantrel
