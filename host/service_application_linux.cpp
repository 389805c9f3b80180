// Linux stand-in for the service manager: service mode runs in the
// foreground, reports go to sd_notify, control codes come from signals.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "host/service_application.h"
#include "host/service_thread.h"
#include "platform/exception.h"
#include "platform/service_stop_linux.h"
#include "platform/system_text.h"
#include "platform/unique_fd.h"

namespace vantrel {

namespace {

// The signals that stand in for control codes.
sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&set, sig);
  return set;
}

std::optional<std::uint32_t> ControlCodeOfSignal(std::uint32_t sig) {
  switch (sig) {
    case SIGTERM:
    case SIGINT: return kControlStop;
    case SIGUSR1: return kControlPause;
    case SIGUSR2: return kControlContinue;
    case SIGHUP: return kControlInterrogate;
    default: return std::nullopt;
  }
}

// Reports to systemd's notify socket; nothing at all when it is not set.
class SdNotifySink : public StatusSink {
 public:
  std::optional<String> Send(const ServiceStatusRecord& record) override {
    std::string message;
    if (record.current_state == ServiceState::kRunning) message += "READY=1\n";
    if (record.current_state == ServiceState::kStopPending) message += "STOPPING=1\n";
    if (IsPending(record.current_state)) {
      message += "EXTEND_TIMEOUT_USEC=" + std::to_string(std::uint64_t{record.wait_hint} * 1000) + "\n";
    }
    message += "STATUS=" + ToUtf8(StatusText(record.current_state));
    const int r = sd_notify(0, message.c_str());
    if (r < 0) return SystemErrorText(static_cast<std::uint32_t>(-r));
    return std::nullopt;
  }
};

// Control codes read from the blocked control signals through a signalfd.
class SignalControlSource : public ControlSource {
 public:
  SignalControlSource() {
    const sigset_t set = ControlSignals();
    fd_.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd_) throw std::system_error(errno, std::generic_category(), "signalfd");
  }

  std::optional<std::uint32_t> Next(bool wait) override {
    for (;;) {
      signalfd_siginfo info{};
      const ssize_t n = read(fd_.get(), &info, sizeof info);
      if (n == sizeof info) {
        auto code = ControlCodeOfSignal(info.ssi_signo);
        if (!code) continue;
        // The main thread may be waiting for an HTTP attempt: the stop ends
        // it, rather than the service waiting minutes for its answer.
        if (*code == kControlStop) AnnounceServiceStop();
        return code;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) throw std::system_error(errno, std::generic_category(), "read signalfd");
      if (!wait) return std::nullopt;
      pollfd pfd{fd_.get(), POLLIN, 0};
      if (poll(&pfd, 1, -1) < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "poll signalfd");
      }
    }
  }

 private:
  UniqueFd fd_;
};

// The ServiceMain callback: the claim, then the start sequence with the
// service thread.
void ServiceMain(ServiceApplication& application, ServiceModule& module) {
  SdNotifySink sink;
  module.SetStatusSink(&sink);
  if (!application.ClaimAtServiceStart(module)) {
    module.SetStatusSink(nullptr);
    return;
  }
  RunStartSequence(module, [&module] {
    std::thread service_thread([&module] {
      try {
        SignalControlSource source;
        RunServiceThread(module, source);
      } catch (...) {
        module.LogMessage(StepFailureText(u"execute", CurrentFailureMessage()));
      }
    });
    service_thread.join();
  });
  module.SetStatusSink(nullptr);
}

}  // namespace

// No state on Linux; making it only sets SIGPIPE aside.
struct ServiceApplication::Platform {};

std::shared_ptr<ServiceApplication::Platform> ServiceApplication::NewPlatform() {
  // Debug lines go to standard error, and nothing may be reading it any more
  // (the journal's stream of a service gone, a closed pipe): a write there
  // must fail quietly, not end the process.
  signal(SIGPIPE, SIG_IGN);
  return std::make_shared<Platform>();
}

void ServiceApplication::Initialize() {}  // no COM on Linux

std::function<std::uint32_t()> ServiceApplication::ServiceDispatcher() {
  // Before any thread starts, so that every thread keeps them blocked and
  // only the service thread's signalfd takes them.
  const sigset_t set = ControlSignals();
  if (int err = pthread_sigmask(SIG_BLOCK, &set, nullptr)) {
    throw std::system_error(err, std::generic_category(), "pthread_sigmask");
  }
  // A failure escaping ServiceMain goes to the application writer here, and
  // its code (EIO, "Input/output error") after it.
  return [this]() -> std::uint32_t {
    try {
      if (module_) ServiceMain(*this, *module_);
      return 0;
    } catch (...) {
      app_writer_.LogMessage(CurrentFailureMessage());
      return EIO;
    }
  };
}

}  // namespace vantrel
