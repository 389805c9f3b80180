// What the service manager does when the service crashes: start it again a
// minute later, every time; a stop by the administrator, or the service's
// own STOPPED report with whatever exit code, never counts. Windows only.
#pragma once

#include <windows.h>

#include <functional>

namespace vantrel {

// ChangeServiceConfig2W on the service being installed, or a test's recorder:
// one information level and its structure; FALSE and GetLastError on failure.
using ServiceConfigChange = std::function<BOOL(DWORD level, void* info)>;

// Sets the failure actions and limits them to crashes; raises the
// operating-system failure.
void SetServiceRecovery(const ServiceConfigChange& change);

}  // namespace vantrel
