// The naming prompt on the controlling terminal: the title line, then
// "Nimi: ". Enter confirms (also empty); Esc, Ctrl-C or the end of input
// (Ctrl-D) cancels.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "host/naming_dialog.h"
#include "platform/fd_io_linux.h"
#include "platform/unique_fd.h"

namespace vantrel {

namespace {

// Puts the terminal in character mode without echo, restores it when gone.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

// Characters in UTF-16 units of a UTF-8 text.
std::size_t Utf16Length(const std::string& text) { return FromUtf8(text).size(); }

}  // namespace

std::optional<String> AskInstanceName() {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (!tty) return std::nullopt;
  RawTerminal raw(tty.get());
  WriteAll(tty.get(), ToUtf8(kNamingTitle) + "\nNimi: ");
  std::string text;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(tty.get(), &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == 0x1b || c == 0x04 || c == 0x03) {  // end, Esc, Ctrl-D, Ctrl-C
      WriteAll(tty.get(), "\n");
      return std::nullopt;
    }
    if (c == '\r' || c == '\n') {
      WriteAll(tty.get(), "\n");
      return FromUtf8(text);
    }
    if (c == 0x7f || c == 0x08) {
      if (text.empty()) continue;
      // Drops one whole character (its continuation bytes too).
      while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
      if (!text.empty()) text.pop_back();
      WriteAll(tty.get(), "\b \b");
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20) continue;
    const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    if (!continuation && Utf16Length(text) >= kNamingMaxLength) continue;
    text.push_back(c);
    WriteAll(tty.get(), std::string(1, c));
  }
}

}  // namespace vantrel
