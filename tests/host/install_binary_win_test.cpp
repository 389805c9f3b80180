// The real program installing and removing itself with Wine's service
// manager; only the silent, successful runs, which show no box.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/host/run_program_win.h"

namespace {

using ScHandle = vantrel::UniqueHandle<SC_HANDLE, CloseServiceHandle>;

using vantrel::testing::RunProgram;

TEST(InstallBinaryWin, SilentInstallRegistersThenSilentUninstallRemoves) {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_NE(scm.get(), nullptr) << GetLastError();
  {
    ScHandle stale(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
    if (stale.get()) DeleteService(stale.get());
  }

  ASSERT_EQ(RunProgram(L"/install \"Wine testi\" /silent"), 0u);
  {
    ScHandle service(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
    ASSERT_NE(service.get(), nullptr) << GetLastError();
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, needed, &needed)) << GetLastError();
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_STREQ(config->lpDisplayName, L"Vantrel");
    const std::wstring path = config->lpBinaryPathName;
    EXPECT_EQ(path.find(L' ') == std::wstring::npos, path.front() != L'"') << path;
    EXPECT_NE(path.find(L"vantrel.exe"), std::wstring::npos) << path;
  }

  ASSERT_EQ(RunProgram(L"/uninstall /silent"), 0u);
  ScHandle gone(OpenServiceW(scm.get(), L"VantrelSrv", SERVICE_ALL_ACCESS));
  EXPECT_EQ(gone.get(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
