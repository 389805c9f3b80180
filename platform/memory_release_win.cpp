#include <malloc.h>

#include "platform/memory_release.h"

namespace vantrel {

void ReturnFreedMemory() { _heapmin(); }

}  // namespace vantrel
