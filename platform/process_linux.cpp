#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/process.h"

namespace vantrel {

std::vector<String> CommandLineArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<String> args;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(FromUtf8(all.substr(start, end - start)));
    start = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());  // the program itself
  return args;
}

String ExecutablePath() {
  // readlink fills the buffer without saying whether the path went on: one
  // that fills it whole is read again into a larger one.
  std::string path(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return u"vantrel";
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return FromUtf8(path);
    }
    path.resize(path.size() * 2);
  }
}

String ExecutableFileName() {
  const String path = ExecutablePath();
  return path.substr(path.find_last_of(u'/') + 1);
}

}  // namespace vantrel
