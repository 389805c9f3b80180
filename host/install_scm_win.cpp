// The service manager on Windows: OpenSCManagerW, CreateServiceW,
// OpenServiceW, DeleteService, each handle closed by its owner. Nothing else
// of the service is set here: the package (vantrel.msi) registers the event
// sources' message file and the restart after a crash.
#include <windows.h>

#include "host/install_scm.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

using ScHandle = UniqueHandle<SC_HANDLE, CloseServiceHandle>;

class WinService : public ScmService {
 public:
  explicit WinService(SC_HANDLE handle) : handle_(handle) {}

  void Delete() override {
    if (!DeleteService(handle_.get())) RaiseOsFailure(GetLastError());
  }

 private:
  ScHandle handle_;
};

class WinScm : public ScmPort {
 public:
  explicit WinScm(SC_HANDLE handle) : handle_(handle) {}

  std::unique_ptr<ScmService> Create(const ServiceRegistration& registration) override {
    const String empty;
    const wchar_t no_dependencies[2] = {L'\0', L'\0'};
    SC_HANDLE handle =
        CreateServiceW(handle_.get(), Wide(registration.name), Wide(registration.display_name), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       Wide(registration.binary_path), Wide(empty), nullptr, no_dependencies, nullptr, Wide(empty));
    if (!handle) RaiseOsFailure(GetLastError());
    return std::make_unique<WinService>(handle);
  }

  std::unique_ptr<ScmService> Open(const String& name) override {
    SC_HANDLE service = OpenServiceW(handle_.get(), Wide(name), SERVICE_ALL_ACCESS);
    if (!service) RaiseOsFailure(GetLastError());
    return std::make_unique<WinService>(service);
  }

 private:
  ScHandle handle_;
};

}  // namespace

std::unique_ptr<ScmPort> OpenPlatformScm() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) RaiseOsFailure(GetLastError());
  return std::make_unique<WinScm>(scm);
}

String ScmErrorText(std::uint32_t code) { return SystemErrorText(code); }

}  // namespace vantrel
