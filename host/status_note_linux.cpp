#include <systemd/sd-daemon.h>

#include <string>

#include "host/status_note.h"
#include "platform/service_stop_linux.h"

namespace vantrel {

// One STATUS= assignment to the notify socket. The line must not break the
// assignment list, so line breaks become blanks. sd_notify does nothing
// without NOTIFY_SOCKET, and a refused datagram only loses the note. Once
// the service is stopping, its state ("Stop pending", "Stopped") is the last
// word: a check that ends after the stop leaves no note.
void PublishStatusNote(const String& text) {
  if (ServiceStopAnnounced()) return;
  std::string line = "STATUS=" + ToUtf8(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  }
  (void)sd_notify(0, line.c_str());
}

const bool kStatusNoteShown = true;

}  // namespace vantrel
