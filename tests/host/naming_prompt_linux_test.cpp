// The real program asking for the instance name on its controlling terminal
// (a pseudo-terminal here) when /install is given no name.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scratch_folder_linux.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

struct Session {
  int exit_code = -1;
  std::string screen;  // everything the program wrote to the terminal
};

// Reads what the terminal shows until `until` appears, the program closes it
// or ten seconds pass.
void ReadScreen(int master, std::string& screen, const std::string& until) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (until.empty() || screen.find(until) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
    char buffer[512];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // EIO: the program has gone
    screen.append(buffer, static_cast<std::size_t>(n));
  }
}

Session InstallTyping(const fs::path& dir, const std::string& typed) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    setenv("VANTREL_UNIT_DIR", (dir / "units").c_str(), 1);
    setenv("VANTREL_REGISTRY", (dir / "settings.reg").c_str(), 1);
    execl(VANTREL_BINARY, VANTREL_BINARY, "/install", "/silent", static_cast<char*>(nullptr));
    _exit(127);
  }
  Session session;
  if (pid < 0) return session;
  ReadScreen(master, session.screen, "Nimi: ");
  if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) ADD_FAILURE() << "write";
  ReadScreen(master, session.screen, "");
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  session.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return session;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(NamingPrompt, TypedNameInstallsOrCancelRefuses) {
  const struct {
    const char* what;
    std::string typed;
    const char* stored;  // nullptr: refused, nothing installed
  } cases[] = {
      {"name and Enter", "Tuotanto 1\r", "Tuotanto 1"},
      {"backspace drops one character",
       "Ab\x7f"
       "c\r",
       "Ac"},
      {"backspace drops a whole two-byte character", "x\xC3\xA4\x7fy\r", "xy"},
      {"control characters ignored",
       "a\x01\x02"
       "b\n",
       "ab"},
      {"Esc cancels", "abc\x1b", nullptr},
      {"Ctrl-D cancels", "\x04", nullptr},
      {"empty name refused", "\r", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::ScratchFolder scratch("vantrel-prompt");
    const fs::path& dir = scratch.Path();
    fs::create_directory(dir / "units");
    const Session s = InstallTyping(dir, c.typed);
    EXPECT_EQ(s.exit_code, 0) << s.screen;
    EXPECT_NE(s.screen.find("Nimi: "), std::string::npos) << s.screen;
    const bool installed = fs::exists(dir / "units" / "VantrelSrv.service");
    if (c.stored != nullptr) {
      EXPECT_TRUE(installed) << s.screen;
      EXPECT_NE(ReadAll(dir / "settings.reg").find(std::string("\"instancename\"=\"") + c.stored + "\""),
                std::string::npos)
          << ReadAll(dir / "settings.reg");
    } else {
      EXPECT_FALSE(installed) << s.screen;
      EXPECT_NE(s.screen.find("Anna parametrina"), std::string::npos) << s.screen;
    }
  }
}

}  // namespace
}  // namespace vantrel
