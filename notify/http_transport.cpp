#include "notify/http_transport.h"

#include <atomic>

#include "notify/http_transport_test_seam.h"

namespace vantrel {

namespace {
std::atomic<int> g_timeout_override{0};
}

namespace testing_seam {
void SetHttpPhaseTimeoutMs(int ms) { g_timeout_override = ms; }
}  // namespace testing_seam

int HttpPhaseTimeoutMs() {
  const int v = g_timeout_override.load();
  return v > 0 ? v : 120000;
}

}  // namespace vantrel
