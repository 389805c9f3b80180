// Writing bytes whole to a file descriptor, on Linux.
#pragma once

#include <string_view>

namespace vantrel {

// Writes all of bytes, going on after short writes and interruptions; 0, or
// the errno value of the write that failed.
int WriteAll(int fd, std::string_view bytes);

}  // namespace vantrel
