// The recovery the installation registers, through a recorder of
// ChangeServiceConfig2W: Wine accepts failure actions but keeps none and
// knows no failure-actions flag, so what the service manager is told is
// read here, as the calls carry it.
#include "host/service_recovery_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"

namespace vantrel {
namespace {

// One call as the service manager would take it.
struct Call {
  DWORD level = 0;
  DWORD reset_period = 0;
  std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;
  bool reboot_message_or_command = false;
  BOOL non_crash_failures = TRUE;
};

// A service manager that records every call and refuses the one at
// refuse_level with refuse_code.
struct Recorder {
  std::vector<Call> calls;
  DWORD refuse_level = 0;
  DWORD refuse_code = 0;

  ServiceConfigChange Change() {
    return [this](DWORD level, void* info) -> BOOL {
      Call call;
      call.level = level;
      if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* actions = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        call.reset_period = actions->dwResetPeriod;
        for (DWORD i = 0; i < actions->cActions; ++i) {
          call.actions.emplace_back(actions->lpsaActions[i].Type, actions->lpsaActions[i].Delay);
        }
        call.reboot_message_or_command = actions->lpRebootMsg != nullptr || actions->lpCommand != nullptr;
      } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        call.non_crash_failures = static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures;
      }
      calls.push_back(call);
      if (level != refuse_level) return TRUE;
      SetLastError(refuse_code);
      return FALSE;
    };
  }
};

TEST(ServiceRecovery, RestartsAMinuteAfterEveryCrashAndOnlyAfterACrash) {
  Recorder recorder;
  SetServiceRecovery(recorder.Change());
  ASSERT_EQ(recorder.calls.size(), 2u);
  const Call& actions = recorder.calls[0];
  EXPECT_EQ(actions.level, static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS));
  EXPECT_EQ(actions.actions, (std::vector<std::pair<SC_ACTION_TYPE, DWORD>>{{SC_ACTION_RESTART, 60000}}));
  EXPECT_EQ(actions.reset_period, 86400u);
  EXPECT_FALSE(actions.reboot_message_or_command);
  const Call& flag = recorder.calls[1];
  EXPECT_EQ(flag.level, static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG));
  EXPECT_EQ(flag.non_crash_failures, FALSE);
}

TEST(ServiceRecovery, ARefusalFailsTheInstallationUnlessTheFlagIsUnknown) {
  struct Row {
    const char* name;
    DWORD level, code;
    const char16_t* failure;  // nullptr: none
  };
  const Row rows[] = {
      {"failure actions refused", SERVICE_CONFIG_FAILURE_ACTIONS, ERROR_ACCESS_DENIED, u"System Error.  Code: 5."},
      {"the flag refused", SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, ERROR_ACCESS_DENIED, u"System Error.  Code: 5."},
      // A service manager without the flag acts on crashes alone anyway.
      {"the flag unknown", SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, ERROR_INVALID_LEVEL, nullptr},
  };
  for (const Row& row : rows) {
    Recorder recorder;
    recorder.refuse_level = row.level;
    recorder.refuse_code = row.code;
    String failure;
    try {
      SetServiceRecovery(recorder.Change());
    } catch (const Exception& e) {
      failure = e.Message();
    }
    if (row.failure == nullptr) {
      EXPECT_EQ(failure, String()) << row.name;
    } else {
      EXPECT_EQ(failure.rfind(row.failure, 0), 0u) << row.name << ": " << ToUtf8(failure);
    }
  }
}

}  // namespace
}  // namespace vantrel
