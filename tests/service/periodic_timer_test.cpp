#include "service/periodic_timer.h"

#include <gtest/gtest.h>

#include "module_fakes.h"

namespace vantrel {
namespace {

using testing::FakeTimer;

TEST(TimerTest, RunsOnlyOnceAHandlerIsAttached) {
  FakeTimer fake;
  PeriodicTimer timer(fake.Factory());
  EXPECT_FALSE(fake.running);
  timer.SetOnTimer([] {});
  EXPECT_TRUE(fake.running);
  EXPECT_EQ(fake.starts, std::vector<std::uint32_t>{1000});
}

TEST(TimerTest, SameValueDoesNothingAndADifferentOneRestartsThePeriod) {
  FakeTimer fake;
  PeriodicTimer timer(fake.Factory());
  timer.SetOnTimer([] {});
  const int stops_before = fake.stops;
  timer.SetInterval(1000);
  timer.SetEnabled(true);
  EXPECT_EQ(fake.stops, stops_before);
  EXPECT_EQ(fake.starts.size(), 1u);

  timer.SetInterval(600000);
  EXPECT_EQ(fake.starts, (std::vector<std::uint32_t>{1000, 600000}));
  timer.SetEnabled(false);
  EXPECT_FALSE(fake.running);
  timer.SetInterval(0);
  timer.SetEnabled(true);
  EXPECT_FALSE(fake.running) << "an interval of 0 never runs";
}

TEST(TimerTest, PlatformRefusalRaisesAndLeavesTheTimerStopped) {
  FakeTimer fake;
  PeriodicTimer timer(fake.Factory());
  timer.SetOnTimer([] {});
  fake.refuse = true;
  try {
    timer.SetInterval(600000);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Not enough timers available");
  }
  EXPECT_FALSE(fake.running);
}

}  // namespace
}  // namespace vantrel
