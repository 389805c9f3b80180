// The process that makes one HTTP attempt for the platform's transport: a
// fresh copy of the program, started for that attempt alone.
#pragma once

#include <optional>

namespace vantrel {

// When this process was started by NewHttpTransport's transport to make
// one HTTP attempt (each attempt runs in a fresh copy of the program),
// makes it, hands the result back and gives the exit code;
// otherwise it does nothing and gives nothing. The first call of main, of
// the program and of every test program.
std::optional<int> RunHttpAttemptProcess();

}  // namespace vantrel
