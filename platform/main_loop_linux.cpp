#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <system_error>
#include <vector>

#include "platform/main_loop.h"
#include "platform/unique_fd.h"

namespace vantrel {

struct MainLoop::Impl {
  UniqueFd quit_fd;
  // Armed timers by their timerfd; the loop polls them with the quit fd.
  std::map<int, std::function<void()>*> armed;
};

namespace {

class TimerFdPort : public TimerPort {
 public:
  TimerFdPort(std::shared_ptr<MainLoop::Impl> loop, std::function<void()> on_tick)
      : loop_(std::move(loop)), on_tick_(std::move(on_tick)) {}
  ~TimerFdPort() override { Stop(); }

  bool Start(std::uint32_t interval_ms) override {
    Stop();
    if (!fd_) fd_.reset(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!fd_ || interval_ms == 0) return false;
    itimerspec period{};
    period.it_value.tv_sec = interval_ms / 1000;
    period.it_value.tv_nsec = static_cast<long>(interval_ms % 1000) * 1000000L;
    period.it_interval = period.it_value;
    if (timerfd_settime(fd_.get(), 0, &period, nullptr) != 0) return false;
    loop_->armed[fd_.get()] = &on_tick_;
    return true;
  }

  void Stop() override {
    if (!fd_) return;
    itimerspec off{};
    timerfd_settime(fd_.get(), 0, &off, nullptr);
    loop_->armed.erase(fd_.get());
  }

 private:
  std::shared_ptr<MainLoop::Impl> loop_;
  std::function<void()> on_tick_;
  UniqueFd fd_;
};

}  // namespace

MainLoop::MainLoop() : impl_(std::make_shared<Impl>()) {
  impl_->quit_fd.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl_->quit_fd) throw std::system_error(errno, std::generic_category(), "eventfd");
}

MainLoop::~MainLoop() = default;

std::unique_ptr<TimerPort> MainLoop::NewTimer(std::function<void()> on_tick) {
  return std::make_unique<TimerFdPort>(impl_, std::move(on_tick));
}

void MainLoop::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign(1, pollfd{impl_->quit_fd.get(), POLLIN, 0});
    for (const auto& [fd, tick] : impl_->armed) fds.push_back(pollfd{fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      (void)!read(impl_->quit_fd.get(), &count, sizeof count);
      return;
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      std::uint64_t expirations = 0;
      if (read(fds[i].fd, &expirations, sizeof expirations) != sizeof expirations) continue;
      // A handler may have stopped or restarted this timer since the poll.
      auto it = impl_->armed.find(fds[i].fd);
      if (it != impl_->armed.end()) (*it->second)();
    }
  }
}

void MainLoop::Quit() {
  const std::uint64_t one = 1;
  (void)!write(impl_->quit_fd.get(), &one, sizeof one);
}

}  // namespace vantrel
