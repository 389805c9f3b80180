#include "host/service_recovery_win.h"

#include "host/install_scm.h"

namespace vantrel {

namespace {

// How long the service manager waits after a crash before it starts the
// service again, and after how long without a crash it counts from the
// first one again (with one action, every crash restarts it anyway).
constexpr DWORD kRestartDelayMs = 60 * 1000;
constexpr DWORD kFailureCountResetS = 24 * 60 * 60;

}  // namespace

void SetServiceRecovery(const ServiceConfigChange& change) {
  SC_ACTION restart{SC_ACTION_RESTART, kRestartDelayMs};
  SERVICE_FAILURE_ACTIONSW actions{};
  actions.dwResetPeriod = kFailureCountResetS;
  actions.cActions = 1;
  actions.lpsaActions = &restart;
  if (!change(SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) RaiseOsFailure(GetLastError());
  // FALSE is also what a new service starts with; a service manager that
  // does not know the setting at all (Wine's: ERROR_INVALID_LEVEL) acts
  // only on crashes as well.
  SERVICE_FAILURE_ACTIONS_FLAG only_crashes{FALSE};
  if (!change(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &only_crashes) && GetLastError() != ERROR_INVALID_LEVEL) {
    RaiseOsFailure(GetLastError());
  }
}

}  // namespace vantrel
