// Reads the debugger output stream of other processes, as DebugView does on
// Windows: it owns the shared buffer "DBWIN_BUFFER" and its two events, and
// every OutputDebugString of the machine (here: of the Wine prefix) that no
// debugger catches is copied there with the writer's process id. Wine turns
// the wide form into the ANSI code page on the way; the program's debug
// lines that the tests read are ASCII.
#pragma once

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_handle.h"

namespace vantrel::testing {

class DebugOutputMonitor {
 public:
  DebugOutputMonitor() {
    mutex_.reset(CreateMutexW(nullptr, FALSE, L"DBWinMutex"));
    SetLastError(ERROR_SUCCESS);
    buffer_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, L"DBWIN_BUFFER"));
    const bool another_reader = GetLastError() == ERROR_ALREADY_EXISTS;
    buffer_ready_.reset(CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY"));
    data_ready_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!mutex_ || !buffer_ || another_reader || !buffer_ready_ || !data_ready_ || !stop_) return;
    view_ = static_cast<const char*>(MapViewOfFile(buffer_.get(), FILE_MAP_READ, 0, 0, kSize));
    if (view_ == nullptr) return;
    reader_ = std::thread([this] { Read(); });
  }
  ~DebugOutputMonitor() {
    if (reader_.joinable()) {
      SetEvent(stop_.get());
      reader_.join();
    }
    if (view_ != nullptr) UnmapViewOfFile(view_);
  }
  DebugOutputMonitor(const DebugOutputMonitor&) = delete;
  DebugOutputMonitor& operator=(const DebugOutputMonitor&) = delete;

  // False when the stream cannot be read (another reader has it).
  bool Listening() const { return reader_.joinable(); }

  // The lines written by the process so far, in order.
  std::vector<std::string> LinesOf(DWORD process_id) {
    std::lock_guard lock(lines_mutex_);
    std::vector<std::string> out;
    for (const auto& [id, line] : lines_) {
      if (id == process_id) out.push_back(line);
    }
    return out;
  }

 private:
  static constexpr DWORD kSize = 4096;
  using Handle = UniqueHandle<HANDLE, CloseHandle>;

  void Read() {
    const HANDLE wait[] = {stop_.get(), data_ready_.get()};
    while (WaitForMultipleObjects(2, wait, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      DWORD process_id = 0;
      std::memcpy(&process_id, view_, sizeof process_id);
      const char* text = view_ + sizeof process_id;
      std::string line(text, strnlen(text, kSize - sizeof process_id));
      {
        std::lock_guard lock(lines_mutex_);
        lines_.emplace_back(process_id, std::move(line));
      }
      SetEvent(buffer_ready_.get());
    }
  }

  Handle mutex_, buffer_, buffer_ready_, data_ready_, stop_;
  const char* view_ = nullptr;
  std::thread reader_;
  std::mutex lines_mutex_;
  std::vector<std::pair<DWORD, std::string>> lines_;
};

}  // namespace vantrel::testing
