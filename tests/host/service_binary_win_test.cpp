// The real program started outside the service manager: the dispatcher
// fails with 1063 and the process ends at once with code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/host/run_program_win.h"

namespace {

TEST(ServiceBinaryWin, OutsideServiceManagerExitsZero) {
  EXPECT_EQ(vantrel::testing::RunProgram(L""), 0u);
}

}  // namespace
