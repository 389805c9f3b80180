// One HTTP attempt over libcurl, made in a process of its own.
//
// The service posts once in twelve hours. A process that has loaded libcurl
// keeps the pages its TLS stack relocated (OpenSSL cannot be unloaded once
// loaded), a megabyte or so that the waiting service would hold for nothing.
// So the service never loads libcurl: each attempt starts this program
// afresh (posix_spawn of /proc/self/exe: the program that runs, even when
// an upgrade has replaced its file since), the new process loads libcurl,
// makes the attempt, hands the result back through a pipe and ends. The
// portable exchange (redirects, cookies, certificate acceptance, decoding)
// stays in the service, as on Windows.
//
// The attempt process is started afresh rather than forked: the service has
// several threads, and a forked child may make no call that takes a lock
// (the allocator's, the loader's, the TLS stack's) until it executes a
// program, since another thread may have held that lock at the fork.
//
// How the two meet: the attempt process gets the encoded attempt on
// descriptor 3 and writes to descriptor 4, and the variable
// VANTREL_HTTP_ATTEMPT holds the service's process id. A command line cannot
// ask for this. It writes the head of a 200 answer as soon as it has come,
// then the whole result. The service waits for the result or for its own
// stop, whichever comes first; on a stop it ends the attempt at once, and
// the attempt counts as answered only when a 200 head had come.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "notify/attempt_pipe.h"
#include "notify/attempt_process.h"
#include "notify/curl_attempt_linux.h"
#include "notify/curl_library_linux.h"
#include "notify/http_attempt.h"
#include "notify/http_transport.h"
#include "platform/fd_io_linux.h"
#include "platform/service_stop_linux.h"
#include "platform/spawn_linux.h"
#include "platform/unique_fd.h"

namespace vantrel {

namespace {

constexpr char kAttemptVariable[] = "VANTREL_HTTP_ATTEMPT";
constexpr int kRequestFd = 3;
constexpr int kResultFd = 4;

constexpr std::size_t kMaxResultBytes = kMaxAttemptResultBytes;
constexpr std::size_t kMaxRequestBytes = kMaxAttemptRequestBytes;

String SystemFailure(const char* what, int error) {
  return u"Error sending data: " + FormatCodeText(error, std::string(what) + ": " + std::strerror(error));
}

String EndText(int status) {
  if (status == -1) return u"not waited for";
  return WIFSIGNALED(status) ? u"signal " + IntToStr(WTERMSIG(status)) : u"exit code " + IntToStr(WEXITSTATUS(status));
}

// Puts the whole request into a new pipe and gives its reading end: written
// before the attempt process starts, so writing never waits for it.
UniqueFd RequestPipe(const std::string& bytes, String& failure) {
  int ends[2];
  if (bytes.size() > kMaxRequestBytes || pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    failure = bytes.size() > kMaxRequestBytes ? String(u"Error sending data: the request is larger than 1 MiB")
                                              : SystemFailure("pipe", errno);
    return UniqueFd();
  }
  UniqueFd read_end(ends[0]), write_end(ends[1]);
  if (fcntl(write_end.get(), F_GETPIPE_SZ) < static_cast<int>(bytes.size()) &&
      fcntl(write_end.get(), F_SETPIPE_SZ, static_cast<int>(bytes.size())) < 0) {
    failure = SystemFailure("pipe size", errno);
    return UniqueFd();
  }
  if (int error = WriteAll(write_end.get(), bytes)) {
    failure = SystemFailure("pipe", error);
    return UniqueFd();
  }
  // The reading end goes to the attempt process as it is.
  if (fcntl(read_end.get(), F_SETFL, 0) != 0) {
    failure = SystemFailure("pipe", errno);
    return UniqueFd();
  }
  return read_end;
}

// Appends what can be read from fd now; false at its end, on a failure, or
// when more came than a result can hold (too_large set).
bool ReadSome(int fd, std::string& bytes, bool& too_large) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxResultBytes) {
      too_large = true;
      return false;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

// Waits for the attempt process's output to end or for the service's stop;
// true when the stop came first.
bool ReadUntilEndOrStop(int fd, std::string& bytes, bool& too_large) {
  const int stop = ServiceStopDescriptor();
  for (;;) {
    if (ServiceStopAnnounced()) return true;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
    if (poll(fds, stop >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (stop >= 0 && (fds[1].revents & POLLIN)) return true;
    if (fds[0].revents != 0 && !ReadSome(fd, bytes, too_large)) return false;
  }
}

class ProcessTransport : public HttpTransport {
 public:
  bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) override {
    answer = HttpAnswer();
    failure = HttpFailure();
    UniqueFd request = RequestPipe(
        EncodeAttemptRequest(AttemptRequest{attempt, CurlLibraryFile(), TrustedAuthoritiesFile()}), failure.message);
    if (!request) return false;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      failure.message = SystemFailure("pipe", errno);
      return false;
    }
    UniqueFd from_attempt(ends[0]), to_service(ends[1]);

    SpawnOptions options;
    options.program = "/proc/self/exe";
    options.arguments = {"vantrel-http-attempt"};
    options.environment = EnvironmentWithout({kAttemptVariable});
    options.environment.push_back(std::string(kAttemptVariable) + "=" + std::to_string(getpid()));
    options.descriptors = {request.get(), to_service.get()};  // kRequestFd, kResultFd
    // A stop of the service's whole group (systemd sends SIGTERM to every
    // process of the unit) is the service's to act on: it ends the attempt
    // itself, after looking at what has come.
    sigemptyset(&options.blocked);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&options.blocked, sig);
    const pid_t child = SpawnProgram(options);
    if (child < 0) {
      failure.message = SystemFailure("posix_spawn", errno);
      return false;
    }
    request.reset();
    to_service.reset();

    std::string bytes;
    bool too_large = false;
    const bool stopped = ReadUntilEndOrStop(from_attempt.get(), bytes, too_large);
    if (stopped || too_large) kill(child, SIGKILL);
    const int status = WaitForProgram(child);
    // What it wrote before it was ended is still in the pipe.
    if (stopped) {
      while (ReadSome(from_attempt.get(), bytes, too_large)) {
      }
    }
    from_attempt.reset();

    const AttemptEnd end = too_large ? AttemptEnd::kTooLarge : stopped ? AttemptEnd::kStopped : AttemptEnd::kEnded;
    return SettleAttempt(bytes, end, EndText(status), answer, failure);
  }
};

bool IsPipe(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

// The whole request from the service, up to the end of its pipe.
bool ReadRequest(AttemptRequest& request) {
  std::string bytes;
  if (ReadAll(kRequestFd, bytes, kMaxRequestBytes) != 0) return false;
  close(kRequestFd);
  return DecodeAttemptRequest(bytes, request);
}

}  // namespace

std::unique_ptr<HttpTransport> NewHttpTransport() { return std::make_unique<ProcessTransport>(); }

std::optional<int> RunHttpAttemptProcess() {
  const char* service = std::getenv(kAttemptVariable);
  if (service == nullptr) return std::nullopt;
  if (!IsPipe(kRequestFd) || !IsPipe(kResultFd)) {
    // Not started by the service, only with its variable: an ordinary run.
    unsetenv(kAttemptVariable);
    return std::nullopt;
  }
  // It ends with the service: an attempt left behind would hold the
  // connection until its timeouts. A service gone before this line was
  // reached is seen as another parent.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (std::to_string(getppid()) != service) return 1;

  AttemptRequest request;
  if (!ReadRequest(request)) return 1;
  AttemptResult result;
  try {
    result = PerformWithCurl(
        request.attempt, request.library,
        [](const HttpAnswer& head) {
          // Told at once: a 200 is a delivered notice, whatever happens later.
          if (head.status == 200) (void)WriteAll(kResultFd, EncodeAnswerHead(head));
        },
        request.trusted_authorities);
  } catch (const std::exception& e) {
    result = AttemptResult();
    result.failure.message = u"Error sending data: " + FromUtf8(e.what());
  }
  return WriteAll(kResultFd, EncodeAttemptResult(result)) == 0 ? 0 : 1;
}

}  // namespace vantrel
