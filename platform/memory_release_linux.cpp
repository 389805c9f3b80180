#include <malloc.h>

#include "platform/memory_release.h"

namespace vantrel {

void ReturnFreedMemory() { malloc_trim(0); }

}  // namespace vantrel
