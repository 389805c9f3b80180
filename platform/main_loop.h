// The main thread's message loop: it delivers the ticks of periodic timers on
// the thread that runs it and ends when asked to quit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel {

// One periodic platform timer whose ticks arrive on the main loop's thread.
class TimerPort {
 public:
  virtual ~TimerPort() = default;
  // Starts a new full period of interval_ms, dropping a running one; false
  // when the platform has no timer to give.
  virtual bool Start(std::uint32_t interval_ms) = 0;
  // Stops the timer; no tick arrives until the next Start.
  virtual void Stop() = 0;
};

class MainLoop {
 public:
  // Made on the thread that will run it (on Windows it owns a hidden window).
  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // A stopped timer that calls on_tick on this loop's thread once per period;
  // ticks that fall due while the thread is busy arrive once, not piled up.
  std::unique_ptr<TimerPort> NewTimer(std::function<void()> on_tick);

  // Delivers ticks until Quit; the message being handled completes first.
  void Run();

  // Ends Run; safe from any thread, also before Run starts.
  void Quit();

  // The platform state behind the loop (the hidden window on Windows).
  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace vantrel
