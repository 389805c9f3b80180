// What Windows reads from vantrel.exe without running it: the version
// information (Explorer's Details, the service tools), the manifest (rights,
// common controls, supported versions) and the message table that Event
// Viewer formats the program's entries with.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unique_handle.h"

namespace {

// One string of the version information's US English block.
std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return std::wstring();
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(ExecutableResourcesWin, VersionInformation) {
  const DWORD size = GetFileVersionInfoSizeW(VANTREL_BINARY_W, nullptr);
  ASSERT_GT(size, 0u) << "no version information";
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(VANTREL_BINARY_W, 0, size, info.data()));
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Vantrel");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), VANTREL_VERSION_W);
  EXPECT_EQ(VersionString(info, L"FileVersion"), VANTREL_VERSION_W);
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"vantrel.exe");
  EXPECT_FALSE(VersionString(info, L"FileDescription").empty());

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwProductVersionMS)) + L"." +
                               std::to_wstring(HIWORD(fixed->dwProductVersionLS));
  EXPECT_EQ(numbers, VANTREL_VERSION_W);
}

TEST(ExecutableResourcesWin, Manifest) {
  const vantrel::UniqueHandle<HMODULE, FreeLibrary> image(
      LoadLibraryExW(VANTREL_BINARY_W, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(image) << GetLastError();
  // RT_MANIFEST, the process's own.
  HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_TRUE(found) << "no manifest";
  const char* data = static_cast<const char*>(LockResource(LoadResource(image.get(), found)));
  const std::string manifest(data, SizeofResource(image.get(), found));

  for (const char* part : {
           "level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
       }) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

// The program writes every event log entry with identifier 0 and its text as
// the one string: Event Viewer formats it with the message file's entry 0,
// which must give the text as it is, without a line break or anything added.
TEST(ExecutableResourcesWin, MessageTableShowsTheEntryTextAsItIs) {
  const vantrel::UniqueHandle<HMODULE, FreeLibrary> image(
      LoadLibraryExW(VANTREL_BINARY_W, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(image) << GetLastError();
  for (const wchar_t* text : {L"The service did not respond to the start or control request in a timely fashion",
                              L"Another Vantrel service already uses the settings key "
                              L"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel; this one ends",
                              L"100% sure: %1 and %n stay as they are\r\nsecond line"}) {
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(text)};
    wchar_t* formatted = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY, image.get(), 0, 0,
        reinterpret_cast<wchar_t*>(&formatted), 0, reinterpret_cast<va_list*>(arguments));
    ASSERT_GT(length, 0u) << "no message 0: " << GetLastError();
    const vantrel::UniqueHandle<HLOCAL, LocalFree> owned(formatted);
    EXPECT_EQ(std::wstring(formatted, length), std::wstring(text));
  }
}

}  // namespace
