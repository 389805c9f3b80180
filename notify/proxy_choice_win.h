// Which proxy a WinHTTP attempt goes through. Windows only.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <string>

#include "platform/text.h"

namespace vantrel {

// The proxy an attempt is sent through; not named means a direct connection.
struct ProxyChoice {
  bool named = false;
  std::wstring proxy;
  std::wstring bypass;
};

// Where the choice comes from. Each source fills its structure as the WinHTTP
// function it stands for does (strings from GlobalAlloc, which the chooser
// frees) and reports failure through its result and GetLastError.
struct ProxySources {
  // WinHttpGetIEProxyConfigForCurrentUser: the account's configuration.
  std::function<BOOL(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*)> account;
  // WinHttpGetProxyForUrl for the attempt's URL: a proxy script or discovery.
  std::function<BOOL(WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*)> for_url;
  // WinHttpGetDefaultProxyConfiguration: the machine's WinHTTP proxy.
  std::function<BOOL(WINHTTP_PROXY_INFO*)> machine;
};

// First answer wins: the account's proxy script, the account's fixed proxy,
// then the machine's WinHTTP proxy. Only when the account's configuration
// cannot be read is automatic discovery asked, after a machine's proxy that
// is not set.
ProxyChoice ChooseProxy(const ProxySources& sources);

// The real sources for an attempt's URL on a session.
ProxySources WinHttpProxySources(HINTERNET session, const String& url);

}  // namespace vantrel
