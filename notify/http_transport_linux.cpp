// One HTTP attempt over libcurl, made in a child process of its own.
//
// The service posts once in twelve hours. A process that has loaded libcurl
// keeps the pages its TLS stack relocated (OpenSSL cannot be unloaded once
// loaded), a megabyte or so that the waiting service would hold for nothing.
// So the service never loads libcurl: each attempt forks, the child loads it,
// makes the attempt and hands the result back through a pipe, and ends. The
// portable exchange (redirects, cookies, certificate acceptance, decoding)
// stays in the service, as on Windows.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "notify/attempt_result.h"
#include "notify/curl_attempt_linux.h"
#include "notify/http_transport.h"
#include "platform/fd_write_linux.h"
#include "platform/unique_fd.h"

namespace vantrel {

namespace {

// What the child sends at the most: the body and the headers up to their
// limits, and the framing around them.
constexpr std::size_t kMaxResultBytes = kMaxAnswerBody + kMaxAnswerHeaders + (std::size_t{1} << 16);

// Everything the child writes, until it closes the pipe by ending; false
// when that is more than a result can hold.
bool ReadAll(int fd, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxResultBytes) return false;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

// The child's part: the attempt, its result into the pipe, and the end,
// without the exit handlers of the service it was copied from.
[[noreturn]] void RunAttemptAndEnd(const HttpAttempt& attempt, int out, pid_t parent) {
  // It ends with the service: a child left behind would hold the
  // connection, and the files the service had open, until its timeouts.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  AttemptResult result;
  try {
    result = PerformWithCurl(attempt);
  } catch (const std::exception& e) {
    result = AttemptResult();
    result.failure.message = u"Error sending data: " + FromUtf8(e.what());
  }
  _exit(WriteAll(out, EncodeAttemptResult(result)) == 0 ? 0 : 1);
}

String SystemFailure(const char* what, int error) {
  return u"Error sending data: " + FormatCodeText(error, std::string(what) + ": " + std::strerror(error));
}

class ChildProcessTransport : public HttpTransport {
 public:
  bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) override {
    answer = HttpAnswer();
    failure = HttpFailure();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      failure.message = SystemFailure("pipe", errno);
      return false;
    }
    UniqueFd from_child(ends[0]), to_parent(ends[1]);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
      failure.message = SystemFailure("fork", errno);
      return false;
    }
    if (child == 0) {
      from_child.reset();
      RunAttemptAndEnd(attempt, to_parent.get(), parent);
    }
    to_parent.reset();
    std::string bytes;
    const bool whole = ReadAll(from_child.get(), bytes);
    from_child.reset();  // a child still writing (more than a result can hold) ends on the closed pipe
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    AttemptResult result;
    if (!whole) {
      failure.message = u"Error receiving data: the HTTP attempt's result is larger than it can be";
      return false;
    }
    if (!DecodeAttemptResult(bytes, result)) {
      failure.message = u"Error receiving data: the HTTP attempt ended without a result (" +
                        (WIFSIGNALED(status) ? u"signal " + IntToStr(WTERMSIG(status))
                                             : u"exit code " + IntToStr(WEXITSTATUS(status))) +
                        u")";
      return false;
    }
    answer = std::move(result.answer);
    failure = std::move(result.failure);
    return result.answered;
  }
};

}  // namespace

std::unique_ptr<HttpTransport> NewHttpTransport() { return std::make_unique<ChildProcessTransport>(); }

}  // namespace vantrel
