// vantrel.msi under Wine's msiexec, as an administrator deploys it to a
// fleet: a quiet install with the instance name and the webhook on the
// command line, the service started by net start posting its start notice,
// an upgrade and a repair that keep every setting and the stored record
// number, and a removal that leaves nothing of the service but the settings
// (unless REMOVESETTINGS=1 asks for them too).
#include <windows.h>

#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/host/service_registration_win.h"
#include "tests/e2e/service_control_win.h"
#include "tests/watch/wmi_standin/standin_setup.h"

namespace {

using namespace vantrel::testing;

constexpr wchar_t kUpgradeCode[] = L"{6B0E2C4B-7F7A-4C1E-9E55-3C5D2A8F1A17}";

// The Windows path of a file of the build folder: Wine names the Unix root
// as a drive.
std::wstring WindowsPath(const char* unix_path) {
  using ToDos = WCHAR*(CDECL*)(const char*);
  auto to_dos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  const std::string path(unix_path);
  if (to_dos == nullptr) return std::wstring(path.begin(), path.end());
  WCHAR* dos = to_dos(unix_path);
  if (dos == nullptr) return std::wstring();
  std::wstring out(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return out;
}

std::wstring ExpandedPath(const wchar_t* text) {
  wchar_t out[MAX_PATH];
  const DWORD n = ExpandEnvironmentStringsW(text, out, MAX_PATH);
  return n > 0 && n <= MAX_PATH ? std::wstring(out) : std::wstring();
}

DWORD Msiexec(const std::wstring& arguments) { return RunCommandLine(L"msiexec.exe " + arguments); }

// Every installed product of the package's family, by its product code.
std::vector<std::wstring> InstalledProducts() {
  std::vector<std::wstring> products;
  wchar_t code[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i) products.push_back(code);
  return products;
}

std::optional<std::wstring> SettingText(const wchar_t* name) {
  wchar_t value[512];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

std::optional<DWORD> SettingNumber(const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool SettingsKeyExists() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
  RegCloseKey(raw);
  return true;
}

// The settings key's access list in the security descriptor language;
// nothing when it cannot be read.
std::optional<std::wstring> SettingsKeyAccessList() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, READ_CONTROL, &raw) != ERROR_SUCCESS) return std::nullopt;
  std::string buffer(4096, '\0');
  DWORD size = static_cast<DWORD>(buffer.size());
  const LSTATUS read = RegGetKeySecurity(raw, DACL_SECURITY_INFORMATION, buffer.data(), &size);
  RegCloseKey(raw);
  LPWSTR text = nullptr;
  if (read != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                   buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return std::nullopt;
  }
  std::wstring out(text);
  LocalFree(text);
  return out;
}

void DeleteSettingsKey() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey);
}

// The custom action type bit that keeps an action's target and data out of
// the log (msidbCustomActionTypeHideTarget).
constexpr int kHideTarget = 0x2000;

// Every custom action of the package: its name, type and target.
struct CustomActionRow {
  std::wstring action;
  int type = 0;
  std::wstring target;
};

std::vector<CustomActionRow> CustomActions(const std::wstring& package) {
  std::vector<CustomActionRow> rows;
  MSIHANDLE database = 0, view = 0, record = 0;
  if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return rows;
  if (MsiDatabaseOpenViewW(database, L"SELECT `Action`, `Type`, `Target` FROM `CustomAction`", &view) ==
          ERROR_SUCCESS &&
      MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      CustomActionRow row;
      for (UINT field : {1u, 3u}) {
        wchar_t text[1024];
        DWORD size = 1024;
        if (MsiRecordGetStringW(record, field, text, &size) == ERROR_SUCCESS) {
          (field == 1 ? row.action : row.target) = std::wstring(text, size);
        }
      }
      row.type = MsiRecordGetInteger(record, 2);
      rows.push_back(row);
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  return rows;
}

// A file of that name in the temporary folder, not there yet.
std::wstring TempPath(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp, n) + name;
  DeleteFileW(path.c_str());
  return path;
}

// The lines of an installer log (Wine writes it in the ANSI code page) that
// hold text, from it on, without the line end.
std::vector<std::string> LogLinesWith(const std::wstring& log, const std::string& text) {
  std::vector<std::string> lines;
  std::ifstream file(std::filesystem::path(log), std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    const std::size_t at = line.find(text);
    if (at == std::string::npos) continue;
    line = line.substr(at);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A property of the package's Property table; empty when it has none.
std::wstring PackageProperty(const std::wstring& package, const wchar_t* name) {
  std::wstring value;
  MSIHANDLE database = 0;
  if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return value;
  MSIHANDLE view = 0, record = 0;
  const std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property` = '" + std::wstring(name) + L"'";
  if (MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS) {
    if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      wchar_t text[1024];
      DWORD size = 1024;
      if (MsiRecordGetStringW(record, 1, text, &size) == ERROR_SUCCESS) value.assign(text, size);
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  return value;
}

// The rows of a query on the package's tables, each column as text
// (an integer column as its number; an empty cell as "").
std::vector<std::vector<std::wstring>> PackageRows(const std::wstring& package, const wchar_t* query, UINT columns) {
  std::vector<std::vector<std::wstring>> rows;
  MSIHANDLE database = 0, view = 0, record = 0;
  if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return rows;
  if (MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      std::vector<std::wstring> row;
      for (UINT field = 1; field <= columns; ++field) {
        wchar_t text[1024];
        DWORD size = 1024;
        row.push_back(MsiRecordGetStringW(record, field, text, &size) == ERROR_SUCCESS ? std::wstring(text, size)
                                                                                       : std::wstring());
      }
      rows.push_back(row);
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  return rows;
}

class MsiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }

  // No Vantrel product, service, event source or test value is left.
  static void Clean() {
    for (const std::wstring& product : InstalledProducts()) Msiexec(L"/x " + product + L" /qn");
    RemoveService();
    DeleteEventSources();
    DeleteTestValues();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", L"details");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", L"tls");
  }

  // The service's registration, which must be the one /install makes.
  void ExpectRegisteredAsInstallMakesIt(const char* when) {
    SCOPED_TRACE(when);
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    const std::optional<ServiceConfig> config = ReadServiceConfig(service.get());
    ASSERT_TRUE(config);
    EXPECT_EQ(config->binary_path, L"\"" + program_ + L"\"");  // the path holds a blank
    EXPECT_EQ(config->display_name, L"Vantrel");
    EXPECT_EQ(config->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    if (const std::optional<Recovery> recovery = ReadRecovery(service.get())) {  // not under Wine
      EXPECT_EQ(recovery->actions, (std::vector<std::pair<SC_ACTION_TYPE, DWORD>>{{SC_ACTION_RESTART, 60000}}));
    }
    for (const wchar_t* source : kEventSources) {
      const std::optional<EventSourceEntry> entry = ReadEventSource(source);
      ASSERT_TRUE(entry) << "no event source";
      EXPECT_EQ(entry->message_file, program_);
      EXPECT_EQ(entry->types, 7u);
    }
    EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES) << "no program";
  }

  void ExpectNothingOfTheServiceLeft() {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    EXPECT_FALSE(service);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    for (const wchar_t* source : kEventSources) EXPECT_FALSE(ReadEventSource(source)) << "event source left";
    EXPECT_EQ(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES) << "program left";
    EXPECT_EQ(InstalledProducts(), std::vector<std::wstring>{});
  }

  // The service's state now; nothing when it is not registered.
  static std::optional<DWORD> ServiceState() {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) return std::nullopt;
    return status.dwCurrentState;
  }

  // The service runs (it may still be starting).
  static void ExpectRunning(const char* when) {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << when << ": " << GetLastError();
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    EXPECT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING) << when << ": the service does not run";
  }

  const std::wstring msi_ = WindowsPath(VANTREL_MSI);
  const std::wstring next_msi_ = WindowsPath(VANTREL_NEXT_MSI);
  const std::wstring same_msi_ = WindowsPath(VANTREL_SAME_MSI);
  const std::wstring failing_msi_ = WindowsPath(VANTREL_FAILING_MSI);
  const std::wstring failing_next_msi_ = WindowsPath(VANTREL_FAILING_NEXT_MSI);
  const std::wstring program_ = ExpandedPath(L"%ProgramFiles%\\Vantrel\\vantrel.exe");
};

TEST_F(MsiEndToEnd, QuietInstallStartUpgradeRepairAndRemoval) {
  const std::wstring computer = ComputerNameVariable();
  ASSERT_FALSE(computer.empty());
  ASSERT_FALSE(msi_.empty());
  TestServer chat({Answer("HTTP/1.1 200 OK")});
  const std::string url = chat.Url("/hook");

  // The administrator's one command.
  const std::wstring log = TempPath(L"vantrel-msi-install.log");
  ASSERT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn /l*v \"" + log + L"\" INSTANCENAME=\"Demo 1\" CHATURL=" +
                    std::wstring(url.begin(), url.end()) + L" DETAILS=1 TLS=verify"),
            0u);
  ExpectRegisteredAsInstallMakesIt("after the install");
  // The package set the restart after a crash (Wine keeps no failure
  // actions to read back: the package's action says so in the log), and
  // started the service, which posts its start notice.
  EXPECT_EQ(
      LogLinesWith(log, "Vantrel: "),
      (std::vector<std::string>{"Vantrel: VantrelSrv restarts a minute after a crash", "Vantrel: VantrelSrv started"}));
  DeleteFileW(log.c_str());
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"Demo 1"));
  EXPECT_EQ(SettingText(L"chaturl"), std::optional<std::wstring>(std::wstring(url.begin(), url.end())));
  EXPECT_EQ(SettingNumber(L"details"), std::optional<DWORD>(1));
  EXPECT_EQ(SettingText(L"tls"), std::optional<std::wstring>(L"verify"));
  ExpectRunning("after the first installation");
  ASSERT_TRUE(WaitForRequests(chat, 1, 20000)) << "no notice reached the webhook";
  EXPECT_EQ(chat.Requests().front().body,
            "{\"text\":\"PSQL lisenssivalvonta k\xC3\xA4ynnistetty Demo 1, koneen nimi " + Utf8(computer) + "\"}");
  EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(0));
  ASSERT_EQ(SetStoredRecordNumber(41), ERROR_SUCCESS);  // the mark of later checks

  // An upgrade without any property, then a repair, while the service runs:
  // the settings and the mark stay, the name is taken from the settings,
  // the service is registered as before and runs again afterwards.
  ASSERT_EQ(Msiexec(L"/i \"" + next_msi_ + L"\" /qn"), 0u);
  const std::vector<std::wstring> products = InstalledProducts();
  ASSERT_EQ(products.size(), 1u) << "the older version is still installed";
  ExpectRunning("after the upgrade");
  // A repair of every file (msiexec /fa CODE /qn; Wine's msiexec takes no
  // product code, its msi.dll does).
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  ASSERT_EQ(MsiReinstallProductW(products.front().c_str(), REINSTALLMODE_FILEREPLACE | REINSTALLMODE_MACHINEDATA |
                                                               REINSTALLMODE_USERDATA | REINSTALLMODE_SHORTCUT),
            static_cast<UINT>(ERROR_SUCCESS));
  ExpectRunning("after the repair");
  ExpectRegisteredAsInstallMakesIt("after the upgrade and the repair");
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"Demo 1"));
  EXPECT_EQ(SettingText(L"chaturl"), std::optional<std::wstring>(std::wstring(url.begin(), url.end())));
  EXPECT_EQ(SettingNumber(L"details"), std::optional<DWORD>(1));
  EXPECT_EQ(SettingText(L"tls"), std::optional<std::wstring>(L"verify"));
  EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(41));

  // A stopped service stays stopped through a repair.
  ASSERT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
  ASSERT_EQ(MsiReinstallProductW(products.front().c_str(), REINSTALLMODE_FILEREPLACE | REINSTALLMODE_MACHINEDATA),
            static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_EQ(ServiceState(), std::optional<DWORD>(SERVICE_STOPPED));

  // Removal: the service, its sources and the program go; the settings and
  // the mark stay for a later installation.
  ASSERT_EQ(Msiexec(L"/x \"" + next_msi_ + L"\" /qn"), 0u);
  ExpectNothingOfTheServiceLeft();
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"Demo 1"));
  EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(41));

  // Installed again with the stored name, and removed with its settings.
  ASSERT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn"), 0u);
  ExpectRegisteredAsInstallMakesIt("installed again");
  ASSERT_EQ(Msiexec(L"/x \"" + msi_ + L"\" /qn REMOVESETTINGS=1"), 0u);
  ExpectNothingOfTheServiceLeft();
  EXPECT_FALSE(SettingsKeyExists());
  EXPECT_EQ(chat.Requests().size(), 1u);
}

// A package of the same version built again replaces the installed one
// (not a second "Vantrel 1.0.0" beside it), and a name that begins with "#"
// is kept as it is by every installation that takes the stored name.
TEST_F(MsiEndToEnd, ARebuiltPackageReplacesTheInstalledOneAndAHashNameIsKept) {
  ASSERT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn INSTANCENAME=\"#1 Prod\" CHATURL=http://127.0.0.1:9/hook"), 0u);
  const std::vector<std::wstring> first = InstalledProducts();
  ASSERT_EQ(first.size(), 1u);

  ASSERT_EQ(Msiexec(L"/i \"" + same_msi_ + L"\" /qn"), 0u);
  const std::vector<std::wstring> rebuilt = InstalledProducts();
  ASSERT_EQ(rebuilt.size(), 1u) << "the rebuilt package was installed beside the first";
  EXPECT_NE(rebuilt.front(), first.front()) << "the rebuilt package was not installed";
  ExpectRegisteredAsInstallMakesIt("after the rebuilt package");
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"#1 Prod"));

  ASSERT_EQ(Msiexec(L"/i \"" + next_msi_ + L"\" /qn"), 0u);
  EXPECT_EQ(InstalledProducts().size(), 1u);
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"#1 Prod")) << "after the upgrade";
}

// The webhook's token: the key the installation makes is for SYSTEM and the
// administrators alone; the token is on no command line the package runs
// (only the hidden action that hands it to the deferred one names it) and
// never in the installer's log.
TEST_F(MsiEndToEnd, TheTokenStaysInAKeyForAdministratorsAndOutOfTheLog) {
  EXPECT_EQ(PackageProperty(msi_, L"MsiHiddenProperties"), L"CHATURL;WriteChatUrl;RestoreSettings");
  for (const CustomActionRow& row : CustomActions(msi_)) {
    if (row.target.find(L"CHATURL") != std::wstring::npos) {
      EXPECT_EQ(row.action, L"SetWriteChatUrl") << "the token on a command line";
      EXPECT_NE(row.type & kHideTarget, 0) << "not hidden";
    }
    if (row.action == L"WriteChatUrl" || row.action == L"RestoreSettings") {
      EXPECT_NE(row.type & kHideTarget, 0) << "not hidden";
    }
  }

  DeleteSettingsKey();
  const std::wstring log = TempPath(L"vantrel-msi-token.log");
  DeleteFileW(log.c_str());
  const std::wstring token = L"TOKENSHOULDNOTSHOW7261";
  ASSERT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn /l*v \"" + log +
                    L"\" INSTANCENAME=\"Demo 1\" "
                    L"CHATURL=http://127.0.0.1:9/hooks/ID/" +
                    token),
            0u);
  EXPECT_EQ(SettingText(L"chaturl"), std::optional<std::wstring>(L"http://127.0.0.1:9/hooks/ID/" + token));
  EXPECT_EQ(SettingsKeyAccessList(), std::optional<std::wstring>(L"D:P(A;;KA;;;SY)(A;;KA;;;BA)"));

  // Wine's msiexec writes its log in the ANSI code page, one line a record.
  // At its end it lists every property, the hidden ones too (Windows leaves
  // out those MsiHiddenProperties names, checked above): that list is
  // Wine's, not the package's, and is passed over.
  std::ifstream file(std::filesystem::path(log), std::ios::binary);
  const std::string narrow(token.begin(), token.end());
  int lines = 0;
  for (std::string line; std::getline(file, line); ++lines) {
    if (line.rfind("Property(", 0) == 0) continue;
    EXPECT_EQ(line.find(narrow), std::string::npos) << "the token is in the log: " << line;
  }
  EXPECT_GT(lines, 0) << "no log was written";
  DeleteFileW(log.c_str());
}

// An installation that fails after every action that changes the machine
// has run (the service registered, set up and started, the settings
// written) is rolled back whole: no product, service, source or file, and
// the settings as they were (a key it made is gone).
TEST_F(MsiEndToEnd, AFailedInstallationLeavesNothingBehind) {
  struct Row {
    const char* name;
    std::optional<std::wstring> old_url;  // the settings before it, when there were any
    std::optional<std::wstring> old_name;
  } rows[] = {
      {"a first installation", std::nullopt, std::nullopt},
      {"over settings of an earlier installation", L"http://127.0.0.1:9/old", L"Old name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteSettingsKey();
    if (row.old_url) {
      ASSERT_EQ(SetChatUrl(std::string(row.old_url->begin(), row.old_url->end())), ERROR_SUCCESS);
      ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"instancename", REG_SZ, row.old_name->c_str(),
                                static_cast<DWORD>((row.old_name->size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    }
    // Windows ends with 1603 (ERROR_INSTALL_FAILURE), Wine's msiexec with 1627.
    EXPECT_NE(Msiexec(L"/i \"" + failing_msi_ + L"\" /qn INSTANCENAME=\"New name\" CHATURL=http://127.0.0.1:9/new"),
              0u);
    ExpectNothingOfTheServiceLeft();
    EXPECT_EQ(SettingsKeyExists(), row.old_url.has_value());
    EXPECT_EQ(SettingText(L"chaturl"), row.old_url);
    EXPECT_EQ(SettingText(L"instancename"), row.old_name);
    EXPECT_EQ(SettingNumber(L"details"), std::nullopt);
  }
}

// Without an instance name, and none stored, the first installation is
// refused before anything is installed: the program would otherwise ask for
// the name in a dialog nobody sees.
TEST_F(MsiEndToEnd, AFirstInstallWithoutInstanceNameIsRefused) {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"instancename");
  EXPECT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn CHATURL=http://127.0.0.1:9/hook"),
            static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  ExpectNothingOfTheServiceLeft();
  EXPECT_EQ(SettingText(L"chaturl"), std::nullopt);
}

// By the installer's contract, read in the package's tables (Wine's msiexec
// removes an older version in an installation of its own, which no rollback
// brings back, so this part cannot be seen there): the older version is
// removed inside the installation's transaction, right after
// InstallInitialize, so a failed upgrade restores it; and every deferred
// action that changes the machine has a rollback partner that covers it,
// scheduled before it, so it runs after the action's own undoing.
TEST_F(MsiEndToEnd, EveryChangeHasARollbackPartnerAndAnUpgradeIsOneTransaction) {
  std::map<std::wstring, int> sequence;
  std::map<std::wstring, std::wstring> condition;
  for (const auto& row :
       PackageRows(msi_, L"SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence`", 3)) {
    sequence[row[0]] = std::stoi(row[2]);
    condition[row[0]] = row[1];
  }
  std::map<std::wstring, int> type;
  for (const CustomActionRow& row : CustomActions(msi_)) type[row.action] = row.type;
  ASSERT_TRUE(sequence.count(L"InstallInitialize") && sequence.count(L"RemoveExistingProducts"));

  const int initialize = sequence[L"InstallInitialize"], removal = sequence[L"RemoveExistingProducts"];
  EXPECT_GT(removal, initialize) << "the older version is removed outside the transaction";
  for (const auto& [action, at] : sequence) {
    EXPECT_FALSE(at > initialize && at < removal) << action << " comes between InstallInitialize and the removal";
  }

  // What each partner puts back, and what changes nothing to undo.
  const std::map<std::wstring, std::vector<std::wstring>> partners = {
      {L"WriteChatUrl", {L"RestoreSettings"}},
      {L"WriteDetails", {L"RestoreSettings"}},
      {L"WriteTls", {L"RestoreSettings"}},
      {L"RegisterService", {L"RestoreService", L"RestoreSettings"}},  // it stores the name
      {L"ConfigureRecovery", {L"RestoreService"}},
      {L"StartVantrelService", {L"RestoreService"}},
      {L"StopServices", {L"RestoreService"}},
      {L"DeleteServices", {L"RestoreService"}},
      {L"CheckService", {}},
  };
  // The settings are written by installations alone; the service is
  // stopped and deleted by removals (also the older version's in an
  // upgrade) too.
  const std::map<std::wstring, std::wstring> partner_condition = {{L"RestoreSettings", L"NOT REMOVE~=\"ALL\""},
                                                                  {L"RestoreService", L""}};
  constexpr int kInScript = 0x400, kRollback = 0x100, kCommit = 0x200;
  for (const auto& [action, at] : sequence) {
    const bool deferred = type.count(action) && (type[action] & (kInScript | kRollback | kCommit)) == kInScript;
    if (!deferred && !partners.count(action)) continue;
    SCOPED_TRACE(std::string(action.begin(), action.end()));
    ASSERT_TRUE(partners.count(action)) << "a deferred action without a rollback partner";
    for (const std::wstring& partner : partners.at(action)) {
      ASSERT_TRUE(sequence.count(partner) && type.count(partner));
      EXPECT_EQ(type[partner] & (kInScript | kRollback | kCommit), kInScript | kRollback);
      EXPECT_LT(sequence[partner], at) << "the partner comes after the action";
      EXPECT_EQ(condition[partner], partner_condition.at(partner));
    }
  }
}

// An upgrade that fails after every action that changes the machine has run
// (the newer version registered, set up and started, the new webhook
// written) leaves the settings, the stored number and the service's
// registration as they were. Wine's msiexec removes the older version in an
// installation no rollback reaches, so its files and product (and with them
// the service's start) are not looked for here: the case above reads them
// in the package's tables.
TEST_F(MsiEndToEnd, AFailedUpgradeLeavesTheServiceAndTheSettingsAsTheyWere) {
  TestServer chat({Answer("HTTP/1.1 200 OK")});
  const std::string url = chat.Url("/hook");
  const std::wstring old_url(url.begin(), url.end());
  ASSERT_EQ(Msiexec(L"/i \"" + msi_ + L"\" /qn INSTANCENAME=\"Demo 1\" CHATURL=" + old_url), 0u);
  ExpectRunning("before the upgrade");
  ASSERT_TRUE(WaitForRequests(chat, 1, 20000)) << "no notice reached the webhook";
  ASSERT_EQ(SetStoredRecordNumber(41), ERROR_SUCCESS);
  std::optional<ServiceConfig> before;
  {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    // A display name an administrator gave, with the bar that separates
    // the saved values in it.
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, L"Vantrel | Prod"));
    before = ReadServiceConfig(service.get());
  }
  ASSERT_TRUE(before);

  EXPECT_NE(Msiexec(L"/i \"" + failing_next_msi_ +
                    L"\" /qn INSTANCENAME=\"New name\" CHATURL=http://127.0.0.1:9/new DETAILS=1"),
            0u);
  EXPECT_EQ(SettingText(L"chaturl"), std::optional<std::wstring>(old_url));
  EXPECT_EQ(SettingText(L"instancename"), std::optional<std::wstring>(L"Demo 1"));
  EXPECT_EQ(SettingNumber(L"details"), std::nullopt);
  EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(41));
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service) << "the service is gone: " << GetLastError();
  const std::optional<ServiceConfig> after = ReadServiceConfig(service.get());
  ASSERT_TRUE(after);
  EXPECT_EQ(after->binary_path, before->binary_path);
  EXPECT_EQ(after->display_name, before->display_name);
  EXPECT_EQ(after->start, before->start);
  EXPECT_EQ(after->type, before->type);
}

// An upgrade while the problems notice's post is held by the webhook: the
// upgrade's stop ends the post within its bound, the newer version is
// installed and runs, and the notice is not lost. Without an answer the
// newer version posts it again (to the webhook the settings name by then)
// and stores the mark on its 200; after a 200's head the mark was stored at
// the stop and the newer version asks above it.
TEST_F(MsiEndToEnd, AnUpgradeDuringAHeldPostEndsThePostAndInstalls) {
  WmiStandIn standin(VANTREL_WMI_STANDIN);
  ASSERT_TRUE(standin.Registered());
  StandInFixture log;
  log.entries = {PervasiveEntry(21, 1)};
  struct Row {
    const char* name;
    std::vector<std::string> answers;
    TestServer::Reply reply;
    DWORD stored_at_stop;
    std::size_t posted_again;
  } rows[] = {
      {"no answer", {}, TestServer::Reply::kSilent, 20, 1},
      {"a 200's head, then silence",
       {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n12345"},
       TestServer::Reply::kThenSilent,
       21,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Clean();
    ASSERT_EQ(SetStoredRecordNumber(20), ERROR_SUCCESS);
    ASSERT_TRUE(standin.Answer(log));
    TestServer held(row.answers, row.reply);
    const std::string url = held.Url("/hook");
    ASSERT_EQ(
        Msiexec(L"/i \"" + msi_ + L"\" /qn INSTANCENAME=\"Demo 1\" CHATURL=" + std::wstring(url.begin(), url.end())),
        0u);
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    std::optional<SERVICE_STATUS_PROCESS> running;
    {
      ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_QUERY_STATUS));
      running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    }
    ASSERT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
    const ProcessHandle posting(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, running->dwProcessId));
    ASSERT_TRUE(posting) << GetLastError();
    ASSERT_TRUE(WaitForRequests(held, 1, 20000)) << "no notice reached the webhook";

    // The webhook of later posts (the held one keeps its single connection),
    // and the newer version's own call log.
    TestServer chat({Answer("HTTP/1.1 200 OK")});
    ASSERT_EQ(SetChatUrl(chat.Url("/hook")), ERROR_SUCCESS);
    ASSERT_TRUE(standin.Answer(log));

    ASSERT_EQ(Msiexec(L"/i \"" + next_msi_ + L"\" /qn"), 0u);
    ASSERT_EQ(WaitForSingleObject(posting.get(), 0), WAIT_OBJECT_0) << "the service that held the post still runs";
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeProcess(posting.get(), &code) && code == 0) << code;
    EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(row.stored_at_stop));
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    wchar_t version[64];
    DWORD size = 64;
    ASSERT_EQ(MsiGetProductInfoW(products.front().c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(version, size), PackageProperty(next_msi_, L"ProductVersion"));
    ExpectRunning("after the upgrade");

    // The newer version's check asks above the mark stored at the stop.
    const std::string asked = "RecordNumber > " + std::to_string(row.stored_at_stop) + ",";
    bool queried = false;
    for (DWORD waited = 0; !queried && waited < 20000; waited += kPollMs) {
      for (const std::string& call : standin.Calls()) queried = queried || call.find(asked) != std::string::npos;
      if (!queried) Sleep(kPollMs);
    }
    EXPECT_TRUE(queried) << "the newer version did not check";
    if (row.posted_again > 0) {
      ASSERT_TRUE(WaitForRequests(chat, row.posted_again, 20000)) << "the notice was lost";
      EXPECT_EQ(chat.Requests().front().body, held.Requests().front().body);
    }
    for (DWORD waited = 0; StoredRecordNumber() != std::optional<DWORD>(21) && waited < 20000; waited += kPollMs) {
      Sleep(kPollMs);
    }
    EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(21));
    EXPECT_EQ(chat.Requests().size(), row.posted_again);
    EXPECT_EQ(held.Requests().size(), 1u);
  }
}

}  // namespace
