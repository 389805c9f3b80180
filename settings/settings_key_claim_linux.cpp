// The settings file's claim: an exclusive flock on a lock file beside the
// file that the settings path leads to; a settings file with more than one
// name (hard links) is refused, as its other names would lock other files.
// Not on the settings file itself: its writers lock that for each write and
// replace it by rename, so a lock on it would not outlive the first write. The lock file is made once and never
// removed, so every process locks the same one; the lock goes with the
// process, however it ends.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>

#include "platform/exception.h"
#include "platform/unique_fd.h"
#include "settings/settings_file_path_linux.h"
#include "settings/settings_key_claim.h"

namespace vantrel {

namespace {

class LockFileClaim : public SettingsKeyClaim {
 public:
  explicit LockFileClaim(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace

std::unique_ptr<SettingsKeyClaim> ClaimSettingsKey() {
  std::string file;
  if (ResolveLinks(SettingsPath(), file) != 0) return nullptr;
  // A FIFO or a device is never a settings file, and no lock file goes
  // beside it (into /dev, say): the key cannot be opened there anyway.
  struct stat st;
  const bool exists = stat(file.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return nullptr;
  // The lock goes by the file's name: a second name of the same file (a hard
  // link) would be a second claim, and two services would post every entry.
  // A symbolic link leads to the one name, and is followed above.
  if (exists && st.st_nlink > 1) {
    const String names = IntToStr(static_cast<std::int64_t>(st.st_nlink));
    throw Exception(u"The settings file " + FromUtf8(file) + u" has " + names +
                    u" names (hard links), so another service could use it under another; this one ends. Keep one "
                    u"name, and a symbolic link where another path must lead to it");
  }
  if (MakeFolders(FolderOf(file)) != 0) return nullptr;
  // Mode 0600: a user who could open it could hold the lock and keep the
  // service from starting.
  const std::string lock = HiddenBeside(file, ".lock");
  UniqueFd fd(open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
  // A link, a FIFO or a folder put where the lock file belongs would let a
  // second service run beside the first: it refuses to start instead.
  // Where the folder cannot be written (no rights, a read-only or full file
  // system) nothing can be stored either, and the service runs unclaimed.
  const bool not_a_lock =
      fd ? fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) : errno == ELOOP || errno == EISDIR || errno == ENXIO;
  if (not_a_lock) {
    throw Exception(u"Cannot claim the settings file " + FromUtf8(file) + u": " + FromUtf8(lock) +
                    u" is no regular file; this one ends");
  }
  if (!fd) return nullptr;
  while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return nullptr;
    throw Exception(u"Another Vantrel service already uses the settings file " + FromUtf8(file) + u"; this one ends");
  }
  return std::make_unique<LockFileClaim>(std::move(fd));
}

}  // namespace vantrel
