// The registry-access object: one use of the settings key, with the store's
// own rules for types, sizes and messages above the four registry calls.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/exception.h"
#include "settings/registry_backend.h"

namespace vantrel {

// A value that cannot be read, has the wrong type, or cannot be written.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

class TRegistry {
 public:
  explicit TRegistry(std::unique_ptr<RegistryBackend> backend);
  // Closes the key if it is still open.
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

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
