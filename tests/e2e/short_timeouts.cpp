// Built only into the test copy of the program: before main runs, the limit
// of each HTTP phase is taken from VANTREL_TEST_HTTP_TIMEOUT_MS (milliseconds),
// so a stalled webhook fails the exchange in a second instead of two minutes.
#include <cstdlib>

#include "notify/http_transport_test_seam.h"

namespace {

const bool kShortened = [] {
  if (const char* ms = std::getenv("VANTREL_TEST_HTTP_TIMEOUT_MS")) {
    vantrel::testing_seam::SetHttpPhaseTimeoutMs(std::atoi(ms));
  }
  return true;
}();

}  // namespace
