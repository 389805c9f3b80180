// The settings key on Linux: a file in the registry export format, by default
// /var/lib/vantrel/settings.reg, or the file that VANTREL_REGISTRY names. A
// symbolic link there is followed: the file it leads to is read, created and
// replaced in its own folder, and the link stays as it is.
//
// Only a regular file is a settings file. Anything else at the path (a FIFO, a
// device, a folder, a socket) is opened without blocking, found not regular,
// and never read: the key does not open, with a message naming the path. A
// file of no bytes is no settings file either: an export always begins with
// its header, so it is a save cut short (by a full disk, say), never a key to
// begin afresh; it is not read and never written over.
//
// Opening the key to write it fails with a message naming the path and the
// system's reason whenever it cannot be written (a read-only file or folder,
// a read-only file system): the caller may still read it (OpenKeyForReading).
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
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/errno_code_linux.h"
#include "platform/fd_io_linux.h"
#include "platform/system_text.h"
#include "platform/unique_fd.h"
#include "settings/reg_file.h"
#include "settings/settings_key.h"
#include "settings/settings_file_path_linux.h"

namespace vantrel {

namespace {

constexpr char16_t kKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";

// Windows result codes the file store gives besides those of the interface.
constexpr long kRegInvalidHandle = 6;
constexpr long kRegRegistryCorrupt = 1015;
constexpr long kRegRegistryIoFailed = 1016;
constexpr std::uint32_t kPathNotFound = 3;  // a file-system code no registry call gives

// How often a writer starts again because the file at the path was made or
// replaced while it opened or locked it; only a path that changes without
// pause runs out of them.
constexpr int kOpenAttempts = 100;

// The registry's result for a failed write of the settings file, from the
// file-system code of the errno value: access denied (5) and disk full (112)
// as they stand; a folder missing on the way (3) is access denied as well,
// since a registry call names no path; a failure with no Windows name is the
// registry's own input/output failure (1016).
long ResultOf(int error) {
  const std::uint32_t code = WindowsCodeOfErrno(error, kRegRegistryIoFailed);
  return code == kPathNotFound ? kRegAccessDenied : static_cast<long>(code);
}

// Something other than a regular file where the settings file should be.
struct NotRegularFile {
  mode_t mode;
  std::string opened;  // what was opened, as the kernel names it
};

// Opens a file that may turn out to be anything. A device found at path
// raises NotRegularFile before it is opened, as opening some devices does
// something (a watchdog arms, a tape rewinds); anything else is opened
// without blocking (a FIFO with no writer) and without becoming the
// controlling terminal, for CheckRegular to refuse what is no regular file.
UniqueFd OpenWithoutBlocking(const std::string& path, int flags, mode_t mode = 0) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
    char resolved[PATH_MAX];
    throw NotRegularFile{st.st_mode, realpath(path.c_str(), resolved) ? std::string(resolved) : path};
  }
  return UniqueFd(open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
}

// Raises NotRegularFile unless fd is a regular file; st receives its status.
// 0 or an errno value.
int CheckRegular(int fd, struct stat& st) {
  if (fstat(fd, &st) != 0) return errno;
  if (S_ISREG(st.st_mode)) return 0;
  char opened[PATH_MAX];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), opened, sizeof opened);
  throw NotRegularFile{st.st_mode, n > 0 ? std::string(opened, static_cast<std::size_t>(n)) : std::string()};
}

// Raises the file's parse failure as the store's own, naming the file.
[[noreturn]] void ThrowUnreadable(const std::string& path, const RegFileError& e) {
  throw Exception(u"Cannot read settings file " + FromUtf8(path) + u", " + e.Message());
}

// A settings file of no bytes, found where a file was expected to be read.
struct EmptyFile {};

// The settings file's bytes as the key they hold; raises EmptyFile for no
// bytes at all, RegFileError for a line that cannot be read.
RegFile ParseSettings(std::string_view bytes) {
  if (bytes.empty()) throw EmptyFile{};
  return RegFile::Parse(bytes);
}

// Raises the store's own failure for a file of no bytes.
[[noreturn]] void ThrowEmpty(const std::string& path) {
  throw Exception(u"Cannot read settings file " + FromUtf8(path) + u", it is empty (0 bytes)");
}

// Raises the store's own failure for a settings file that cannot be read at
// all: error is the errno value.
[[noreturn]] void ThrowCannotRead(const std::string& path, int error) {
  throw Exception(u"Cannot read settings file " + FromUtf8(path) + u", " +
                  SystemErrorText(static_cast<std::uint32_t>(error)));
}

// Raises the store's own failure for a settings file that cannot be written:
// the path, the file its links lead to when that is another, the folder when
// the failure is the folder's, and the system's text of error.
[[noreturn]] void ThrowCannotWrite(const std::string& path, const std::string& file, const std::string& folder,
                                   int error) {
  String text = u"Cannot write settings file " + FromUtf8(path) + u", ";
  if (file != path) text += u"it leads to " + FromUtf8(file) + u", ";
  if (!folder.empty()) text += u"folder " + FromUtf8(folder) + u": ";
  throw Exception(text + SystemErrorText(static_cast<std::uint32_t>(error)));
}

String KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return u"a FIFO";
  if (S_ISCHR(mode)) return u"a character device";
  if (S_ISBLK(mode)) return u"a block device";
  if (S_ISDIR(mode)) return u"a folder";
  if (S_ISSOCK(mode)) return u"a socket";
  return u"something else";
}

// Raises the store's own failure for a path that is no regular file.
[[noreturn]] void ThrowNotRegular(const std::string& path, const NotRegularFile& e) {
  String text = u"Cannot read settings file " + FromUtf8(path) + u", ";
  struct stat st;
  if (!e.opened.empty() && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    text += u"it leads to " + FromUtf8(e.opened) + u", ";
  }
  throw Exception(text + KindOf(e.mode) + u", not a regular file");
}

// Opens the file that path leads to, creating it (mode 0600) and its folders
// when missing, and locks it; on return the locked file is the one at path,
// and file names it past any links. Raises NotRegularFile for anything but a
// regular file.
int OpenLocked(const std::string& path, UniqueFd& fd, bool& created, struct stat& st, std::string& file) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (int error = ResolveLinks(path, file)) return error;
    if (int error = MakeFolders(FolderOf(file))) return error;
    created = false;
    fd.reset();  // closed before the next open, so errno is the open's own
    fd = OpenWithoutBlocking(file, O_RDWR);
    if (!fd && errno == ENOENT) {
      fd = OpenWithoutBlocking(file, O_RDWR | O_CREAT | O_EXCL, 0600);
      if (!fd && errno == EEXIST) continue;  // made, or linked, meanwhile: look again
      created = static_cast<bool>(fd);
    }
    if (!fd) return errno;
    if (int error = CheckRegular(fd.get(), st)) return error;
    while (flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return errno;
    }
    struct stat now;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return 0;
    // Replaced (or removed, or the link turned) while this writer waited:
    // lock the new file.
  }
  return EAGAIN;
}

// Under the file's lock: reads it, applies change, and when the text differs
// replaces the file atomically with the result, which goes to *result. Returns
// 0 or an errno value; a file that cannot be parsed raises RegFileError (one of
// no bytes EmptyFile) and is left as it is, and anything but a regular file
// raises NotRegularFile.
int RewriteLocked(const std::string& path, const std::function<void(RegFile&)>& change, RegFile& result) {
  UniqueFd fd;
  bool created = false;
  struct stat st;
  std::string file;
  if (int error = OpenLocked(path, fd, created, st, file)) return error;
  // A file this writer made and could not fill (a full disk, say) is
  // removed again: left with no bytes, it would be refused from then on.
  const auto failed = [&](int error) {
    if (created) unlink(file.c_str());
    return error;
  };

  std::string before;
  if (int error = ReadAll(fd.get(), before)) return failed(error);
  // Only the file this writer has just made starts empty; any other file of
  // no bytes raises EmptyFile.
  RegFile parsed = created ? RegFile() : ParseSettings(before);
  change(parsed);
  const std::string after = parsed.Text();
  if (after == before) {
    result = std::move(parsed);
    return 0;
  }

  // The new text goes beside the file the links lead to, so the rename
  // replaces that file and never the link.
  const std::string temp = HiddenBeside(file, ".tmp");
  unlink(temp.c_str());  // left by a writer that died: only a lock holder writes it
  UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out) return failed(errno);
  int error = 0;
  if (fchmod(out.get(), created ? 0600 : (st.st_mode & 07777)) != 0) error = errno;
  if (!error && !created && geteuid() == 0) (void)!fchown(out.get(), st.st_uid, st.st_gid);
  if (!error) error = WriteAll(out.get(), after);
  if (!error && fsync(out.get()) != 0) error = errno;
  if (!error && close(out.release()) != 0) error = errno;
  if (!error && rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error) {
    unlink(temp.c_str());
    return failed(error);
  }
  UniqueFd folder(open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) fsync(folder.get());
  result = std::move(parsed);
  return 0;
}

// The file as it stands, read without a lock; nothing when it does not exist.
// Other failures give an errno value in error; anything but a regular file
// raises NotRegularFile, and nothing is read from it.
std::optional<std::string> ReadIfPresent(const std::string& path, int& error) {
  error = 0;
  UniqueFd fd = OpenWithoutBlocking(path, O_RDONLY);
  if (!fd) {
    if (errno == ENOENT) return std::nullopt;
    error = errno;
    // A socket cannot be opened at all: say what is there all the same.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw NotRegularFile{st.st_mode, path};
    return std::nullopt;
  }
  struct stat st;
  if ((error = CheckRegular(fd.get(), st)) != 0) return std::nullopt;
  std::string text;
  if ((error = ReadAll(fd.get(), text)) != 0) return std::nullopt;
  return text;
}

// Raises the store's failure naming path unless file may be replaced: it can
// be read and written, and a new file can be made in its folder.
void CheckRewritable(const std::string& path, const std::string& file) {
  if (faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) != 0) ThrowCannotWrite(path, file, "", errno);
  const std::string folder = FolderOf(file);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) ThrowCannotWrite(path, file, folder, errno);
}

class SettingsFileKey : public RegistryBackend {
 public:
  // Opens the key as the file holds it now. Creates the file (mode 0600), its
  // folders and the key's section when missing. A file that cannot be parsed
  // (or has no bytes), that is no regular file, or that cannot be read or
  // written (its folder included, or the folders to be made for it) raises an
  // Exception naming the path (and the line at fault, or the system's
  // reason), and is not touched.
  long CreateKey() override {
    CloseKey();
    const std::string path = SettingsPath();
    try {
      std::string file;
      if (int error = ResolveLinks(path, file)) ThrowCannotRead(path, error);
      int error = 0;
      if (auto text = ReadIfPresent(file, error)) {
        RegFile parsed = ParseSettings(*text);
        if (parsed.HasKey(kKeyPath)) {
          CheckRewritable(path, file);
          Open(path, std::move(parsed));
          return kRegSuccess;
        }
      } else if (error) {
        ThrowCannotRead(path, error);
      }
      RegFile parsed;
      if (int error = RewriteLocked(
              path, [](RegFile& f) { f.AddKey(kKeyPath); }, parsed)) {
        ThrowCannotWrite(path, file, "", error);
      }
      Open(path, std::move(parsed));
      return kRegSuccess;
    } catch (const RegFileError& e) {
      ThrowUnreadable(path, e);
    } catch (const EmptyFile&) {
      ThrowEmpty(path);
    } catch (const NotRegularFile& e) {
      ThrowNotRegular(path, e);
    }
  }

  // Reads the file as it stands (through its links), without its lock, and
  // opens the key from that copy; creates nothing and needs no write access,
  // so a user who can only read the file can open it. A missing file or key
  // gives 2; a file that cannot be read, 5; one that cannot be parsed (or has
  // no bytes), or that is no regular file, raises, as above.
  long OpenKeyForReading() override {
    CloseKey();
    const std::string path = SettingsPath();
    try {
      int error = 0;
      std::optional<std::string> text = ReadIfPresent(path, error);
      if (!text) return error ? kRegAccessDenied : kRegFileNotFound;
      RegFile file = ParseSettings(*text);
      if (!file.HasKey(kKeyPath)) return kRegFileNotFound;
      Open(path, std::move(file));
      read_only_ = true;
      return kRegSuccess;
    } catch (const RegFileError& e) {
      ThrowUnreadable(path, e);
    } catch (const EmptyFile&) {
      ThrowEmpty(path);
    } catch (const NotRegularFile& e) {
      ThrowNotRegular(path, e);
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
    } catch (const EmptyFile&) {
      return kRegRegistryCorrupt;  // cut short since it was opened
    } catch (const NotRegularFile&) {
      return kRegRegistryCorrupt;  // turned into something else since it was opened
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
