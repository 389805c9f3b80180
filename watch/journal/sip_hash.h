// SipHash-2-4, the keyed hash by which journal files (with a keyed hash, the
// default since systemd 246) index their data and field objects, keyed with
// the file's own identifier.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

std::uint64_t SipHash24(const void* data, std::size_t size, const unsigned char key[16]);

}  // namespace vantrel
