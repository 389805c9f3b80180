// The stand-in's record of every call it received: one line per call,
// appended to the file named under its class key, so that a test in
// another process can read it while the program runs.
#pragma once

#include <string>

namespace wmi_standin {

// The paths the test set-up stored under the stand-in's class key, read
// at each use; empty when missing.
std::wstring FixturePath();
std::wstring CallLogPath();

// Appends line (UTF-8) and a line feed to the call log.
void Record(const std::wstring& line);

}  // namespace wmi_standin
