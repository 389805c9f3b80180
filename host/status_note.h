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

// Whether the service manager shows the note (Linux). Where it does not
// (Windows), the outcome of the checks goes to the event log instead.
extern const bool kStatusNoteShown;

}  // namespace vantrel
