// Owns one handle of any kind and releases it with its own close function on
// every path: CloseHandle, RegCloseKey, WinHttpCloseHandle, sd_journal_close,
// curl_easy_cleanup, close for a file descriptor, ... kEmpty is the value
// that holds nothing (nullptr for pointers, -1 for a file descriptor); it is
// never closed.
#pragma once

#include <utility>

namespace vantrel {

template <typename Handle, auto Close, Handle kEmpty = Handle{}>
class UniqueHandle {
 public:
  explicit UniqueHandle(Handle handle = kEmpty) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  // Closes the handle held, if any, and takes over the other's.
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kEmpty; }
  // Gives the handle up without closing it; the caller owns it from now on.
  Handle release() { return std::exchange(handle_, kEmpty); }
  // Closes the handle held, if any, and holds another.
  void reset(Handle handle = kEmpty) {
    const Handle old = std::exchange(handle_, handle);
    if (old != kEmpty) Close(old);
  }

 private:
  Handle handle_;
};

}  // namespace vantrel
