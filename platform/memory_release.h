// Gives memory the process freed back to the system. A check on a long
// history gathers many lines at once; without this the allocator would keep
// that peak for the hours the service then waits.
#pragma once

namespace vantrel {

void ReturnFreedMemory();

}  // namespace vantrel
