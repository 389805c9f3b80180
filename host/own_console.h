// The console window that Windows opens for a console program started from
// Explorer or a shortcut.
#pragma once

namespace vantrel {

// Lets go of the console when this process is the only one on it (it was
// opened for this process alone), so that its empty window closes and the
// dialog and the boxes of an install or removal stand alone. A console
// shared with a command prompt stays, with its output. Nothing on Linux.
void ReleaseOwnConsole();

}  // namespace vantrel
