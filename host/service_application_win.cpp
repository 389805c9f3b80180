// The Windows part of the service application: the service manager's
// dispatcher and its ServiceMain callback, the service thread with its
// message queue, the reports to the service manager, COM on the main thread,
// and the stop, which ends a running HTTP attempt and waits for the checks.
#include <windows.h>
#include <objbase.h>

#include <atomic>

#include "host/service_application.h"
#include "host/service_thread.h"
#include "platform/exception.h"
#include "platform/service_stop_win.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

constexpr UINT kControlMessage = WM_USER + 1;  // wParam = control code

// Reports go to the service manager on the handle of the control handler.
class ScmStatusSink : public StatusSink {
 public:
  explicit ScmStatusSink(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}
  std::optional<String> Send(const ServiceStatusRecord& record) override {
    SERVICE_STATUS status{};
    status.dwServiceType = record.service_type;
    status.dwCurrentState = static_cast<DWORD>(record.current_state);
    status.dwControlsAccepted = record.controls_accepted;
    status.dwWin32ExitCode = record.win32_exit_code;
    status.dwServiceSpecificExitCode = record.service_specific_exit_code;
    status.dwCheckPoint = record.check_point;
    status.dwWaitHint = record.wait_hint;
    if (!SetServiceStatus(handle_, &status)) return SystemErrorText(GetLastError());
    return std::nullopt;
  }

 private:
  SERVICE_STATUS_HANDLE handle_;
};

using ThreadHandle = UniqueHandle<HANDLE, CloseHandle>;

// The service thread's message queue: the control handler posts into it,
// the service thread takes from it, and a paused thread is resumed.
class ThreadControlQueue : public ControlQueue, public ControlSource {
 public:
  ThreadControlQueue(DWORD thread_id, HANDLE thread) : thread_id_(thread_id), thread_(thread) {}

  void Post(std::uint32_t code) override {
    PostThreadMessageW(thread_id_, kControlMessage, code, 0);
    if (!suspended_.load()) return;
    // The thread may be between announcing its suspension and suspending:
    // try briefly, never block.
    for (int attempt = 0; attempt < 100 && suspended_.load(); ++attempt) {
      const DWORD previous = ResumeThread(thread_);
      if (previous == static_cast<DWORD>(-1) || previous > 0) return;
      Sleep(1);
    }
  }

  // Suspends the calling service thread until the next posted code.
  void SuspendSelf() {
    suspended_.store(true);
    SuspendThread(GetCurrentThread());
    suspended_.store(false);
  }

  std::optional<std::uint32_t> Next(bool wait) override {
    MSG msg;
    for (;;) {
      if (wait) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) return std::nullopt;  // quit
      } else if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return std::nullopt;
      }
      if (msg.hwnd == nullptr && msg.message == kControlMessage) {
        const auto code = static_cast<std::uint32_t>(msg.wParam);
        // The main thread may be waiting for an HTTP attempt: the stop ends
        // it, rather than the service waiting minutes for its answer.
        if (code == kControlStop || code == kControlShutdown) AnnounceServiceStop();
        return code;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

 private:
  DWORD thread_id_;
  HANDLE thread_;
  std::atomic<bool> suspended_{false};
};

ServiceController g_controller = nullptr;
// The application whose dispatcher runs; set before the dispatcher starts.
ServiceApplication* g_application = nullptr;

void WINAPI ControlHandlerTrampoline(DWORD code) {
  if (g_controller) g_controller(code);
}

DWORD WINAPI ServiceThreadBody(LPVOID param) {
  auto* module = static_cast<ServiceModule*>(param);
  // The queue exists before anything else, so control codes posted from now
  // on are kept.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE, DUPLICATE_SAME_ACCESS);
  ThreadHandle self_handle(self);
  ThreadControlQueue queue(GetCurrentThreadId(), self);
  module->OnPausedSuspend = [&queue] { queue.SuspendSelf(); };
  module->SetControlQueue(&queue);
  RunServiceThread(*module, queue);
  module->SetControlQueue(nullptr);
  module->OnPausedSuspend = nullptr;
  return 0;
}

// The ServiceMain callback, on the platform's thread.
void WINAPI ServiceMainCallback(DWORD argc, LPWSTR* argv) {
  ServiceModule* module = ModuleReference();
  if (!module || argc == 0 ||
      CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, argv[0], -1, Wide(module->Name()), -1) != CSTR_EQUAL) {
    return;
  }
  g_controller = module->GetServiceController();
  const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(Wide(module->Name()), ControlHandlerTrampoline);
  if (!handle) {
    module->LogMessage(SystemErrorText(GetLastError()));
    return;
  }
  ScmStatusSink sink(handle);
  module->SetStatusSink(&sink);
  // The service really starts here: a start from a console never comes this
  // far (the dispatcher fails with 1063), and only this one claims.
  if (!g_application || !g_application->ClaimAtServiceStart(*module)) {
    module->SetStatusSink(nullptr);
    return;
  }
  RunStartSequence(*module, [module] {
    DWORD thread_id = 0;
    ThreadHandle thread(CreateThread(nullptr, 0, ServiceThreadBody, module, CREATE_SUSPENDED, &thread_id));
    if (!thread.get()) throw Exception(SystemErrorText(GetLastError()));
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) throw Exception(SystemErrorText(GetLastError()));
    if (WaitForSingleObject(thread.get(), INFINITE) == WAIT_FAILED) {
      throw Exception(SystemErrorText(GetLastError()));
    }
    // STOPPED follows only once the checks have ended: the service manager
    // may end the process at any time after it.
    g_application->EndChecksAtStop(*module);
  });
  module->SetStatusSink(nullptr);
}

}  // namespace

struct ServiceApplication::Platform {
  bool com_initialized = false;
  ~Platform() {
    if (com_initialized) CoUninitialize();
  }
};

std::shared_ptr<ServiceApplication::Platform> ServiceApplication::NewPlatform() { return std::make_shared<Platform>(); }

void ServiceApplication::Initialize() {
  if (platform_->com_initialized) return;
  platform_->com_initialized = SUCCEEDED(CoInitialize(nullptr));
}

std::function<std::uint32_t()> ServiceApplication::ServiceDispatcher() {
  g_application = this;
  return [name = module_ ? module_->Name() : String()]() -> std::uint32_t {
    // The dispatch table: the one module, then the terminator.
    SERVICE_TABLE_ENTRYW table[2] = {
        {const_cast<wchar_t*>(Wide(name)), ServiceMainCallback},
        {nullptr, nullptr},
    };
    return StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
  };
}

}  // namespace vantrel
