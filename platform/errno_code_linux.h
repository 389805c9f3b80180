// The Windows error code that stands for an errno value on Linux, where the
// program reports file-system failures in the Windows codes and wordings.
#pragma once

#include <cstdint>

namespace vantrel {

// The code a Windows file call gives for the same failure: 3 (the path not
// found) for ENOENT, a folder missing on the way; 5 (access denied) for
// EACCES, EPERM, EROFS, ENOTDIR, EISDIR, ELOOP and ENAMETOOLONG, a place
// that cannot be reached or written; 112 (disk full) for ENOSPC and EDQUOT.
// Any other value, 0 among them, gives other: what the caller's own
// interface answers for a failure it cannot name.
std::uint32_t WindowsCodeOfErrno(int error, std::uint32_t other);

}  // namespace vantrel
