// The proxy a WinHTTP attempt goes through, from the account's
// configuration, automatic discovery and the machine's WinHTTP proxy
// (what `netsh winhttp set proxy` sets), given as recording stand-ins.
#include "notify/proxy_choice_win.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {
namespace {

LPWSTR GlobalCopy(const std::wstring& s) {
  auto* p = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, (s.size() + 1) * sizeof(wchar_t)));
  std::wmemcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// An answer of a source: none (the call fails), L"" (a direct connection)
// or a proxy.
using Answer = std::optional<std::wstring>;
const Answer kNone = std::nullopt;
const Answer kDirect = std::wstring();

enum class Account { kUnreadable, kEmpty, kDiscover, kScript, kScriptAndDiscover, kFixed };

struct Row {
  const char* name;
  Account account;
  Answer script, discovery, machine;
  std::wstring chosen;  // empty: direct
  std::string asked;    // the sources asked, in order: a(ccount) s(cript) d(iscovery) m(achine)
  bool script_needs_logon = false;
};

TEST(ProxyChoice, Table) {
  const Row rows[] = {
      {"LocalSystem: nothing configured anywhere", Account::kEmpty, kNone, kNone, kNone, L"", "am"},
      {"LocalSystem behind the machine's proxy", Account::kEmpty, kNone, kNone, L"m:8080", L"m:8080", "am"},
      // The configuration cannot be read (a service that does not
      // impersonate): the machine's proxy, when set, before discovery.
      {"unreadable configuration: the machine's proxy first", Account::kUnreadable, kNone, L"d:3128", L"m:8080",
       L"m:8080", "am"},
      {"unreadable configuration: discovery's direct loses", Account::kUnreadable, kNone, kDirect, L"m:8080", L"m:8080",
       "am"},
      {"unreadable configuration, no machine proxy: discovery", Account::kUnreadable, kNone, L"d:3128", kNone,
       L"d:3128", "amd"},
      {"unreadable configuration, nothing anywhere", Account::kUnreadable, kNone, kNone, kNone, L"", "amd"},
      {"the account's auto-detect flag starts no discovery", Account::kDiscover, kNone, L"d:3128", L"m:8080", L"m:8080",
       "am"},
      {"the account's fixed proxy wins", Account::kFixed, kNone, L"d:3128", L"m:8080", L"a:80", "a"},
      {"the account's script wins", Account::kScript, L"s:1", L"d:3128", L"m:8080", L"s:1", "as"},
      {"the account's script says direct", Account::kScript, kDirect, kNone, L"m:8080", L"", "as"},
      {"the script has no answer", Account::kScript, kNone, L"d:3128", L"m:8080", L"m:8080", "asm"},
      {"the script has no answer, auto-detect set", Account::kScriptAndDiscover, kNone, L"d:3128", L"m:8080", L"m:8080",
       "asm"},
      {"the script wants a logon", Account::kScript, L"s:1", kNone, kNone, L"s:1", "ass", true},
  };
  for (const Row& row : rows) {
    std::string asked;
    ProxySources sources;
    sources.account = [&](WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* ie) -> BOOL {
      asked += 'a';
      if (row.account == Account::kUnreadable) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
      }
      ie->fAutoDetect = row.account == Account::kDiscover || row.account == Account::kScriptAndDiscover;
      if (row.account == Account::kScript || row.account == Account::kScriptAndDiscover)
        ie->lpszAutoConfigUrl = GlobalCopy(L"http://wpad.example/proxy.pac");
      if (row.account == Account::kFixed) {
        ie->lpszProxy = GlobalCopy(L"a:80");
        ie->lpszProxyBypass = GlobalCopy(L"<local>");
      }
      return TRUE;
    };
    auto answer = [](const Answer& a, WINHTTP_PROXY_INFO* info) -> BOOL {
      if (!a) {
        SetLastError(ERROR_WINHTTP_AUTODETECTION_FAILED);
        return FALSE;
      }
      info->dwAccessType = a->empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      if (!a->empty()) info->lpszProxy = GlobalCopy(*a);
      return TRUE;
    };
    sources.for_url = [&](WINHTTP_AUTOPROXY_OPTIONS* opts, WINHTTP_PROXY_INFO* info) -> BOOL {
      if (opts->dwFlags == WINHTTP_AUTOPROXY_CONFIG_URL) {
        asked += 's';
        if (row.script_needs_logon && !opts->fAutoLogonIfChallenged) {
          SetLastError(ERROR_WINHTTP_LOGIN_FAILURE);
          return FALSE;
        }
        return answer(row.script, info);
      }
      asked += 'd';
      EXPECT_EQ(opts->dwFlags, static_cast<DWORD>(WINHTTP_AUTOPROXY_AUTO_DETECT)) << row.name;
      EXPECT_EQ(opts->dwAutoDetectFlags,
                static_cast<DWORD>(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A))
          << row.name;
      return answer(row.discovery, info);
    };
    sources.machine = [&](WINHTTP_PROXY_INFO* info) -> BOOL {
      asked += 'm';
      return answer(row.machine ? row.machine : kDirect, info);
    };

    const ProxyChoice choice = ChooseProxy(sources);
    EXPECT_EQ(choice.named, !row.chosen.empty()) << row.name;
    EXPECT_EQ(choice.proxy, row.chosen) << row.name;
    EXPECT_EQ(asked, row.asked) << row.name;
    EXPECT_EQ(choice.bypass, row.account == Account::kFixed && !row.chosen.empty() ? L"<local>" : L"") << row.name;
  }
}

}  // namespace
}  // namespace vantrel
