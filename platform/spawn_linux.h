// Starting another program from a process that runs several threads. After
// fork, such a process may only make async-signal-safe calls until exec: a
// lock another thread held at the fork (the allocator's, the loader's, a
// library's own) stays locked in the child for ever. posix_spawn runs nothing
// of the program's own between its clone and the exec, so it is the one way
// this program starts others.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace vantrel {

struct SpawnOptions {
  // The program: a path, or with search_path a name looked up in PATH.
  // "/proc/self/exe" starts this very program, the file this process was
  // started from, also after that file was replaced or removed on disk.
  std::string program;
  bool search_path = false;
  // Its arguments, its own name first.
  std::vector<std::string> arguments;
  // Its whole environment, "NAME=value" each.
  std::vector<std::string> environment;
  // Descriptors it gets as 3, 4, ... in this order. Every other descriptor
  // from 3 on is closed in it, whether or not it is marked close-on-exec;
  // 0, 1 and 2 are inherited.
  std::vector<int> descriptors;
  // Standard output and standard error go to /dev/null.
  bool quiet = false;
  // Signals blocked in it; every signal's action is the default one there.
  sigset_t blocked{};
};

// Starts the program; its process id, or -1 with errno set when it could not
// be started (the program missing or not executable among the reasons).
pid_t SpawnProgram(const SpawnOptions& options);

// Waits for the process to end, going on after interruptions; its wait
// status, or -1 when there is no such child.
int WaitForProgram(pid_t pid);

// This process's environment without the variables named (the whole
// "NAME=" up to the first "=" compared), "NAME=value" each.
std::vector<std::string> EnvironmentWithout(const std::vector<std::string>& names);

}  // namespace vantrel
