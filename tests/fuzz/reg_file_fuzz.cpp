// libFuzzer target for the settings file: any bytes either fail to parse
// with a RegFileError or give a file whose text parses back to the same
// values; a value set into such a file reads back unchanged, and the
// file's other values stay as they were.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "settings/reg_file.h"
#include "settings/reg_value_bytes.h"

namespace {

using vantrel::RegFile;
using vantrel::RegFileError;
using vantrel::RegValue;
using vantrel::String;

constexpr char16_t kKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";
constexpr char16_t kOtherKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\other";

// Names whose values are compared before and after a Set.
const String kNames[] = {u"chaturl", u"instancename", u"lastrecnum", u"", u"a", u"b"};

std::optional<RegFile> TryParse(const std::string& bytes) {
  try {
    return RegFile::Parse(bytes);
  } catch (const RegFileError&) {
    return std::nullopt;
  }
}

// A value name as the program could write it: whole UTF-16 characters, an
// unpaired surrogate replaced as the UTF-8 form of the file would replace it.
String ValidName(FuzzedDataProvider& fdp) {
  const std::string raw = fdp.ConsumeRandomLengthString(64);
  String name = vantrel::Utf16LeText({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool high = name[i] >= 0xD800 && name[i] <= 0xDBFF;
    const bool low = name[i] >= 0xDC00 && name[i] <= 0xDFFF;
    if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      name[i] = 0xFFFD;
    }
  }
  return name;
}

RegValue FuzzValue(FuzzedDataProvider& fdp) {
  static constexpr std::uint32_t kTypes[] = {1, 2, 3, 4, 7, 11, 0};
  RegValue value;
  value.type = fdp.ConsumeBool() ? fdp.PickValueInArray(kTypes) : fdp.ConsumeIntegral<std::uint32_t>();
  const std::string data = fdp.ConsumeRandomLengthString(256);
  value.data.assign(data.begin(), data.end());
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  const String key = fdp.ConsumeBool() ? kKey : kOtherKey;
  const String name = ValidName(fdp);
  const RegValue value = FuzzValue(fdp);
  const std::string bytes = fdp.ConsumeRemainingBytesAsString();

  std::optional<RegFile> file = TryParse(bytes);
  // A file read and not changed is written back byte for byte.
  if (file && file->Text() != bytes) std::abort();
  if (!file) file.emplace();

  // What a parse read, the file's own text reads again.
  const std::optional<RegFile> again = TryParse(file->Text());
  if (!again) std::abort();
  for (const String& n : kNames) {
    for (const String& k : {String(kKey), String(kOtherKey)}) {
      if (file->Find(k, n) != again->Find(k, n)) std::abort();
    }
  }

  // Set writes the value so that it reads back, in this object and from the
  // text written, and leaves every other value alone.
  file->Set(key, name, value);
  const std::optional<RegFile> written = TryParse(file->Text());
  if (!written) std::abort();
  if (file->Find(key, name) != value || written->Find(key, name) != value) std::abort();
  for (const String& n : kNames) {
    for (const String& k : {String(kKey), String(kOtherKey)}) {
      if (vantrel::SameRegistryName(k, key) && vantrel::SameRegistryName(n, name)) continue;
      if (written->Find(k, n) != again->Find(k, n)) std::abort();
    }
  }
  return 0;
}
