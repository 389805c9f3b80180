// The settings key on Linux: a file in the registry export format, by default
// /var/lib/vantrel/settings.reg, or the file that VANTREL_REGISTRY names.
//
// Readers never lock: a file is only ever replaced whole, by rename, so a
// reader sees the old file or the new one. Writers take an exclusive flock on
// the file itself, read it, change one value, write the result to a temporary
// file in the same folder, fsync it, rename it over the file and fsync the
// folder. A writer that waited for the lock checks that the file it locked is
// still the one at the path, and starts again on the new one when it is not,
// so no writer ever works from an old copy.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "platform/unique_fd.h"
#include "settings/reg_file.h"
#include "settings/registry_backend.h"

namespace vantrel {

namespace {

constexpr char16_t kKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";
constexpr char kDefaultPath[] = "/var/lib/vantrel/settings.reg";

// Windows result codes the file store gives besides those of the interface.
constexpr long kRegInvalidHandle = 6;
constexpr long kRegDiskFull = 112;
constexpr long kRegRegistryCorrupt = 1015;
constexpr long kRegRegistryIoFailed = 1016;

// The one place where errno values become registry result codes.
long ResultOf(int error) {
  switch (error) {
    case 0:
      return kRegSuccess;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case EISDIR:
    case ENOENT:
    case ELOOP:
    case ENAMETOOLONG:
      return kRegAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kRegDiskFull;
    default:
      return kRegRegistryIoFailed;
  }
}

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

std::string TempPathFor(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".tmp";
}

// Creates folder and its missing parents; 0 or an errno value.
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

// The whole content of fd from its start; an errno value on failure.
int ReadAll(int fd, std::string& out) {
  out.clear();
  char buffer[8192];
  for (off_t offset = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

int WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Raises the file's parse failure as the store's own, naming the file.
[[noreturn]] void ThrowUnreadable(const std::string& path, const RegFileError& e) {
  throw Exception(u"Cannot read settings file " + FromUtf8(path) + u", " + e.Message());
}

// Opens the file at path, creating it (mode 0600) and its folders when
// missing, and locks it; on return the locked file is the one at path.
int OpenLocked(const std::string& path, UniqueFd& fd, bool& created, struct stat& st) {
  if (int error = MakeFolders(FolderOf(path))) return error;
  while (true) {
    created = false;
    fd.reset(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd && errno == ENOENT) {
      fd.reset(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (!fd && errno == EEXIST) continue;
      created = static_cast<bool>(fd);
    }
    if (!fd) return errno;
    while (flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return errno;
    }
    struct stat now;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return 0;
    // Replaced (or removed) while this writer waited: lock the new file.
  }
}

// Under the file's lock: reads it, applies change, and when the text differs
// replaces the file atomically with the result, which goes to *result. Returns
// 0 or an errno value; a file that cannot be parsed raises RegFileError and is
// left as it is.
int RewriteLocked(const std::string& path, const std::function<void(RegFile&)>& change, RegFile& result) {
  UniqueFd fd;
  bool created = false;
  struct stat st;
  if (int error = OpenLocked(path, fd, created, st)) return error;

  std::string before;
  if (int error = ReadAll(fd.get(), before)) return error;
  RegFile file = RegFile::Parse(before);
  change(file);
  const std::string after = file.Text();
  if (after == before) {
    result = std::move(file);
    return 0;
  }

  const std::string temp = TempPathFor(path);
  unlink(temp.c_str());  // left by a writer that died: only a lock holder writes it
  UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out) return errno;
  int error = 0;
  if (fchmod(out.get(), created ? 0600 : (st.st_mode & 07777)) != 0) error = errno;
  if (!error && !created && geteuid() == 0) (void)!fchown(out.get(), st.st_uid, st.st_gid);
  if (!error) error = WriteAll(out.get(), after);
  if (!error && fsync(out.get()) != 0) error = errno;
  if (!error && close(out.release()) != 0) error = errno;
  if (!error && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    unlink(temp.c_str());
    return error;
  }
  UniqueFd folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) fsync(folder.get());
  result = std::move(file);
  return 0;
}

// The file as it stands, read without a lock; nothing when it does not exist.
// Other failures give an errno value in error.
std::optional<std::string> ReadIfPresent(const std::string& path, int& error) {
  error = 0;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (errno != ENOENT) error = errno;
    return std::nullopt;
  }
  std::string text;
  if ((error = ReadAll(fd.get(), text)) != 0) return std::nullopt;
  return text;
}

bool CanRewrite(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0 &&
         faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

class SettingsFileKey : public RegistryBackend {
 public:
  // Opens the key as the file holds it now. Creates the file (mode 0600), its
  // folders and the key's section when missing; access denied (5) when the
  // location cannot be created or written. A file that cannot be parsed
  // raises an Exception naming the file and the line, and is not touched.
  long CreateKey() override {
    CloseKey();
    const std::string path = SettingsPath();
    try {
      int error = 0;
      if (auto text = ReadIfPresent(path, error)) {
        RegFile file = RegFile::Parse(*text);
        if (file.HasKey(kKeyPath)) {
          if (!CanRewrite(path)) return kRegAccessDenied;
          Open(path, std::move(file));
          return kRegSuccess;
        }
      } else if (error) {
        return kRegAccessDenied;
      }
      RegFile file;
      if (RewriteLocked(path, [](RegFile& f) { f.AddKey(kKeyPath); }, file)) return kRegAccessDenied;
      Open(path, std::move(file));
      return kRegSuccess;
    } catch (const RegFileError& e) {
      ThrowUnreadable(path, e);
    }
  }

  // Reads the file as it stands, without its lock, and opens the key from
  // that copy; creates nothing and needs no write access, so a user who can
  // only read the file can open it. A missing file or key gives 2; a file
  // that cannot be read, 5; one that cannot be parsed raises, as above.
  long OpenKeyForReading() override {
    CloseKey();
    const std::string path = SettingsPath();
    int error = 0;
    std::optional<std::string> text = ReadIfPresent(path, error);
    if (!text) return error ? kRegAccessDenied : kRegFileNotFound;
    try {
      RegFile file = RegFile::Parse(*text);
      if (!file.HasKey(kKeyPath)) return kRegFileNotFound;
      Open(path, std::move(file));
      read_only_ = true;
      return kRegSuccess;
    } catch (const RegFileError& e) {
      ThrowUnreadable(path, e);
    }
  }

  // Answers from the file as it was read when the key was opened (or last
  // written through this key).
  long QueryValue(const String& name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override {
    if (!file_) return kRegInvalidHandle;
    const auto value = file_->Find(kKeyPath, name);
    if (!value) return kRegFileNotFound;
    const auto length = static_cast<std::uint32_t>(value->data.size());
    if (type) *type = value->type;
    if (data && (!size || *size < length)) {
      if (size) *size = length;
      return kRegMoreData;
    }
    if (data) std::copy(value->data.begin(), value->data.end(), data);
    if (size) *size = length;
    return kRegSuccess;
  }

  // Re-reads the file under its lock, changes this one value and replaces the
  // file atomically, keeping every other key, value and comment.
  long SetValue(const String& name, std::uint32_t type, const std::vector<std::uint8_t>& data) override {
    if (!file_) return kRegInvalidHandle;
    if (read_only_) return kRegAccessDenied;
    RegFile file;
    try {
      const RegValue value{type, data};
      const int error = RewriteLocked(
          path_, [&](RegFile& f) { f.Set(kKeyPath, name, value); }, file);
      if (error) return ResultOf(error);
    } catch (const RegFileError&) {
      return kRegRegistryCorrupt;
    }
    file_ = std::move(file);
    return kRegSuccess;
  }

  void CloseKey() override {
    file_.reset();
    path_.clear();
    read_only_ = false;
  }

 private:
  void Open(const std::string& path, RegFile file) {
    path_ = path;
    file_ = std::move(file);
  }

  std::string path_;
  std::optional<RegFile> file_;  // the key is open while this holds the file
  bool read_only_ = false;       // opened by OpenKeyForReading
};

}  // namespace

std::unique_ptr<RegistryBackend> NewSettingsKeyBackend() { return std::make_unique<SettingsFileKey>(); }

}  // namespace vantrel
