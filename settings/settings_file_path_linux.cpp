#include "settings/settings_file_path_linux.h"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vantrel {

namespace {

constexpr char kDefaultPath[] = "/var/lib/vantrel/settings.reg";
constexpr int kMaxLinks = 40;

}  // namespace

std::string SettingsPath() {
  const char* named = std::getenv("VANTREL_REGISTRY");
  return named && *named ? named : kDefaultPath;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string HiddenBeside(const std::string& file, const std::string& suffix) {
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) return "." + file + suffix;
  return file.substr(0, slash + 1) + "." + file.substr(slash + 1) + suffix;
}

int ResolveLinks(const std::string& path, std::string& file) {
  file = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (lstat(file.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;  // missing: made here
    if (!S_ISLNK(st.st_mode)) return 0;
    if (links == kMaxLinks) return ELOOP;
    char target[PATH_MAX];
    const ssize_t n = readlink(file.c_str(), target, sizeof target);
    if (n < 0) return errno;
    if (n == static_cast<ssize_t>(sizeof target)) return ENAMETOOLONG;
    if (n == 0) return ENOENT;
    const std::string next(target, static_cast<std::size_t>(n));
    file = next.front() == '/' ? next : FolderOf(file) + "/" + next;
  }
}

int MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  if (const std::string parent = FolderOf(folder); parent != folder) {
    if (int error = MakeFolders(parent)) return error;
  }
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  return 0;
}

}  // namespace vantrel
