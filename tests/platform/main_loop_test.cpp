#include "platform/main_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vantrel {
namespace {

TEST(MainLoopTest, DeliversTicksOnItsOwnThreadUntilQuit) {
  MainLoop loop;
  int ticks = 0;
  bool off_thread = false;
  const auto main_thread = std::this_thread::get_id();
  std::unique_ptr<TimerPort> timer = loop.NewTimer([&] {
    off_thread |= std::this_thread::get_id() != main_thread;
    if (++ticks == 3) loop.Quit();
  });
  ASSERT_TRUE(timer->Start(20));
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(off_thread);
}

TEST(MainLoopTest, QuitFromAnotherThreadEndsRun) {
  MainLoop loop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    loop.Quit();
  });
  loop.Run();
  stopper.join();
}

TEST(MainLoopTest, StoppedTimerDeliversNothingAndRestartWorks) {
  MainLoop loop;
  int stopped_ticks = 0;
  auto stopped = loop.NewTimer([&] { ++stopped_ticks; });
  ASSERT_TRUE(stopped->Start(10));
  stopped->Stop();
  int ticks = 0;
  std::unique_ptr<TimerPort> timer;
  timer = loop.NewTimer([&] {
    // Restarting from inside a tick is what a changed interval does.
    if (++ticks == 1)
      ASSERT_TRUE(timer->Start(30));
    else
      loop.Quit();
  });
  ASSERT_TRUE(timer->Start(10));
  loop.Run();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(stopped_ticks, 0);
}

TEST(MainLoopTest, RefusesAZeroInterval) {
  MainLoop loop;
  auto timer = loop.NewTimer([] {});
  EXPECT_FALSE(timer->Start(0));
}

}  // namespace
}  // namespace vantrel
