#include "platform/errno_code_linux.h"

#include <cerrno>

namespace vantrel {

std::uint32_t WindowsCodeOfErrno(int error, std::uint32_t other) {
  switch (error) {
    case ENOENT: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG: return 5;  // ERROR_ACCESS_DENIED
    case ENOSPC:
    case EDQUOT: return 112;  // ERROR_DISK_FULL
    default: return other;
  }
}

}  // namespace vantrel
