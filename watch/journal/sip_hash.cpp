#include "watch/journal/sip_hash.h"

#include "watch/journal/little_endian.h"

namespace vantrel {

namespace {

std::uint64_t Rotl(std::uint64_t x, int bits) { return x << bits | x >> (64 - bits); }

struct State {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
  }

  void Take(std::uint64_t m) {
    v3 ^= m;
    Round();
    Round();
    v0 ^= m;
  }
};

}  // namespace

std::uint64_t SipHash24(const void* data, std::size_t size, const unsigned char key[16]) {
  const std::uint64_t k0 = Le64(key), k1 = Le64(key + 8);
  State s{0x736f6d6570736575ULL ^ k0, 0x646f72616e646f6dULL ^ k1, 0x6c7967656e657261ULL ^ k0,
          0x7465646279746573ULL ^ k1};
  const auto* in = static_cast<const unsigned char*>(data);
  const std::size_t whole = size - size % 8;
  for (std::size_t i = 0; i < whole; i += 8) s.Take(Le64(in + i));
  // The last block: the bytes left over, and the length's low byte on top.
  std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
  for (std::size_t i = 0; i < size % 8; ++i) last |= static_cast<std::uint64_t>(in[whole + i]) << (8 * i);
  s.Take(last);
  s.v2 ^= 0xff;
  for (int i = 0; i < 4; ++i) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace vantrel
