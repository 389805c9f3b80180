// The real program in service mode: status reports arrive on a notify
// socket bound here, control codes go in as signals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "scratch_folder_linux.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class ServiceBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    // A settings file with a dead local webhook and a stored record number,
    // so no check ever posts anywhere; an empty journal folder.
    std::ofstream(dir_ / "settings.reg") << "Windows Registry Editor Version 5.00\n\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n"
                                            "\"chaturl\"=\"http://127.0.0.1:9/\"\n"
                                            "\"lastrecnum\"=dword:00000000\n";
    fs::create_directory(dir_ / "journal");
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void BindNotifySocket() {
    notify_.reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(notify_);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = (dir_ / "notify").string();
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(bind(notify_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }

  void Start(bool with_notify) {
    int err_pipe[2];
    ASSERT_EQ(pipe2(err_pipe, O_CLOEXEC), 0);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      dup2(err_pipe[1], 2);
      if (with_notify) {
        setenv("NOTIFY_SOCKET", (dir_ / "notify").c_str(), 1);
      } else {
        unsetenv("NOTIFY_SOCKET");
      }
      setenv("VANTREL_REGISTRY", (dir_ / "settings.reg").c_str(), 1);
      setenv("VANTREL_JOURNAL_DIR", (dir_ / "journal").c_str(), 1);
      execl(VANTREL_BINARY, VANTREL_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(err_pipe[1]);
    stderr_.reset(err_pipe[0]);
    started_ = Clock::now();
  }

  // Waits for a notify datagram containing text; the datagrams read on the
  // way are kept in notes_.
  bool WaitForNote(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd pfd{notify_.get(), POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(notify_.get(), buffer, sizeof buffer, 0);
      if (n <= 0) continue;
      notes_.emplace_back(buffer, static_cast<std::size_t>(n));
      if (notes_.back().find(text) != std::string::npos) return true;
    }
  }

  bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (err_text_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd pfd{stderr_.get(), POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(stderr_.get(), buffer, sizeof buffer);
      if (n <= 0) return false;
      err_text_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // The exit code, or -1 when the process has not ended in time.
  int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10000);
    }
    return -1;
  }

  std::string AllNotes() const {
    std::string all;
    for (const auto& n : notes_) all += "[" + n + "] ";
    return all;
  }

  const testing::ScratchFolder scratch_{"vantrel-host"};
  const fs::path dir_ = scratch_.Path();
  pid_t pid_ = -1;
  UniqueFd notify_;
  UniqueFd stderr_;
  std::string err_text_;
  std::vector<std::string> notes_;
  Clock::time_point started_;
};

TEST_F(ServiceBinary, ReportsStartTimerPauseContinueAndStop) {
  BindNotifySocket();
  Start(true);
  ASSERT_TRUE(WaitForNote("READY=1")) << AllNotes();
  // Two start-pending reports came before it.
  ASSERT_GE(notes_.size(), 3u);
  EXPECT_NE(notes_[0].find("STATUS=Start pending"), std::string::npos) << AllNotes();
  EXPECT_NE(notes_[0].find("EXTEND_TIMEOUT_USEC=5000000"), std::string::npos) << AllNotes();
  EXPECT_NE(notes_[1].find("STATUS=Start pending"), std::string::npos) << AllNotes();

  // The first tick about a second after the module was made.
  ASSERT_TRUE(WaitForStderr("vantrel timer", std::chrono::seconds(4))) << err_text_;
  const auto tick_after = Clock::now() - started_;
  EXPECT_GE(tick_after, std::chrono::milliseconds(700));

  kill(pid_, SIGUSR1);
  ASSERT_TRUE(WaitForNote("STATUS=Paused")) << AllNotes();
  kill(pid_, SIGUSR2);
  ASSERT_TRUE(WaitForNote("STATUS=Continue pending")) << AllNotes();
  ASSERT_TRUE(WaitForNote("READY=1")) << AllNotes();
  kill(pid_, SIGHUP);
  ASSERT_TRUE(WaitForNote("STATUS=Running")) << AllNotes();

  kill(pid_, SIGTERM);
  ASSERT_TRUE(WaitForNote("STOPPING=1")) << AllNotes();
  ASSERT_TRUE(WaitForNote("STATUS=Stopped")) << AllNotes();
  EXPECT_EQ(WaitForExit(), 0);
}

TEST_F(ServiceBinary, StopWhilePausedEndsWithCodeZero) {
  BindNotifySocket();
  Start(true);
  ASSERT_TRUE(WaitForNote("READY=1")) << AllNotes();
  kill(pid_, SIGUSR1);
  ASSERT_TRUE(WaitForNote("STATUS=Paused")) << AllNotes();
  kill(pid_, SIGINT);
  ASSERT_TRUE(WaitForNote("STOPPING=1")) << AllNotes();
  EXPECT_EQ(WaitForExit(), 0);
}

TEST_F(ServiceBinary, RunsWithoutNotifySocket) {
  Start(false);
  ASSERT_TRUE(WaitForStderr("vantrel timer", std::chrono::seconds(4))) << err_text_;
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitForExit(), 0);
}

}  // namespace
}  // namespace vantrel
