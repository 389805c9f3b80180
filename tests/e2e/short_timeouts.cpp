// Built only into the test copy of the program: before main runs, the limit
// of each HTTP phase is taken from VANTREL_TEST_HTTP_TIMEOUT_MS (milliseconds),
// so a stalled webhook fails the exchange in a second instead of two minutes,
// and VANTREL_TEST_CURL_LIBRARY names the HTTP library the posts load in
// place of libcurl, so that one that is missing can be tried.
#include <cstdlib>

#include "notify/http_transport_test_seam.h"

namespace {

const bool kShortened = [] {
  if (const char* ms = std::getenv("VANTREL_TEST_HTTP_TIMEOUT_MS")) {
    vantrel::testing_seam::SetHttpPhaseTimeoutMs(std::atoi(ms));
  }
  if (const char* library = std::getenv("VANTREL_TEST_CURL_LIBRARY")) {
    vantrel::testing_seam::SetCurlLibraryName(library);
  }
  return true;
}();

}  // namespace
