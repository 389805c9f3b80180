#include "platform/spawn_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/unique_fd.h"
#include "platform/unique_handle.h"

extern char** environ;

namespace vantrel {

namespace {

void DestroyFileActions(posix_spawn_file_actions_t* actions) { posix_spawn_file_actions_destroy(actions); }
void DestroyAttributes(posix_spawnattr_t* attributes) { posix_spawnattr_destroy(attributes); }

// Pointers to the strings, ending in a null pointer, as exec takes them.
std::vector<char*> PointerList(const std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (const std::string& s : strings) list.push_back(const_cast<char*>(s.c_str()));
  list.push_back(nullptr);
  return list;
}

}  // namespace

pid_t SpawnProgram(const SpawnOptions& options) {
  const int handed = static_cast<int>(options.descriptors.size());
  const int first_closed = 3 + handed;
  // The descriptors go to 3, 4, ... one after another in the child; one
  // that already sits where another is to go would be overwritten first. So
  // each is copied above that range (close-on-exec) and put in place from
  // there.
  std::vector<UniqueFd> copies;
  for (int fd : options.descriptors) {
    copies.emplace_back(fcntl(fd, F_DUPFD_CLOEXEC, first_closed));
    if (!copies.back()) return -1;
  }

  posix_spawn_file_actions_t actions_storage;
  if (int e = posix_spawn_file_actions_init(&actions_storage)) {
    errno = e;
    return -1;
  }
  const UniqueHandle<posix_spawn_file_actions_t*, DestroyFileActions> actions(&actions_storage);
  posix_spawnattr_t attributes_storage;
  if (int e = posix_spawnattr_init(&attributes_storage)) {
    errno = e;
    return -1;
  }
  const UniqueHandle<posix_spawnattr_t*, DestroyAttributes> attributes(&attributes_storage);

  int e = 0;
  for (int i = 0; i < handed && e == 0; ++i)
    e = posix_spawn_file_actions_adddup2(actions.get(), copies[i].get(), 3 + i);
  if (e == 0 && options.quiet) {
    e = posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
    if (e == 0) e = posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
  }
  if (e == 0) e = posix_spawn_file_actions_addclosefrom_np(actions.get(), first_closed);
  sigset_t all;
  sigfillset(&all);
  if (e == 0) e = posix_spawnattr_setsigdefault(attributes.get(), &all);
  if (e == 0) e = posix_spawnattr_setsigmask(attributes.get(), &options.blocked);
  if (e == 0) e = posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (e != 0) {
    errno = e;
    return -1;
  }

  const std::vector<char*> argv = PointerList(options.arguments);
  const std::vector<char*> envp = PointerList(options.environment);
  pid_t pid = -1;
  e = options.search_path
          ? posix_spawnp(&pid, options.program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data())
          : posix_spawn(&pid, options.program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data());
  if (e != 0) {
    errno = e;
    return -1;
  }
  return pid;
}

int WaitForProgram(pid_t pid) {
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return -1;
  }
}

std::vector<std::string> EnvironmentWithout(const std::vector<std::string>& names) {
  std::vector<std::string> kept;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string line(*entry);
    const std::string name = line.substr(0, line.find('='));
    if (std::find(names.begin(), names.end(), name) == names.end()) kept.push_back(line);
  }
  return kept;
}

}  // namespace vantrel
