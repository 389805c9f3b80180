// The settings key's claim: a named mutex in the global namespace, so a
// process of the service manager's session and one started in a user's
// session see the same one. It exists while a process has it open; its
// existence is the claim, so nobody has to own or release it.
#include <windows.h>

#include <utility>

#include "platform/exception.h"
#include "platform/unique_handle.h"
#include "settings/settings_key_claim.h"

namespace vantrel {

namespace {

using MutexHandle = UniqueHandle<HANDLE, CloseHandle>;

class MutexClaim : public SettingsKeyClaim {
 public:
  explicit MutexClaim(MutexHandle mutex) : mutex_(std::move(mutex)) {}

 private:
  MutexHandle mutex_;
};

}  // namespace

std::unique_ptr<SettingsKeyClaim> ClaimSettingsKey() {
  MutexHandle mutex(CreateMutexW(nullptr, FALSE, L"Global\\VantrelSrv.settings"));
  const DWORD error = GetLastError();
  // Made by another account, it may not even be opened: held all the same.
  if (error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED)) {
    throw Exception(
        u"Another Vantrel service already uses the settings key "
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel; this one ends");
  }
  if (!mutex) return nullptr;
  return std::make_unique<MutexClaim>(std::move(mutex));
}

}  // namespace vantrel
