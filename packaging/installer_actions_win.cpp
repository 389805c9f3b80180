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

#include <string>

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
  return vantrel::Run(install, u"writing chaturl", [install] {
    const String url = vantrel::Property(install, L"CustomActionData");
    vantrel::SettingsKey key(vantrel::NewSettingsKeyBackend());
    vantrel::OpenForWriting(key);
    key.WriteString(u"chaturl", url);
  });
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

// Deferred, as LocalSystem, after the program registered the service: the
// service manager starts it again a minute after a crash.
extern "C" __declspec(dllexport) UINT __stdcall ConfigureRecovery(MSIHANDLE install) {
  return vantrel::Run(install, u"setting the restart after a crash", [install] {
    using ScHandle = vantrel::UniqueHandle<SC_HANDLE, CloseServiceHandle>;
    const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) throw vantrel::Exception(vantrel::SystemErrorText(GetLastError()));
    const ScHandle service(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) throw vantrel::Exception(vantrel::SystemErrorText(GetLastError()));
    SC_HANDLE handle = service.get();
    vantrel::SetServiceRecovery([handle](DWORD level, void* info) { return ChangeServiceConfig2W(handle, level, info); });
    vantrel::Log(install, u"VantrelSrv restarts a minute after a crash");
  });
}

// Immediate, before an earlier version is removed: VANTRELSTART = 1 when
// VantrelSrv runs now, so that the installation leaves it running.
extern "C" __declspec(dllexport) UINT __stdcall NoteRunningService(MSIHANDLE install) {
  using ScHandle = vantrel::UniqueHandle<SC_HANDLE, CloseServiceHandle>;
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
  using ScHandle = vantrel::UniqueHandle<SC_HANDLE, CloseServiceHandle>;
  const ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const ScHandle service(scm ? OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_START) : nullptr);
  if (service && (StartServiceW(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)) {
    vantrel::Log(install, u"VantrelSrv started");
  } else {
    vantrel::Log(install, u"VantrelSrv could not be started: " + vantrel::SystemErrorText(GetLastError()));
  }
  return ERROR_SUCCESS;
}
