// The module's periodic timer: interval, enabled flag and tick handler, with
// the rules the tick handler relies on, above one platform timer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/main_loop.h"

namespace vantrel {

class PeriodicTimer {
 public:
  // Makes the platform timer that calls the given tick function.
  using PortFactory = std::function<std::unique_ptr<TimerPort>(std::function<void()> on_tick)>;

  // Interval 1000 ms, enabled, no handler yet: it runs once one is attached.
  explicit PeriodicTimer(const PortFactory& make_port);
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  std::uint32_t Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  // A different value restarts the period from now; the same value does
  // nothing. Raises "Not enough timers available" when the platform refuses,
  // leaving the timer stopped.
  void SetInterval(std::uint32_t interval_ms);
  void SetEnabled(bool enabled);
  // Attaching a handler starts a new period.
  void SetOnTimer(std::function<void()> on_timer);

 private:
  void UpdateTimer();
  void Tick();

  std::uint32_t interval_ = 1000;
  bool enabled_ = true;
  std::function<void()> on_timer_;
  std::unique_ptr<TimerPort> port_;
};

}  // namespace vantrel
