// Built only into the test copy of the program: before main runs, the limit
// of each HTTP phase is taken from VANTREL_TEST_HTTP_TIMEOUT_MS (milliseconds),
// so a stalled webhook fails the exchange in a second instead of two minutes,
// VANTREL_TEST_CURL_LIBRARY names the HTTP library the posts load in place
// of libcurl, so that one that is missing can be tried,
// VANTREL_TEST_TRUSTED_AUTHORITIES names a PEM file of the certificate
// authorities the posts trust in place of the system's, and
// VANTREL_TEST_TRACE_RECORDS=1 has each check trace the two lines of every
// record it took, so a test knows which check listed which entry.
#include <cstdlib>
#include <string_view>

#include "notify/http_transport_test_seam.h"
#include "watch/event_log_query_test_seam.h"

namespace {

const bool kShortened = [] {
  if (const char* ms = std::getenv("VANTREL_TEST_HTTP_TIMEOUT_MS")) {
    vantrel::testing_seam::SetHttpPhaseTimeoutMs(std::atoi(ms));
  }
  if (const char* library = std::getenv("VANTREL_TEST_CURL_LIBRARY")) {
    vantrel::testing_seam::SetCurlLibraryName(library);
  }
  if (const char* authorities = std::getenv("VANTREL_TEST_TRUSTED_AUTHORITIES")) {
    vantrel::testing_seam::SetTrustedAuthoritiesFile(authorities);
  }
  if (const char* traced = std::getenv("VANTREL_TEST_TRACE_RECORDS")) {
    vantrel::testing_seam::SetRecordLinesTraced(std::string_view(traced) == "1");
  }
  return true;
}();

}  // namespace
