// Test-only: shortens the 120000 ms limits of the HTTP exchange, and on
// Linux names another HTTP library to load and other certificate
// authorities to trust. No user-facing option reaches these.
#pragma once

#include <string>

namespace vantrel::testing_seam {

// 0 restores the default of 120000 ms.
void SetHttpPhaseTimeoutMs(int ms);

// Linux: the file name the attempts load in place of "libcurl.so.4"; empty
// restores it.
void SetCurlLibraryName(const std::string& name);

// Linux: a PEM file of the certificate authorities the attempts trust in
// place of the system's; empty restores the system's.
void SetTrustedAuthoritiesFile(const std::string& file);

}  // namespace vantrel::testing_seam
