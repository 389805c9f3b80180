// The service's stop, as an event that other threads can wait for beside
// their own handles: the main thread's wait for an HTTP attempt waits on it,
// so that a stop ends the attempt instead of waiting for its answer.
#pragma once

#include <windows.h>

namespace vantrel {

// Marks the stop; from any thread. It stays marked.
void AnnounceServiceStop();

// True once the stop was announced.
bool ServiceStopAnnounced();

// A manual-reset event, signalled once the stop was announced (wait on it,
// never reset it); null when the system gave none, where only
// ServiceStopAnnounced tells.
HANDLE ServiceStopEvent();

// Takes the announcement back, for tests that run several services in one
// process.
void ForgetServiceStop();

}  // namespace vantrel
