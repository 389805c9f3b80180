// The settings key: one use of HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel
// (SettingsKey, with the store's own rules for types, sizes and messages,
// settings_key.cpp) above the four registry calls of the platform's backend
// (settings_key_win.cpp: the registry; settings_key_linux.cpp: a settings file
// in the registry export format).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/exception.h"
#include "platform/text.h"
#include "settings/reg_value_bytes.h"

namespace vantrel {

// Result codes of the registry calls (the Windows error codes).
constexpr long kRegSuccess = 0;
constexpr long kRegAccessDenied = 5;
constexpr long kRegFileNotFound = 2;
constexpr long kRegMoreData = 234;

// What a query found: the value's type and its data size in bytes.
struct RegValueInfo {
  std::uint32_t type = kRegNone;
  std::uint32_t size = 0;
};

class RegistryBackend {
 public:
  virtual ~RegistryBackend() = default;
  // Opens the settings key, creating it and missing parents; 0 on success.
  virtual long CreateKey() = 0;
  // Opens the existing settings key for reading alone: creates nothing and
  // needs no write access; 0 on success, kRegFileNotFound when the key does
  // not exist. Writes through a key opened so fail.
  virtual long OpenKeyForReading() = 0;
  // Without a buffer (data == nullptr): the value's type and size. With one:
  // copies up to *size bytes, or fails with kRegMoreData when they do not fit;
  // *size becomes the data size either way.
  virtual long QueryValue(const String& name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) = 0;
  // Creates or replaces the named value with the given type and bytes.
  virtual long SetValue(const String& name, std::uint32_t type, const std::vector<std::uint8_t>& data) = 0;
  // Releases the open key; nothing is flushed.
  virtual void CloseKey() = 0;
};

// The platform's backend for HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel.
std::unique_ptr<RegistryBackend> NewSettingsKeyBackend();

// A value that cannot be read, has the wrong type, or cannot be written.
class SettingsKeyError : public Exception {
 public:
  using Exception::Exception;
};

// The failure of a write of the named value: "Failed to set data for 'NAME'".
SettingsKeyError SetDataFailure(const String& name);

class SettingsKey {
 public:
  explicit SettingsKey(std::unique_ptr<RegistryBackend> backend);
  // Closes the key if it is still open.
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  // Opens the key, creating it when missing; false (never an error) when the
  // registry refuses. LastError() keeps the code.
  bool OpenKey();
  // Opens the existing key for reading alone, creating nothing; false (never
  // an error) when it is missing or cannot be read. LastError() keeps the
  // code. Every write to a key opened so fails.
  bool OpenKeyReadOnly();
  bool IsOpen() const { return open_; }
  long LastError() const { return last_error_; }

  // True when the value exists, whatever its type.
  bool ValueExists(const String& name);
  // A REG_SZ or REG_EXPAND_SZ value, cut at its first NUL and unexpanded;
  // empty when the value is missing or has no data.
  String ReadString(const String& name);
  // A 4-byte REG_DWORD value as a signed integer.
  std::int32_t ReadInteger(const String& name);
  // A REG_QWORD value as a signed 64-bit integer; any other value is read as
  // ReadInteger reads it, with its messages.
  std::int64_t ReadInteger64(const String& name);
  // Stores text as REG_SZ with its terminating NUL.
  void WriteString(const String& name, const String& value);
  // Stores a REG_DWORD.
  void WriteInteger(const String& name, std::int32_t value);
  // Stores a REG_QWORD.
  void WriteInteger64(const String& name, std::int64_t value);
  void CloseKey();

 private:
  std::unique_ptr<RegistryBackend> backend_;
  bool open_ = false;
  long last_error_ = kRegSuccess;
};

}  // namespace vantrel
