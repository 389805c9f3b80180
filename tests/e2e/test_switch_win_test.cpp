// The real vantrel.exe with the test switch under Wine: one test notice to
// the webhook named in the real settings key, the exchange's debug lines and
// the verdict on standard output, the exit code, and nothing stored.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/notify/test_server.h"

namespace {

using KeyHandle = vantrel::UniqueHandle<HKEY, RegCloseKey>;
using Handle = vantrel::UniqueHandle<HANDLE, CloseHandle>;
using vantrel::testing::Answer;
using vantrel::testing::TestServer;

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\tresk\\vantrel";
constexpr const wchar_t* kTestValues[] = {L"chaturl", L"instancename", L"lastrecnum"};

void DeleteTestValues() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
  KeyHandle key(raw);
  for (const wchar_t* name : kTestValues) RegDeleteValueW(key.get(), name);
}

LSTATUS SetString(const wchar_t* name, const std::wstring& value) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (opened != ERROR_SUCCESS) return opened;
  KeyHandle key(raw);
  return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool ValueExists(const wchar_t* name) {
  return RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string ComputerNameVariable() {
  char buffer[256];
  const DWORD n = GetEnvironmentVariableA("COMPUTERNAME", buffer, sizeof buffer);
  return n < sizeof buffer ? std::string(buffer, n) : std::string();
}

struct Outcome {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;  // standard output, CR LF turned into LF
};

// Runs vantrel.exe with arguments, its standard output going into a pipe
// that is read to its end.
Outcome RunWithOutput(const std::wstring& arguments) {
  Outcome outcome;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  if (!CreatePipe(&read_raw, &write_raw, &inherit, 0)) return outcome;
  Handle read_end(read_raw), write_end(write_raw);
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.get();
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring command = L"\"" VANTREL_BINARY_W L"\" " + arguments;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return outcome;
  }
  Handle process_handle(process.hProcess), thread_handle(process.hThread);
  write_end.reset();  // the pipe ends when the program's copy closes

  std::string raw;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(read_end.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) raw.append(buffer, n);
  if (WaitForSingleObject(process_handle.get(), 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process_handle.get(), 1);
    return outcome;
  }
  GetExitCodeProcess(process_handle.get(), &outcome.exit_code);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    outcome.output += raw[i];
  }
  return outcome;
}

class TestSwitchWin : public ::testing::Test {
 protected:
  void SetUp() override { DeleteTestValues(); }
  void TearDown() override { DeleteTestValues(); }
};

TEST_F(TestSwitchWin, PostsOneTestNoticeAndAnswersWithTheVerdict) {
  const std::string computer = ComputerNameVariable();
  ASSERT_FALSE(computer.empty());
  struct Row {
    const char* name;
    std::vector<std::string> answers;  // empty: nothing listens
    DWORD exit_code;
    std::string lines;  // the output after the port number is put in
  } rows[] = {
      {"200",
       {Answer("HTTP/1.1 200 OK")},
       0,
       "resposene=OK\nstatuscode=200\nstatustxt=OK\nTest notice delivered to http://127.0.0.1:%PORT%: HTTP 200 OK\n"},
      {"500",
       {Answer("HTTP/1.1 500 Internal Server Error")},
       1,
       "resposene=Internal Server Error\nstatuscode=500\nstatustxt=Internal Server Error\n"
       "Test notice not delivered to http://127.0.0.1:%PORT%: HTTP 500 Internal Server Error\n"},
      {"refused", {}, 1, "virhe chat postauksesssa =REST request failed: Error sending data: ("},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestServer chat(row.answers);
    const int port = row.answers.empty() ? TestServer::RefusingPort() : chat.Port();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/hooks/ID/TOKEN";
    ASSERT_EQ(SetString(L"chaturl", std::wstring(url.begin(), url.end())), ERROR_SUCCESS);
    ASSERT_EQ(SetString(L"instancename", L"Demo 1"), ERROR_SUCCESS);

    const Outcome run = RunWithOutput(L"/test");
    EXPECT_EQ(run.exit_code, row.exit_code) << run.output;
    std::string expected = row.lines;
    if (const auto at = expected.find("%PORT%"); at != std::string::npos) {
      expected.replace(at, 6, std::to_string(port));
    }
    if (row.answers.empty()) {
      EXPECT_EQ(run.output.rfind(expected, 0), 0u) << run.output;
      EXPECT_NE(run.output.find("\nTest notice not delivered to http://127.0.0.1:" + std::to_string(port) +
                                ": Error sending data: ("),
                std::string::npos)
          << run.output;
    } else {
      EXPECT_EQ(run.output, expected);
      ASSERT_EQ(chat.Requests().size(), 1u);
      EXPECT_EQ(chat.Requests()[0].RequestLine(), "POST /hooks/ID/TOKEN HTTP/1.1");
      EXPECT_EQ(chat.Requests()[0].body,
                "{\"text\":\"PSQL lisenssivalvonnan testiviesti Demo 1, koneen nimi " + computer + "\"}");
    }
    EXPECT_FALSE(ValueExists(L"lastrecnum")) << "nothing stored";
  }
}

}  // namespace
