// The service's stop, as an event that other threads can wait for beside
// their own descriptors: the main thread's wait for an HTTP attempt polls it,
// so that a stop ends the attempt instead of waiting for its answer.
#pragma once

namespace vantrel {

// Marks the stop; from any thread. It stays marked.
void AnnounceServiceStop();

// True once the stop was announced.
bool ServiceStopAnnounced();

// A descriptor that is readable once the stop was announced (poll it, never
// read it); -1 when the system gave none, where only ServiceStopAnnounced
// tells.
int ServiceStopDescriptor();

// Takes the announcement back, for tests that run several services in one
// process.
void ForgetServiceStop();

}  // namespace vantrel
