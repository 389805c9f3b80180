// The service manager on Windows: OpenSCManagerW, CreateServiceW,
// OpenServiceW, DeleteService, each handle closed by its owner. A created
// service is also set to be restarted after a crash, and the program's event
// sources get their message file; removal takes the sources away again.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "host/install_scm.h"
#include "host/service_recovery_win.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

using ScHandle = UniqueHandle<SC_HANDLE, CloseServiceHandle>;
using KeyHandle = UniqueHandle<HKEY, RegCloseKey>;

// The Application log's sources; each names the file whose message table
// turns an entry's event identifier and strings into its text.
constexpr wchar_t kApplicationSources[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The executable of a binary path as registered, without its quotes.
std::wstring UnquotedPath(std::wstring path) {
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return path;
}

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

// The sources the program writes its entries under: the service name (the
// module writer) and the executable's file name (the application writer).
std::vector<std::wstring> SourceNames(const String& service_name, const std::wstring& executable) {
  return {std::wstring(Wide(service_name)), FileNameOf(executable)};
}

// Registers source with the executable as its message file: its message
// table holds the one entry the program writes, identifier 0, whose text is
// the entry's string as it is. Without it Event Viewer puts "The
// description for Event ID 0 ... cannot be found" before the text.
void RegisterSource(const std::wstring& source, const std::wstring& executable) {
  HKEY raw = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kApplicationSources + source).c_str(), 0, nullptr, 0,
                                   KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS) RaiseOsFailure(static_cast<std::uint32_t>(status));
  const KeyHandle key(raw);
  status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(executable.c_str()),
                          static_cast<DWORD>((executable.size() + 1) * sizeof(wchar_t)));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof types);
  }
  if (status != ERROR_SUCCESS) RaiseOsFailure(static_cast<std::uint32_t>(status));
}

// The executable the service is registered with; empty when it cannot be
// read.
std::wstring RegisteredExecutable(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (needed == 0) return std::wstring();
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed) || config->lpBinaryPathName == nullptr) {
    return std::wstring();
  }
  return UnquotedPath(config->lpBinaryPathName);
}

class WinService : public ScmService {
 public:
  WinService(SC_HANDLE handle, String name) : handle_(handle), name_(std::move(name)) {}

  void Delete() override {
    const std::wstring executable = RegisteredExecutable(handle_.get());
    if (!DeleteService(handle_.get())) RaiseOsFailure(GetLastError());
    // The registration is gone: what is left of its sources is taken away
    // as far as it can be, and nothing of it fails the removal.
    for (const std::wstring& source : SourceNames(name_, executable)) {
      if (!source.empty()) RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kApplicationSources + source).c_str());
    }
  }

 private:
  ScHandle handle_;
  String name_;
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
    auto service = std::make_unique<WinService>(handle, registration.name);
    // All of it or none of it: a service without its recovery or its
    // sources is deleted again, and the failure fails the installation.
    try {
      SetServiceRecovery([handle](DWORD level, void* info) { return ChangeServiceConfig2W(handle, level, info); });
      const std::wstring executable = UnquotedPath(Wide(registration.binary_path));
      for (const std::wstring& source : SourceNames(registration.name, executable)) {
        RegisterSource(source, executable);
      }
    } catch (...) {
      service->Delete();
      throw;
    }
    return service;
  }

  std::unique_ptr<ScmService> Open(const String& name) override {
    SC_HANDLE service = OpenServiceW(handle_.get(), Wide(name), SERVICE_ALL_ACCESS);
    if (!service) RaiseOsFailure(GetLastError());
    return std::make_unique<WinService>(service, name);
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
