#include <windows.h>

#include <map>
#include <system_error>

#include "platform/main_loop.h"

namespace vantrel {

// The hidden top-level window of the main thread: target of the timers'
// WM_TIMER messages and of the quit message.
struct MainLoop::Impl {
  HWND window = nullptr;
  UINT_PTR next_timer_id = 1;
  std::map<UINT_PTR, std::function<void()>*> armed;

  ~Impl() {
    if (window) DestroyWindow(window);
  }
};

namespace {

constexpr wchar_t kWindowClass[] = L"VantrelMainLoopWindow";

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* impl = reinterpret_cast<MainLoop::Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_TIMER:
      if (impl) {
        auto it = impl->armed.find(wparam);
        if (it != impl->armed.end()) (*it->second)();
      }
      return 0;
    case WM_ENDSESSION:
      // A user's log-off never ends the service process.
      return 0;
    default: return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
}

class WindowTimerPort : public TimerPort {
 public:
  WindowTimerPort(std::shared_ptr<MainLoop::Impl> loop, std::function<void()> on_tick)
      : loop_(std::move(loop)), on_tick_(std::move(on_tick)), id_(loop_->next_timer_id++) {}
  ~WindowTimerPort() override { Stop(); }

  bool Start(std::uint32_t interval_ms) override {
    Stop();
    if (interval_ms == 0 || SetTimer(loop_->window, id_, interval_ms, nullptr) == 0) return false;
    loop_->armed[id_] = &on_tick_;
    return true;
  }

  void Stop() override {
    if (loop_->armed.erase(id_)) KillTimer(loop_->window, id_);
  }

 private:
  std::shared_ptr<MainLoop::Impl> loop_;
  std::function<void()> on_tick_;
  UINT_PTR id_;
};

}  // namespace

MainLoop::MainLoop() : impl_(std::make_shared<Impl>()) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // fails harmlessly when a second loop registers it again
  impl_->window =
      CreateWindowExW(0, kWindowClass, L"Vantrel", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (!impl_->window) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
  SetWindowLongPtrW(impl_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
}

MainLoop::~MainLoop() = default;

std::unique_ptr<TimerPort> MainLoop::NewTimer(std::function<void()> on_tick) {
  return std::make_unique<WindowTimerPort>(impl_, std::move(on_tick));
}

void MainLoop::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void MainLoop::Quit() { PostMessageW(impl_->window, WM_QUIT, 0, 0); }

}  // namespace vantrel
