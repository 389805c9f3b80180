// Reading and writing bytes whole through a file descriptor, on Linux.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// Writes all of bytes, going on after short writes and interruptions; 0, or
// the errno value of the write that failed.
int WriteAll(int fd, std::string_view bytes);

// Reads from where fd stands to its end into out, going on after
// interruptions; 0, the errno value of the read that failed, or EFBIG when
// more than limit bytes come.
int ReadAll(int fd, std::string& out, std::size_t limit = std::string::npos);

}  // namespace vantrel
