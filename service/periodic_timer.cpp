#include "service/periodic_timer.h"

#include "platform/exception.h"

namespace vantrel {

PeriodicTimer::PeriodicTimer(const PortFactory& make_port) : port_(make_port([this] { Tick(); })) {}

void PeriodicTimer::SetInterval(std::uint32_t interval_ms) {
  if (interval_ms == interval_) return;
  interval_ = interval_ms;
  UpdateTimer();
}

void PeriodicTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void PeriodicTimer::SetOnTimer(std::function<void()> on_timer) {
  on_timer_ = std::move(on_timer);
  UpdateTimer();
}

void PeriodicTimer::UpdateTimer() {
  port_->Stop();
  if (interval_ != 0 && enabled_ && on_timer_) {
    if (!port_->Start(interval_)) throw Exception(u"Not enough timers available");
  }
}

void PeriodicTimer::Tick() {
  if (on_timer_) on_timer_();
}

}  // namespace vantrel
