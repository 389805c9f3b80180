// Charsets through the code page that the system's charset table (MLang's
// IMultiLanguage2::GetCharsetInfo) gives for the name, decoded with
// MultiByteToWideChar.
#include <windows.h>
#include <mlang.h>
#include <oleauto.h>

#include <memory>

#include "notify/answer_body.h"
#include "notify/charset.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

// COM on the calling thread for one look-up; a thread that already has it
// (the service's main thread) keeps it as it was.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

struct ComRelease {
  void operator()(IUnknown* p) const { p->Release(); }
};

struct BstrFree {
  void operator()(BSTR s) const { SysFreeString(s); }
};

// IMultiLanguage2's interface id; the MinGW import libraries lack it.
constexpr IID kIidMultiLanguage2 = {0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};

// The code page of a charset name, 0 when the system knows no such name.
UINT CodePageOfCharset(const std::string& charset) {
  const ComScope com;
  IMultiLanguage2* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_INPROC_SERVER, kIidMultiLanguage2,
                              reinterpret_cast<void**>(&raw))))
    return 0;
  const std::unique_ptr<IMultiLanguage2, ComRelease> languages(raw);
  const String name = FromUtf8(charset);
  const std::unique_ptr<OLECHAR, BstrFree> bstr(SysAllocStringLen(Wide(name), static_cast<UINT>(name.size())));
  MIMECSETINFO info{};
  if (!bstr || languages->GetCharsetInfo(bstr.get(), &info) != S_OK) return 0;
  return info.uiInternetEncoding;
}

bool DecodeCodePage(const std::string& bytes, UINT code_page, String& text) {
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  DWORD flags = MB_ERR_INVALID_CHARS;
  int n = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
  if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;  // the ISO-2022 family, UTF-7 and a few others take no flags
    n = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
  }
  if (n == 0) return false;
  text.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(code_page, flags, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()), n) == n;
}

}  // namespace

bool DecodeCharset(const std::string& bytes, const std::string& charset, String& text, String& message) {
  text.clear();
  const UINT code_page = CodePageOfCharset(charset);
  // UTF-16 (1200, 1201) and UTF-32 (12000, 12001) under names of their own
  // ("unicode", say): MultiByteToWideChar takes no such code page.
  const bool unicode = code_page == 1200 || code_page == 1201 || code_page == 12000 || code_page == 12001;
  if (code_page == 0 || (!unicode && !IsValidCodePage(code_page))) {
    message = u"Unknown charset: " + FromUtf8(charset);
    return false;
  }
  const bool decoded =
      unicode ? DecodeUnicodeUnits(bytes, code_page >= 12000 ? 4 : 2, code_page == 1201 || code_page == 12001, text)
              : DecodeCodePage(bytes, code_page, text);
  if (decoded) return true;
  text.clear();
  message = kNoMappingMessage;
  return false;
}

}  // namespace vantrel
