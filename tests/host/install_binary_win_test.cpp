// The real program installing and removing itself with Wine's service
// manager; only the silent, successful runs, which show no box. The
// registration is the service alone: the restart after a crash and the event
// sources' message file are the package's (vantrel.msi) to set.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/host/run_program_win.h"
#include "tests/host/service_registration_win.h"

namespace {

using ScHandle = vantrel::UniqueHandle<SC_HANDLE, CloseServiceHandle>;

using namespace vantrel::testing;

TEST(InstallBinaryWin, SilentInstallRegistersThenSilentUninstallRemoves) {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_NE(scm.get(), nullptr) << GetLastError();
  {
    ScHandle stale(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
    if (stale.get()) DeleteService(stale.get());
  }
  DeleteEventSources();

  ASSERT_EQ(RunProgram(L"/install \"Wine testi\" /silent"), 0u);
  std::wstring executable;  // the registered path without its quotes
  {
    ScHandle service(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
    ASSERT_NE(service.get(), nullptr) << GetLastError();
    const std::optional<ServiceConfig> config = ReadServiceConfig(service.get());
    ASSERT_TRUE(config) << GetLastError();
    EXPECT_EQ(config->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(config->display_name, L"Vantrel");
    const std::wstring& path = config->binary_path;
    EXPECT_EQ(path.find(L' ') == std::wstring::npos, path.front() != L'"') << path;
    EXPECT_NE(path.find(L"vantrel.exe"), std::wstring::npos) << path;
    executable = path.front() == L'"' ? path.substr(1, path.size() - 2) : path;

    // No failure actions: Windows reads none; Wine keeps none at all
    // (ERROR_INVALID_LEVEL when they are read).
    if (const std::optional<Recovery> recovery = ReadRecovery(service.get())) {
      EXPECT_EQ(recovery->actions, (std::vector<std::pair<SC_ACTION_TYPE, DWORD>>{}));
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    }
  }
  EXPECT_FALSE(executable.empty());
  for (const wchar_t* source : kEventSources) EXPECT_FALSE(ReadEventSource(source)) << "a source was registered";

  ASSERT_EQ(RunProgram(L"/uninstall /silent"), 0u);
  ScHandle gone(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
  EXPECT_EQ(gone.get(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  for (const wchar_t* source : kEventSources) EXPECT_FALSE(ReadEventSource(source)) << "source left behind";
}

}  // namespace
