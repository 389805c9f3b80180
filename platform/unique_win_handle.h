// Owns one Windows handle and releases it with its own close function on
// every path (CloseHandle, CloseServiceHandle, RegCloseKey, WinHttpCloseHandle, ...).
#pragma once

#include <utility>

namespace vantrel {

template <typename Handle, auto Close>
class UniqueWinHandle {
 public:
  explicit UniqueWinHandle(Handle handle = nullptr) : handle_(handle) {}
  ~UniqueWinHandle() {
    if (handle_) Close(handle_);
  }
  UniqueWinHandle(UniqueWinHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueWinHandle(const UniqueWinHandle&) = delete;
  UniqueWinHandle& operator=(const UniqueWinHandle&) = delete;

  Handle get() const { return handle_; }
  // Closes the handle held, if any, and holds another.
  void reset(Handle handle = nullptr) {
    if (handle_) Close(handle_);
    handle_ = handle;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle handle_;
};

}  // namespace vantrel
