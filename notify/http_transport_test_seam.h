// Test-only: shortens the 120000 ms limits of the HTTP exchange, and on
// Linux names another HTTP library to load. No user-facing option reaches
// these.
#pragma once

#include <string>

namespace vantrel::testing_seam {

// 0 restores the default of 120000 ms.
void SetHttpPhaseTimeoutMs(int ms);

// Linux: the file name the attempts load in place of "libcurl.so.4"; empty
// restores it.
void SetCurlLibraryName(const std::string& name);

}  // namespace vantrel::testing_seam
