#include "host/own_console.h"

namespace vantrel {

// A terminal is never opened for the program: nothing to let go of.
void ReleaseOwnConsole() {}

}  // namespace vantrel
