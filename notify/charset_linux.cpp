// Charsets through glibc's iconv, into UTF-16LE.
#include <iconv.h>

#include <cerrno>

#include "notify/answer_body.h"
#include "notify/charset.h"

namespace vantrel {

namespace {

class IconvHandle {
 public:
  explicit IconvHandle(iconv_t cd) : cd_(cd) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// iconv reads "//" in a name as conversion options, and a name with a zero
// byte would be read only up to it: a charset name has neither, nor blanks.
bool PlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 32 || b >= 127 || c == '/') return false;
  }
  return true;
}

void AppendUtf16Le(String& text, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
}

}  // namespace

bool DecodeCharset(const std::string& bytes, const std::string& charset, String& text, String& message) {
  text.clear();
  const IconvHandle cd(PlainName(charset) ? iconv_open("UTF-16LE", charset.c_str()) : reinterpret_cast<iconv_t>(-1));
  if (!cd.ok()) {
    message = u"Unknown charset: " + FromUtf8(charset);
    return false;
  }
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char buf[16384];
  for (bool flushed = false; !flushed;) {
    char* out = buf;
    std::size_t out_left = sizeof buf;
    // With the input used up, one more call with none ends a stateful
    // charset's last shift sequence.
    const std::size_t rc = in_left > 0 ? iconv(cd.get(), &in, &in_left, &out, &out_left)
                                       : iconv(cd.get(), nullptr, nullptr, &out, &out_left);
    AppendUtf16Le(text, buf, static_cast<std::size_t>(out - buf));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      text.clear();
      message = kNoMappingMessage;  // EILSEQ, or EINVAL: a sequence cut off at the end
      return false;
    }
    flushed = rc != static_cast<std::size_t>(-1) && in_left == 0 && out == buf;
  }
  return true;
}

}  // namespace vantrel
