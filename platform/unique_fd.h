// Owns one file descriptor (-1 holds none) and closes it on every path.
#pragma once

#include <unistd.h>

#include "platform/unique_handle.h"

namespace vantrel {

using UniqueFd = UniqueHandle<int, ::close, -1>;

}  // namespace vantrel
