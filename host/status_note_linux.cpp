#include <systemd/sd-daemon.h>

#include <mutex>
#include <string>

#include "host/status_note.h"

namespace vantrel {

namespace {

// The main thread publishes notes; the service thread's reports read them.
std::mutex g_note_mutex;
String g_last_note;

}  // namespace

String LastStatusNote() {
  std::lock_guard lock(g_note_mutex);
  return g_last_note;
}

// One STATUS= assignment to the notify socket. The line must not break the
// assignment list, so line breaks become blanks. sd_notify does nothing
// without NOTIFY_SOCKET, and a refused datagram only loses the note.
void PublishStatusNote(const String& text) {
  String line = text;
  for (char16_t& c : line) {
    if (c == u'\n' || c == u'\r' || c == u'\0') c = u' ';
  }
  {
    std::lock_guard lock(g_note_mutex);
    g_last_note = line;
  }
  (void)sd_notify(0, ("STATUS=" + ToUtf8(line)).c_str());
}

}  // namespace vantrel
