// The check cycle through the real WMI scripting objects. Wine's WMI
// answers the event-log query with an empty result.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/platform/trace_recorder.h"
#include "tests/service/module_harness.h"
#include "tests/service/real_components.h"

namespace vantrel {
namespace {

using testing::kStartNotice;
using testing::MemoryKey;
using testing::ModuleHarness;
using testing::RealPortsOf;
using testing::TraceRecorder;

// COM on this thread while it lives, as the program's main thread has it.
struct ComApartment {
  ComApartment() : ready(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComApartment() {
    if (ready) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  const bool ready;
};

TEST(WmiQueryTest, TheCheckCycleRunsTheRealQuery) {
  const ComApartment com;
  ASSERT_TRUE(com.ready);
  ModuleHarness::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  ModuleHarness module(world, RealPortsOf({.event_query = true}));
  TraceRecorder trace;
  module.TarkastaLogit();  // first run: Wine's log has no entry, so 0 is stored
  module.TarkastaLogit();  // later run: nothing found, nothing posted
  EXPECT_EQ(world.Notices(), std::vector<std::string>{kStartNotice});
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 0);
  EXPECT_TRUE(trace.lines.empty()) << (trace.lines.empty() ? "" : trace.lines[0]);
}

}  // namespace
}  // namespace vantrel
