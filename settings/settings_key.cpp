#include "settings/settings_key.h"

#include <algorithm>
#include <vector>

namespace vantrel {

namespace {

String Format(const char16_t* before, const String& name) { return before + name + u"'"; }

[[noreturn]] void ThrowInvalidType(const String& name) {
  throw SettingsKeyError(Format(u"Invalid data type for '", name));
}

[[noreturn]] void ThrowGetFailed(const String& name) {
  throw SettingsKeyError(Format(u"Failed to get data for '", name));
}

}  // namespace

SettingsKeyError SetDataFailure(const String& name) {
  return SettingsKeyError(Format(u"Failed to set data for '", name));
}

SettingsKey::SettingsKey(std::unique_ptr<RegistryBackend> backend) : backend_(std::move(backend)) {}

SettingsKey::~SettingsKey() { CloseKey(); }

bool SettingsKey::OpenKey() {
  CloseKey();
  last_error_ = backend_->CreateKey();
  open_ = last_error_ == kRegSuccess;
  return open_;
}

bool SettingsKey::OpenKeyReadOnly() {
  CloseKey();
  last_error_ = backend_->OpenKeyForReading();
  open_ = last_error_ == kRegSuccess;
  return open_;
}

bool SettingsKey::ValueExists(const String& name) {
  std::uint32_t type = 0, size = 0;
  last_error_ = backend_->QueryValue(name, &type, nullptr, &size);
  return last_error_ == kRegSuccess;
}

String SettingsKey::ReadString(const String& name) {
  std::uint32_t type = 0, size = 0;
  last_error_ = backend_->QueryValue(name, &type, nullptr, &size);
  if (last_error_ != kRegSuccess || size == 0) return String();
  std::vector<std::uint8_t> buffer(size);
  std::uint32_t read_size = size;
  last_error_ = backend_->QueryValue(name, &type, buffer.data(), &read_size);
  if (last_error_ != kRegSuccess) ThrowGetFailed(name);
  if (type != kRegSz && type != kRegExpandSz) ThrowInvalidType(name);
  String text = Utf16LeText(buffer);
  text.resize(std::find(text.begin(), text.end(), u'\0') - text.begin());
  return text;
}

std::int32_t SettingsKey::ReadInteger(const String& name) {
  std::uint8_t buffer[4] = {};
  std::uint32_t type = 0, size = sizeof buffer;
  last_error_ = backend_->QueryValue(name, &type, buffer, &size);
  if (last_error_ != kRegSuccess) ThrowGetFailed(name);
  if (type != kRegDword) ThrowInvalidType(name);
  return static_cast<std::int32_t>(DwordFromBytes(buffer));
}

std::int64_t SettingsKey::ReadInteger64(const String& name) {
  std::uint32_t type = 0, size = 0;
  // Only a REG_QWORD of exactly 8 bytes is a 64-bit number; any other value
  // is read as the 32-bit one, with its rules and messages ("Invalid data
  // type" for a short one, "Failed to get data" for a long one).
  if (backend_->QueryValue(name, &type, nullptr, &size) != kRegSuccess || type != kRegQword || size != 8)
    return ReadInteger(name);
  std::uint8_t buffer[8] = {};
  size = sizeof buffer;
  last_error_ = backend_->QueryValue(name, &type, buffer, &size);
  if (last_error_ != kRegSuccess) ThrowGetFailed(name);
  if (type != kRegQword) ThrowInvalidType(name);
  return static_cast<std::int64_t>(QwordFromBytes(buffer));
}

void SettingsKey::WriteString(const String& name, const String& value) {
  last_error_ = backend_->SetValue(name, kRegSz, SzBytes(value));
  if (last_error_ != kRegSuccess) throw SetDataFailure(name);
}

void SettingsKey::WriteInteger(const String& name, std::int32_t value) {
  last_error_ = backend_->SetValue(name, kRegDword, DwordBytes(static_cast<std::uint32_t>(value)));
  if (last_error_ != kRegSuccess) throw SetDataFailure(name);
}

void SettingsKey::WriteInteger64(const String& name, std::int64_t value) {
  last_error_ = backend_->SetValue(name, kRegQword, QwordBytes(static_cast<std::uint64_t>(value)));
  if (last_error_ != kRegSuccess) throw SetDataFailure(name);
}

void SettingsKey::CloseKey() {
  if (!open_) return;
  backend_->CloseKey();
  open_ = false;
}

}  // namespace vantrel
