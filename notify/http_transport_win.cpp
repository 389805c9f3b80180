// One HTTP attempt over WinHTTP, made in a process of its own.
//
// WinHTTP's calls are synchronous, and some of them (proxy discovery, name
// resolution) cannot be ended from outside. The service's main thread must
// never sit in one when a stop comes: the service manager is owed STOPPED
// within seconds, and only once the service's threads have ended. So each
// attempt starts this program afresh (its own executable), inside a job
// object that ends the process, and any it started, when the service closes
// the job, or when the service itself ends. The new process makes the
// attempt with WinHTTP, hands the result back through a pipe and ends. The
// portable exchange (redirects, cookies, certificate acceptance, decoding)
// stays in the service.
//
// How the two meet: the variable VANTREL_HTTP_ATTEMPT holds the service's
// process id and the two inherited pipe handles, the encoded attempt to read
// and the result to write. A command line cannot ask for this. The attempt
// process writes the head of a 200 answer as soon as it has come, then the
// whole result. The service waits for the result, its own stop and the
// attempt's whole time together, whichever comes first; on a stop or when
// the time has run out it ends the attempt at once, and the attempt counts
// as answered only when a 200 head had come.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "notify/attempt_pipe.h"
#include "notify/attempt_process.h"
#include "notify/http_attempt.h"
#include "notify/http_transport.h"
#include "notify/winhttp_attempt_win.h"
#include "platform/process.h"
#include "platform/service_stop_win.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

using Handle = UniqueHandle<HANDLE, CloseHandle>;

constexpr wchar_t kAttemptVariable[] = L"VANTREL_HTTP_ATTEMPT";

// The whole attempt may take as long as its phases together: proxy
// discovery, name resolution, the connection, sending, the wait for the
// answer, and its body, each up to the phase limit.
constexpr std::uint64_t kPhasesOfAnAttempt = 6;

String SystemFailure(const char* what, DWORD error) {
  return u"Error sending data: " +
         FormatCodeText(static_cast<long>(error), std::string(what) + ": " + ToUtf8(SystemErrorText(error)));
}

std::wstring HandleNumber(HANDLE handle) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle)); }

// Writes all of bytes; false on a failure (the reader gone among them).
bool WriteAll(HANDLE to, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(to, bytes.data() + done, piece, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

// Reads until the writer has gone; false when reading failed otherwise or
// more than limit bytes came (too_large set).
bool ReadAll(HANDLE from, std::string& bytes, std::size_t limit, bool& too_large) {
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr)) {
      const DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF;
    }
    if (got == 0) return true;
    if (bytes.size() + got > limit) {
      too_large = true;
      return false;
    }
    bytes.append(buffer, got);
  }
}

// An anonymous pipe whose one end (the attempt process's) is inheritable.
struct Pipe {
  Handle read;
  Handle write;
};

bool MakePipe(Pipe& pipe, bool child_reads) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 0)) return false;
  pipe.read.reset(read);
  pipe.write.reset(write);
  return SetHandleInformation(child_reads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

// This process's environment with the attempt's variable set to value, as a
// block for CreateProcessW.
std::vector<wchar_t> EnvironmentWith(const std::wstring& value) {
  std::vector<wchar_t> block;
  const std::wstring prefix = std::wstring(kAttemptVariable) + L"=";
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* p = strings; *p; p += std::wcslen(p) + 1) {
      const std::size_t n = std::wcslen(p);
      if (n >= prefix.size() && _wcsnicmp(p, prefix.c_str(), prefix.size()) == 0) continue;
      block.insert(block.end(), p, p + n + 1);
    }
    FreeEnvironmentStringsW(strings);
  }
  const std::wstring own = prefix + value;
  block.insert(block.end(), own.c_str(), own.c_str() + own.size() + 1);
  block.push_back(L'\0');
  return block;
}

// The attempt process, started suspended, placed in a job that ends it when
// the job's handle closes, then let run.
struct AttemptProcess {
  Handle job;
  Handle process;
};

bool StartAttemptProcess(HANDLE request, HANDLE result, AttemptProcess& started, String& failure) {
  started.job.reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (!started.job ||
      !SetInformationJobObject(started.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    failure = SystemFailure("job object", GetLastError());
    return false;
  }
  const String program = ExecutablePath();
  std::wstring command_line = L"\"" + std::wstring(Wide(program)) + L"\" vantrel-http-attempt";
  std::vector<wchar_t> environment = EnvironmentWith(std::to_wstring(GetCurrentProcessId()) + L":" +
                                                     HandleNumber(request) + L":" + HandleNumber(result));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // none: it writes nothing but its result
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(Wide(program), command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                      &startup, &info)) {
    failure = SystemFailure("CreateProcess", GetLastError());
    return false;
  }
  started.process.reset(info.hProcess);
  const Handle thread(info.hThread);
  if (!AssignProcessToJobObject(started.job.get(), info.hProcess)) {
    failure = SystemFailure("job object", GetLastError());
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, INFINITE);
    return false;
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    failure = SystemFailure("ResumeThread", GetLastError());
    TerminateJobObject(started.job.get(), 1);
    WaitForSingleObject(info.hProcess, INFINITE);
    return false;
  }
  return true;
}

// The service's side of the pipes, on a thread of its own so that the
// service's thread can wait for it beside the stop: writes the request,
// then reads the result until the attempt process has gone.
struct Exchange {
  Handle to_attempt;
  std::string request;
  Handle from_attempt;
  std::string bytes;
  bool too_large = false;
};

DWORD WINAPI RunExchange(LPVOID param) {
  auto* exchange = static_cast<Exchange*>(param);
  // A request it did not take all of leaves it without a result.
  (void)WriteAll(exchange->to_attempt.get(), exchange->request);
  exchange->to_attempt.reset();
  (void)ReadAll(exchange->from_attempt.get(), exchange->bytes, kMaxAttemptResultBytes, exchange->too_large);
  return 0;
}

DWORD AttemptTimeMs(const HttpAttempt& attempt) {
  const std::uint64_t whole = kPhasesOfAnAttempt * static_cast<std::uint64_t>(attempt.timeout_ms);
  return whole >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(whole);
}

String EndText(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return u"not waited for";
  return u"exit code " + IntToStr(static_cast<std::int64_t>(code));
}

class ProcessTransport : public HttpTransport {
 public:
  bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) override {
    answer = HttpAnswer();
    failure = HttpFailure();
    // A stop that has come already: nothing is started, nothing sent.
    if (ServiceStopAnnounced()) {
      failure.message = u"Error receiving data: the service stopped before the answer came";
      return false;
    }
    Exchange exchange;
    exchange.request = EncodeAttemptRequest(AttemptRequest{attempt, std::string(), std::string()});
    if (exchange.request.size() > kMaxAttemptRequestBytes) {
      failure.message = u"Error sending data: the request is larger than 1 MiB";
      return false;
    }
    Pipe request, result;
    if (!MakePipe(request, true) || !MakePipe(result, false)) {
      failure.message = SystemFailure("CreatePipe", GetLastError());
      return false;
    }
    AttemptProcess child;
    if (!StartAttemptProcess(request.read.get(), result.write.get(), child, failure.message)) return false;
    // The attempt process holds its own ends now: when it ends, reading ends.
    request.read.reset();
    result.write.reset();
    exchange.to_attempt = std::move(request.write);
    exchange.from_attempt = std::move(result.read);

    const Handle thread(CreateThread(nullptr, 0, RunExchange, &exchange, 0, nullptr));
    if (!thread) {
      failure.message = SystemFailure("CreateThread", GetLastError());
      TerminateJobObject(child.job.get(), 1);
      WaitForSingleObject(child.process.get(), INFINITE);
      return false;
    }
    const HANDLE waits[2] = {thread.get(), ServiceStopEvent()};
    const DWORD waited = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, AttemptTimeMs(attempt));
    AttemptEnd end = AttemptEnd::kEnded;
    if (waited == WAIT_TIMEOUT) {
      end = AttemptEnd::kOverdue;
    } else if (waited != WAIT_OBJECT_0) {
      end = AttemptEnd::kStopped;
    }
    // Ending the job ends the attempt process and with it the exchange's
    // reading; what it wrote before is still read from the pipe.
    if (end != AttemptEnd::kEnded || exchange.too_large) TerminateJobObject(child.job.get(), 1);
    WaitForSingleObject(thread.get(), INFINITE);
    if (exchange.too_large) {
      TerminateJobObject(child.job.get(), 1);
      end = AttemptEnd::kTooLarge;
    }
    WaitForSingleObject(child.process.get(), INFINITE);
    return SettleAttempt(exchange.bytes, end, EndText(child.process.get()), answer, failure);
  }
};

// The process that started this one, from the system's list of processes.
DWORD ParentProcessId() {
  const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

// The three numbers of the variable: the service's process id and the two
// pipe handles; false when it does not hold them.
bool ReadAttemptVariable(const std::wstring& value, DWORD& service, HANDLE& request, HANDLE& result) {
  const wchar_t* p = value.c_str();
  std::uint64_t numbers[3];
  for (std::uint64_t& number : numbers) {
    wchar_t* end = nullptr;
    number = std::wcstoull(p, &end, 10);
    if (end == p || (*end != L':' && *end != L'\0')) return false;
    p = *end ? end + 1 : end;
  }
  service = static_cast<DWORD>(numbers[0]);
  request = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(numbers[1]));
  result = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(numbers[2]));
  return *p == L'\0';
}

bool IsPipe(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_PIPE; }

}  // namespace

std::unique_ptr<HttpTransport> NewHttpTransport() { return std::make_unique<ProcessTransport>(); }

std::optional<int> RunHttpAttemptProcess() {
  wchar_t buffer[128];
  const DWORD length = GetEnvironmentVariableW(kAttemptVariable, buffer, 128);
  if (length == 0 || length >= 128) return std::nullopt;
  DWORD service = 0;
  HANDLE request = nullptr, result = nullptr;
  if (!ReadAttemptVariable(std::wstring(buffer, length), service, request, result) || !IsPipe(request) ||
      !IsPipe(result)) {
    // Not started by the service, only with its variable: an ordinary run.
    SetEnvironmentVariableW(kAttemptVariable, nullptr);
    return std::nullopt;
  }
  if (ParentProcessId() != service) return 1;
  const Handle to_service(result);
  std::string bytes;
  AttemptRequest asked;
  {
    const Handle from_service(request);
    bool too_large = false;
    if (!ReadAll(from_service.get(), bytes, kMaxAttemptRequestBytes, too_large) || !DecodeAttemptRequest(bytes, asked))
      return 1;
  }
  AttemptResult outcome;
  try {
    outcome = PerformWithWinHttp(
        asked.attempt,
        [&to_service](const HttpAnswer& head) {
          // Told at once: a 200 is a delivered notice, whatever happens later.
          if (head.status == 200) (void)WriteAll(to_service.get(), EncodeAnswerHead(head));
        },
        [&to_service](const AttemptResult& refused) {
          // A server whose key is refused gets nothing: the process ends
          // inside the call that would send, its connection closed unwritten.
          (void)WriteAll(to_service.get(), EncodeAttemptResult(refused));
          TerminateProcess(GetCurrentProcess(), 1);
        });
  } catch (const std::exception& e) {
    outcome = AttemptResult();
    outcome.failure.message = u"Error sending data: " + FromUtf8(e.what());
  }
  return WriteAll(to_service.get(), EncodeAttemptResult(outcome)) ? 0 : 1;
}

}  // namespace vantrel
