// The custom actions of vantrel.msi, in a DLL the package carries in its
// Binary table. They read and write the settings key through the program's
// own store, so a key the installer makes gets the key's security (SYSTEM
// and the administrators alone) as one the program makes does, and the
// webhook's token travels from the CHATURL property to the key without ever
// standing on a command line or in the installer's log. Once the program has
// registered the service, they set its restart after a crash, which the
// program's own installation leaves alone.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/service_recovery_win.h"
#include "platform/exception.h"
#include "platform/system_text.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/whole_number.h"
#include "platform/wide_text.h"
#include "settings/settings_key.h"

namespace vantrel {
namespace {

// The value of an installer property (in a deferred action: its
// CustomActionData).
String Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = {L'\0'};
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return String();
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return String();
  value.resize(size);
  return FromWide(value.data(), value.size());
}

// Writes one line to the installer's log; never the token.
void Log(MSIHANDLE install, const String& text) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, Wide(u"Vantrel: " + text));
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// Runs one action: any failure is logged and fails the installation.
template <typename Action>
UINT Run(MSIHANDLE install, const String& name, Action action) {
  try {
    action();
    return ERROR_SUCCESS;
  } catch (const Exception& e) {
    Log(install, name + u" failed: " + e.Message());
  } catch (...) {
    Log(install, name + u" failed");
  }
  return ERROR_INSTALL_FAILURE;
}

// Opens the settings key for writing, making it (with its security) when it
// is missing.
void OpenForWriting(SettingsKey& key) {
  if (!key.OpenKey()) throw Exception(u"the settings key cannot be opened (" + IntToStr(key.LastError()) + u")");
}

// Writes the deferred action's data (the property it was given) as the
// text value name, as it stands.
UINT WriteActionData(MSIHANDLE install, const String& name) {
  return Run(install, u"writing " + name, [install, &name] {
    const String text = Property(install, L"CustomActionData");
    SettingsKey key(NewSettingsKeyBackend());
    OpenForWriting(key);
    key.WriteString(name, text);
  });
}

using KeyHandle = UniqueHandle<HKEY, RegCloseKey>;
using ScHandle = UniqueHandle<SC_HANDLE, CloseServiceHandle>;

constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\tresk\\vantrel";
// The values an installation writes: kept before it, put back by its
// rollback.
constexpr const wchar_t* kInstalledValues[] = {L"chaturl", L"details", L"instancename", L"tls"};

std::wstring Hex(const std::vector<BYTE>& bytes) {
  std::wstring text;
  for (BYTE b : bytes) {
    wchar_t pair[3];
    std::swprintf(pair, 3, L"%02X", b);
    text += pair;
  }
  return text;
}

std::vector<BYTE> Bytes(const std::wstring& hex) {
  std::vector<BYTE> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

// The settings as they stand, for the rollback: "key=1" or "key=0", then
// for each installed value ";name=" and nothing when it is missing, or its
// type, ":" and its bytes in hexadecimal.
std::wstring SettingsState() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ, &raw) != ERROR_SUCCESS) return L"key=0";
  const KeyHandle key(raw);
  std::wstring state = L"key=1";
  for (const wchar_t* name : kInstalledValues) {
    state += std::wstring(L";") + name + L"=";
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) continue;
    std::vector<BYTE> data(size);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
    data.resize(size);
    state += std::to_wstring(type) + L":" + Hex(data);
  }
  return state;
}

// Puts the settings back as SettingsState gave them: a key that was not
// there goes again, whole; otherwise each installed value is written back
// or deleted.
void RestoreSettings(const std::wstring& state) {
  if (state.rfind(L"key=0", 0) == 0) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
    return;
  }
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
  const KeyHandle key(raw);
  std::size_t at = state.find(L';');
  while (at != std::wstring::npos) {
    const std::size_t end = state.find(L';', at + 1);
    const std::wstring item = state.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at - 1);
    at = end;
    const std::size_t eq = item.find(L'=');
    if (eq == std::wstring::npos) continue;
    const std::wstring name = item.substr(0, eq), value = item.substr(eq + 1);
    const std::size_t colon = value.find(L':');
    if (colon == std::wstring::npos) {
      RegDeleteValueW(key.get(), name.c_str());
      continue;
    }
    const std::vector<BYTE> data = Bytes(value.substr(colon + 1));
    RegSetValueExW(key.get(), name.c_str(), 0, std::wcstoul(value.substr(0, colon).c_str(), nullptr, 10), data.data(),
                   static_cast<DWORD>(data.size()));
  }
}

// Stops the service and waits, half a minute at most, until it reports
// stopped and its process has ended (so its file can be replaced or
// removed).
void StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &size) ||
      status.dwCurrentState == SERVICE_STOPPED) {
    return;
  }
  const UniqueHandle<HANDLE, CloseHandle> process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
  SERVICE_STATUS stop{};
  ControlService(service, SERVICE_CONTROL_STOP, &stop);
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount64() < deadline) {
    Sleep(100);
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size)) {
      break;
    }
  }
  const ULONGLONG now = GetTickCount64();
  if (process && now < deadline) WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - now));
}

}  // namespace
}  // namespace vantrel

using vantrel::String;

// Immediate, before the launch conditions: when INSTANCENAME is not given,
// the name an earlier installation stored, as it stands (a name that begins
// with "#" too), into INSTANCENAME and STOREDINSTANCENAME. Nothing stored,
// or a key that cannot be read, sets nothing.
extern "C" __declspec(dllexport) UINT __stdcall TakeStoredInstanceName(MSIHANDLE install) {
  try {
    if (!vantrel::Property(install, L"INSTANCENAME").empty()) return ERROR_SUCCESS;
    vantrel::SettingsKey key(vantrel::NewSettingsKeyBackend());
    if (!key.OpenKeyReadOnly() || !key.ValueExists(u"instancename")) return ERROR_SUCCESS;
    const String name = key.ReadString(u"instancename");
    if (name.empty()) return ERROR_SUCCESS;
    MsiSetPropertyW(install, L"STOREDINSTANCENAME", vantrel::Wide(name));
    MsiSetPropertyW(install, L"INSTANCENAME", vantrel::Wide(name));
  } catch (...) {
    // A name that cannot be read is one not stored: the launch condition
    // asks for it.
  }
  return ERROR_SUCCESS;
}

// Deferred, as LocalSystem: CustomActionData (CHATURL) into "chaturl".
extern "C" __declspec(dllexport) UINT __stdcall WriteChatUrl(MSIHANDLE install) {
  return vantrel::WriteActionData(install, u"chaturl");
}

// Deferred, as LocalSystem: CustomActionData (DETAILS, a whole number) into
// "details" as a REG_DWORD.
extern "C" __declspec(dllexport) UINT __stdcall WriteDetails(MSIHANDLE install) {
  return vantrel::Run(install, u"writing details", [install] {
    const String text = vantrel::Property(install, L"CustomActionData");
    const std::optional<std::uint32_t> number = vantrel::WholeNumber<std::uint32_t>(vantrel::ToUtf8(text));
    if (!number) throw vantrel::Exception(u"DETAILS is no whole number: " + text);
    vantrel::SettingsKey key(vantrel::NewSettingsKeyBackend());
    vantrel::OpenForWriting(key);
    key.WriteInteger(u"details", static_cast<std::int32_t>(*number));
  });
}

// Deferred, as LocalSystem: CustomActionData (TLS) into "tls", as given;
// the service names a value it does not know when it reads it.
extern "C" __declspec(dllexport) UINT __stdcall WriteTls(MSIHANDLE install) {
  return vantrel::WriteActionData(install, u"tls");
}

// Deferred, as LocalSystem, after the program registered the service: the
// service manager starts it again a minute after a crash.
extern "C" __declspec(dllexport) UINT __stdcall ConfigureRecovery(MSIHANDLE install) {
  return vantrel::Run(install, u"setting the restart after a crash", [install] {
    using vantrel::ScHandle;
    const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) throw vantrel::Exception(vantrel::SystemErrorText(GetLastError()));
    const ScHandle service(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) throw vantrel::Exception(vantrel::SystemErrorText(GetLastError()));
    SC_HANDLE handle = service.get();
    vantrel::SetServiceRecovery(
        [handle](DWORD level, void* info) { return ChangeServiceConfig2W(handle, level, info); });
    vantrel::Log(install, u"VantrelSrv restarts a minute after a crash");
  });
}

// Immediate, before an earlier version is removed: VANTRELSTART = 1 when
// VantrelSrv runs now, so that the installation leaves it running.
extern "C" __declspec(dllexport) UINT __stdcall NoteRunningService(MSIHANDLE install) {
  using vantrel::ScHandle;
  const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const ScHandle service(scm ? OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS status{};
  if (service && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
      status.dwCurrentState != SERVICE_STOP_PENDING) {
    MsiSetPropertyW(install, L"VANTRELSTART", L"1");
    vantrel::Log(install, u"VantrelSrv runs: it is started again once installed");
  }
  return ERROR_SUCCESS;
}

// Deferred, as LocalSystem, once the service is registered and set up:
// starts it. A start that fails is logged and leaves the installation as it
// is (the service is there, to be started by hand).
extern "C" __declspec(dllexport) UINT __stdcall StartVantrelService(MSIHANDLE install) {
  using vantrel::ScHandle;
  const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const ScHandle service(scm ? OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_START) : nullptr);
  if (service && (StartServiceW(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)) {
    vantrel::Log(install, u"VantrelSrv started");
  } else {
    vantrel::Log(install, u"VantrelSrv could not be started: " + vantrel::SystemErrorText(GetLastError()));
  }
  return ERROR_SUCCESS;
}

// Immediate, before the settings are written: the settings as they stand
// become the data of the rollback action RestoreSettings (hidden: it may
// hold the token).
extern "C" __declspec(dllexport) UINT __stdcall SaveSettingsForRollback(MSIHANDLE install) {
  MsiSetPropertyW(install, L"RestoreSettings", vantrel::SettingsState().c_str());
  return ERROR_SUCCESS;
}

// Rollback of WriteChatUrl, WriteDetails, WriteTls and the name the program stores at
// its registration: the settings as they were before the installation.
extern "C" __declspec(dllexport) UINT __stdcall RestoreSettings(MSIHANDLE install) {
  const String state = vantrel::Property(install, L"CustomActionData");
  vantrel::RestoreSettings(std::wstring(vantrel::Wide(state)));
  return ERROR_SUCCESS;
}

// Immediate, before anything is removed or installed: the service as it
// stands becomes the data of the rollback action RestoreService. "0" when it
// is not registered; otherwise "1|", "1" or "0" for whether it runs, "|",
// its start type, "|", the length of its display name, "|", then its display
// name and its command line as they are (either may hold a "|").
extern "C" __declspec(dllexport) UINT __stdcall SaveServiceForRollback(MSIHANDLE install) {
  using vantrel::ScHandle;
  std::wstring state = L"0";
  const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const ScHandle service(scm ? OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                             : nullptr);
  DWORD size = 0;
  if (service && !QueryServiceConfigW(service.get(), nullptr, 0, &size) &&
      GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::vector<BYTE> buffer(size);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    SERVICE_STATUS status{};
    if (QueryServiceConfigW(service.get(), config, size, &size) && QueryServiceStatus(service.get(), &status)) {
      const bool runs = status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING;
      const std::wstring display = config->lpDisplayName ? config->lpDisplayName : L"";
      state = std::wstring(L"1|") + (runs ? L"1|" : L"0|") + std::to_wstring(config->dwStartType) + L"|" +
              std::to_wstring(display.size()) + L"|" + display +
              (config->lpBinaryPathName ? config->lpBinaryPathName : L"");
    }
  }
  MsiSetPropertyW(install, L"RestoreService", state.c_str());
  return ERROR_SUCCESS;
}

// Rollback of everything an installation or a removal does to the service:
// the stop and deletion (an upgrade's of the version it replaces too), the
// program's registration, the restart after a crash and the start.
// Scheduled before all of them, it runs after their rollbacks (in an
// upgrade that fails, the older version's runs last, after its files are
// back). The service is stopped, its process ended, as far as that takes
// half a minute at most (so the rollback can take the program's file away);
// one that was not there before is deleted; one that was is registered
// again as it was saved (its restart after a crash as the package sets it)
// and started when it ran. A start that fails (the program's file not back
// yet) leaves it registered.
extern "C" __declspec(dllexport) UINT __stdcall RestoreService(MSIHANDLE install) {
  using vantrel::ScHandle;
  const std::wstring state(vantrel::Wide(vantrel::Property(install, L"CustomActionData")));
  const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!scm) return ERROR_SUCCESS;
  ScHandle service(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
  if (service) vantrel::StopAndWait(service.get());
  // registered, runs, start type, display name, command line
  std::vector<std::wstring> fields;
  for (std::size_t at = 0; fields.size() < 4;) {
    const std::size_t bar = state.find(L'|', at);
    if (bar == std::wstring::npos) break;
    fields.push_back(state.substr(at, bar - at));
    at = bar + 1;
    if (fields.size() < 4) continue;
    const std::size_t length = std::wcstoul(fields[3].c_str(), nullptr, 10);
    if (length > state.size() - at) break;
    fields[3] = state.substr(at, length);
    fields.push_back(state.substr(at + length));
  }
  if (fields.size() != 5 || fields[0] != L"1") {
    if (service) DeleteService(service.get());
    vantrel::Log(install, u"VantrelSrv unregistered");
    return ERROR_SUCCESS;
  }
  const DWORD start = std::wcstoul(fields[2].c_str(), nullptr, 10);
  if (service) {
    ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL, fields[4].c_str(),
                         nullptr, nullptr, nullptr, nullptr, nullptr, fields[3].c_str());
  } else {
    service.reset(CreateServiceW(scm.get(), L"VantrelSrv", fields[3].c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL, fields[4].c_str(), nullptr,
                                 nullptr, nullptr, nullptr, nullptr));
  }
  if (!service) {
    vantrel::Log(install, u"VantrelSrv could not be registered again: " + vantrel::SystemErrorText(GetLastError()));
    return ERROR_SUCCESS;
  }
  SC_HANDLE handle = service.get();
  try {
    vantrel::SetServiceRecovery(
        [handle](DWORD level, void* info) { return ChangeServiceConfig2W(handle, level, info); });
  } catch (...) {
    // Registered without its restart after a crash: it runs all the same.
  }
  vantrel::Log(install, u"VantrelSrv registered again as it was");
  if (fields[1] == L"1" && StartServiceW(handle, 0, nullptr)) vantrel::Log(install, u"VantrelSrv started again");
  return ERROR_SUCCESS;
}
