// The main of every test program: a test program that posts starts itself
// again for each HTTP attempt, as the program does, so such a start
// makes its attempt and ends before any test runs.
#include <gtest/gtest.h>

#include "notify/attempt_process.h"

int main(int argc, char** argv) {
  if (const std::optional<int> code = vantrel::RunHttpAttemptProcess()) return *code;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
