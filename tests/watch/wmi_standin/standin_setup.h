// The test side of the WMI stand-in: registers it in the Wine prefix under
// the ProgID the program creates, writes the fixture it answers from and
// reads back the calls it received. Everything is put back as it was when
// the object goes (the ProgID's class id, the stand-in's class key, the
// files).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/watch/wmi_standin/standin_clsid.h"

namespace vantrel::testing {

// One Win32_NTLogEvent entry of the fixture; an empty field is null.
struct StandInEntry {
  std::optional<std::uint32_t> record_number;  // the log's uint32, past 2^31 too
  std::optional<std::uint32_t> event_type;     // 1 error, 2 warning, 3 information
  std::optional<std::string> source_name;      // UTF-8, as all texts here
  std::optional<std::string> logfile;
  std::optional<std::string> computer_name;
  std::optional<std::string> time_generated;
  std::optional<std::string> message;
};

// An entry of the watched source in the Application log, every field set.
inline StandInEntry PervasiveEntry(std::uint32_t record_number, std::uint32_t event_type) {
  return {record_number,
          event_type,
          "Pervasive SQL",
          "Application",
          "DB-HOST",
          "20240611083015.000000-000",
          "Record " + std::to_string(record_number) + ": license check\r\nsecond line"};
}

struct StandInFixture {
  std::vector<StandInEntry> entries;
  std::optional<std::uint32_t> connect_error;  // ConnectServer raises this HRESULT...
  std::string connect_description;             // ...with this description (none when empty)
  std::optional<int> next_fails_after;         // the walk's Next fails after so many entries
  std::optional<int> read_fails_after;         // entries after so many cannot be read
  bool query_never_answers = false;            // ExecQuery waits until the stand-in goes

  // The fixture file's text (format in fixture.h).
  std::string Text() const {
    std::string text;
    for (const StandInEntry& e : entries) {
      text += "entry";
      if (e.record_number) text += "\tRecordNumber=" + std::to_string(*e.record_number);
      if (e.event_type) text += "\tEventType=" + std::to_string(*e.event_type);
      if (e.source_name) text += "\tSourceName=" + Escaped(*e.source_name);
      if (e.logfile) text += "\tLogfile=" + Escaped(*e.logfile);
      if (e.computer_name) text += "\tComputerName=" + Escaped(*e.computer_name);
      if (e.time_generated) text += "\tTimeGenerated=" + Escaped(*e.time_generated);
      if (e.message) text += "\tMessage=" + Escaped(*e.message);
      text += "\n";
    }
    if (connect_error) {
      char code[16];
      std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(*connect_error));
      text += "connect_error=" + std::string(code) + " " + Escaped(connect_description) + "\n";
    }
    if (next_fails_after) text += "next_fails_after=" + std::to_string(*next_fails_after) + "\n";
    if (read_fails_after) text += "read_fails_after=" + std::to_string(*read_fails_after) + "\n";
    if (query_never_answers) text += "query_never_answers=1\n";
    return text;
  }

 private:
  static std::string Escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
      if (c == '\\') {
        out += "\\\\";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else {
        out += c;
      }
    }
    return out;
  }
};

class WmiStandIn {
 public:
  static constexpr wchar_t kProgIdKey[] = L"WbemScripting.SWbemLocator\\CLSID";
  // The class Windows and Wine register under that ProgID (wbemdisp).
  static constexpr wchar_t kRealLocatorClsid[] = L"{76A64158-CB41-11D1-8B02-00600806D9B6}";

  // Maps the ProgID to the stand-in built at dll_unix_path; Registered()
  // tells whether every step worked. A query told never to answer waits
  // until Release or the end of this object.
  explicit WmiStandIn(const std::string& dll_unix_path) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"vantrel-wmi-standin-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    fixture_ = folder_ + L"\\fixture.txt";
    log_ = folder_ + L"\\calls.log";

    previous_ = ReadDefault(kProgIdKey);
    // A run that ended before putting things back left the stand-in there.
    if (previous_ && *previous_ == wmi_standin::kClsidText) previous_ = kRealLocatorClsid;

    release_ = CreateEventW(nullptr, TRUE, FALSE, wmi_standin::kReleaseEventName);
    const std::wstring dll = WindowsPath(dll_unix_path);
    const std::wstring class_key = ClassKey();
    registered_ = !dll.empty() && SetText(class_key, nullptr, L"Vantrel WMI stand-in") &&
                  SetText(class_key, wmi_standin::kFixtureValue, fixture_) &&
                  SetText(class_key, wmi_standin::kCallLogValue, log_) &&
                  SetText(class_key + L"\\InprocServer32", nullptr, dll) &&
                  SetText(class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                  SetText(kProgIdKey, nullptr, wmi_standin::kClsidText);
  }

  ~WmiStandIn() {
    if (release_ != nullptr) {
      SetEvent(release_);  // a query left waiting answers now
      CloseHandle(release_);
    }
    if (previous_) {
      SetText(kProgIdKey, nullptr, *previous_);
    } else {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgIdKey);
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    DeleteFileW(fixture_.c_str());
    DeleteFileW(log_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  WmiStandIn(const WmiStandIn&) = delete;
  WmiStandIn& operator=(const WmiStandIn&) = delete;

  bool Registered() const { return registered_; }

  // The entries and failures of the next locator; the call log starts empty.
  bool Answer(const StandInFixture& fixture) {
    if (release_ != nullptr) ResetEvent(release_);
    DeleteFileW(log_.c_str());
    std::ofstream file(std::filesystem::path(fixture_), std::ios::binary | std::ios::trunc);
    file << fixture.Text();
    return static_cast<bool>(file.flush());
  }

  // Lets a query that was told never to answer go on.
  void Release() const {
    if (release_ != nullptr) SetEvent(release_);
  }

  // Every call recorded since the last Answer, one line each.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::ifstream file(std::filesystem::path(log_), std::ios::binary);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::wstring ClassKey() { return std::wstring(L"CLSID\\") + wmi_standin::kClsidText; }

  // The Windows path of a file of the build folder: Wine names the Unix
  // root as a drive.
  static std::wstring WindowsPath(const std::string& unix_path) {
    using ToDos = WCHAR*(CDECL*)(const char*);
    auto to_dos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (to_dos == nullptr) return std::wstring(unix_path.begin(), unix_path.end());
    WCHAR* dos = to_dos(unix_path.c_str());
    if (dos == nullptr) return std::wstring();
    std::wstring path(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return path;
  }

  static std::optional<std::wstring> ReadDefault(const wchar_t* key) {
    wchar_t buffer[256];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return std::wstring(buffer);
  }

  static bool SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

  std::wstring folder_;
  std::wstring fixture_;
  std::wstring log_;
  std::optional<std::wstring> previous_;
  bool registered_ = false;
  HANDLE release_ = nullptr;  // kReleaseEventName, owned here
};

}  // namespace vantrel::testing
