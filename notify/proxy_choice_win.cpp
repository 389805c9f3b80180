#include "notify/proxy_choice_win.h"

#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

// The strings WinHTTP hands out in its proxy structures, freed on every path.
using GlobalText = UniqueHandle<LPWSTR, GlobalFree>;

std::wstring Text(const GlobalText& s) { return s ? std::wstring(s.get()) : std::wstring(); }

// What a script or discovery answered: true when it answered at all (also
// with a direct connection), false when it had no answer.
bool AskForUrl(const ProxySources& sources, WINHTTP_AUTOPROXY_OPTIONS& opts, ProxyChoice& choice) {
  WINHTTP_PROXY_INFO info{};
  bool answered = sources.for_url(&opts, &info);
  if (!answered && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
    opts.fAutoLogonIfChallenged = TRUE;
    answered = sources.for_url(&opts, &info);
  }
  const GlobalText proxy(answered ? info.lpszProxy : nullptr), bypass(answered ? info.lpszProxyBypass : nullptr);
  if (answered && info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy)
    choice = ProxyChoice{true, Text(proxy), Text(bypass)};
  return answered;
}

// The machine's WinHTTP proxy (`netsh winhttp set proxy`), when it names
// one.
bool AskMachine(const ProxySources& sources, ProxyChoice& choice) {
  WINHTTP_PROXY_INFO info{};
  if (!sources.machine(&info)) return false;
  const GlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !proxy) return false;
  choice = ProxyChoice{true, Text(proxy), Text(bypass)};
  return true;
}

}  // namespace

// A service runs as LocalSystem, whose own configuration is almost always
// empty: without the machine's proxy (`netsh winhttp set proxy`) it could
// not post from a network that allows no direct connection.
ProxyChoice ChooseProxy(const ProxySources& sources) {
  ProxyChoice choice;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (sources.account(&ie)) {
    const GlobalText script(ie.lpszAutoConfigUrl), proxy(ie.lpszProxy), bypass(ie.lpszProxyBypass);
    if (script) {
      WINHTTP_AUTOPROXY_OPTIONS opts{};
      opts.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      opts.lpszAutoConfigUrl = script.get();
      if (AskForUrl(sources, opts, choice)) return choice;
    } else if (proxy) {
      return ProxyChoice{true, Text(proxy), Text(bypass)};
    }
  } else {
    // The configuration cannot be read (as for a service that does not
    // impersonate). The proxy an administrator set for the machine comes
    // first; discovery (DHCP and DNS "wpad") only without one, since its
    // answer, even "direct", could come from anyone on the network. It never
    // runs for a configuration that can be read: the account's auto-detect
    // flag is set by default almost everywhere.
    if (AskMachine(sources, choice)) return choice;
    WINHTTP_AUTOPROXY_OPTIONS opts{};
    opts.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    opts.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    AskForUrl(sources, opts, choice);
    return choice;
  }
  AskMachine(sources, choice);
  return choice;
}

ProxySources WinHttpProxySources(HINTERNET session, const String& url) {
  return ProxySources{
      WinHttpGetIEProxyConfigForCurrentUser,
      [session, url](WINHTTP_AUTOPROXY_OPTIONS* opts, WINHTTP_PROXY_INFO* info) {
        return WinHttpGetProxyForUrl(session, Wide(url), opts, info);
      },
      WinHttpGetDefaultProxyConfiguration,
  };
}

}  // namespace vantrel
