// The four registry calls behind the settings store. Windows answers them with
// the real registry; Linux with a settings file in the registry export format.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace vantrel {

// Result codes of the registry calls (the Windows error codes).
constexpr long kRegSuccess = 0;
constexpr long kRegAccessDenied = 5;
constexpr long kRegFileNotFound = 2;
constexpr long kRegMoreData = 234;

// Value types as the registry stores them.
enum RegType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

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

}  // namespace vantrel
