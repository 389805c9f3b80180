// What a registration of VantrelSrv left with the service manager and in the
// registry, read back as an administrator's tools read it: the service's
// configuration, its recovery after a crash, and the Application log sources
// with their message file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

inline constexpr wchar_t kApplicationSources[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The sources the program logs under: the service name and the file name.
inline constexpr const wchar_t* kEventSources[] = {L"VantrelSrv", L"vantrel.exe"};

struct ServiceConfig {
  DWORD type = 0, start = 0, error_control = 0;
  std::wstring binary_path, display_name, account;
};

inline std::optional<ServiceConfig> ReadServiceConfig(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed)) return std::nullopt;
  auto text = [](const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); };
  return ServiceConfig{config->dwServiceType,          config->dwStartType,         config->dwErrorControl,
                       text(config->lpBinaryPathName), text(config->lpDisplayName), text(config->lpServiceStartName)};
}

// The failure actions: the reset period, then each action as type and
// delay; and whether failures other than crashes count.
struct Recovery {
  DWORD reset_period = 0;
  std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;
  std::optional<bool> non_crash_failures;  // nothing when it cannot be read
};

inline std::optional<Recovery> ReadRecovery(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<BYTE> buffer(needed);
  auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), needed, &needed)) {
    return std::nullopt;
  }
  Recovery recovery;
  recovery.reset_period = actions->dwResetPeriod;
  for (DWORD i = 0; i < actions->cActions; ++i) {
    recovery.actions.emplace_back(actions->lpsaActions[i].Type, actions->lpsaActions[i].Delay);
  }
  SERVICE_FAILURE_ACTIONS_FLAG flag{};
  if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE*>(&flag), sizeof flag,
                           &needed)) {
    recovery.non_crash_failures = flag.fFailureActionsOnNonCrashFailures != FALSE;
  }
  return recovery;
}

// One source of the Application log: its message file and the entry types
// it supports; nothing when the source is not registered.
struct EventSourceEntry {
  std::wstring message_file;
  DWORD types = 0;
};

inline std::optional<EventSourceEntry> ReadEventSource(const wchar_t* source) {
  const std::wstring key = std::wstring(kApplicationSources) + source;
  wchar_t file[MAX_PATH * 2] = {};
  DWORD size = sizeof file, types = 0, types_size = sizeof types;
  // RRF_NOEXPAND: the value as written, not with its variables expanded.
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                   file, &size) != ERROR_SUCCESS) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return std::nullopt;
    RegCloseKey(raw);
    return EventSourceEntry{};  // the key without its message file
  }
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &types_size);
  return EventSourceEntry{file, types};
}

inline void DeleteEventSources() {
  for (const wchar_t* source : kEventSources) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kApplicationSources) + source).c_str());
  }
}

}  // namespace vantrel::testing
