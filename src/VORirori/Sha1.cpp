#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

namespace vrd {

using hash_internal::LoadBE32;
using hash_internal::Rotl32;

namespace hash_internal {

// FIPS 180-4 section 6.1.2, with the message schedule kept in a rolling
// sixteen-word window (section 6.1.3) and the variables renamed instead of
// moved from step to step.
#define VRD_SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define VRD_SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define VRD_SHA1_MAJ(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define VRD_SHA1_W(t)      \
  ((t) < 16 ? w[(t)&15]    \
            : (w[(t)&15] = \
                   Rotl32(w[((t)-3) & 15] ^ w[((t)-8) & 15] ^ w[((t)-14) & 15] ^ w[(t)&15], 1)))
#define VRD_SHA1_STEP(f, k, a, b, c, d, e, t)         \
  e += Rotl32(a, 5) + f(b, c, d) + k + VRD_SHA1_W(t); \
  b = Rotl32(b, 30);
#define VRD_SHA1_FIVE(f, k, t)                \
  VRD_SHA1_STEP(f, k, a, b, c, d, e, (t))     \
  VRD_SHA1_STEP(f, k, e, a, b, c, d, (t) + 1) \
  VRD_SHA1_STEP(f, k, d, e, a, b, c, (t) + 2) \
  VRD_SHA1_STEP(f, k, c, d, e, a, b, (t) + 3) \
  VRD_SHA1_STEP(f, k, b, c, d, e, a, (t) + 4)

void Sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBE32(blocks + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;

    VRD_SHA1_FIVE(VRD_SHA1_CH, 0x5a827999u, 0)
    VRD_SHA1_FIVE(VRD_SHA1_CH, 0x5a827999u, 5)
    VRD_SHA1_FIVE(VRD_SHA1_CH, 0x5a827999u, 10)
    VRD_SHA1_FIVE(VRD_SHA1_CH, 0x5a827999u, 15)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0x6ed9eba1u, 20)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0x6ed9eba1u, 25)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0x6ed9eba1u, 30)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0x6ed9eba1u, 35)
    VRD_SHA1_FIVE(VRD_SHA1_MAJ, 0x8f1bbcdcu, 40)
    VRD_SHA1_FIVE(VRD_SHA1_MAJ, 0x8f1bbcdcu, 45)
    VRD_SHA1_FIVE(VRD_SHA1_MAJ, 0x8f1bbcdcu, 50)
    VRD_SHA1_FIVE(VRD_SHA1_MAJ, 0x8f1bbcdcu, 55)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0xca62c1d6u, 60)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0xca62c1d6u, 65)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0xca62c1d6u, 70)
    VRD_SHA1_FIVE(VRD_SHA1_PARITY, 0xca62c1d6u, 75)

    a += aa;
    b += bb;
    c += cc;
    d += dd;
    e += ee;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

#undef VRD_SHA1_CH
#undef VRD_SHA1_PARITY
#undef VRD_SHA1_MAJ
#undef VRD_SHA1_W
#undef VRD_SHA1_STEP
#undef VRD_SHA1_FIVE

}  // namespace hash_internal

void Sha1Init(Sha1Context* ctx) noexcept {
  ctx->countLow = 0;
  ctx->countHigh = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->state[4] = 0xc3d2e1f0;
}

void Sha1Update(Sha1Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  hash_internal::UpdateBlocks64(ctx, data, length, hash_internal::Sha1CompressFn());
}

void Sha1Final(Sha1Context* ctx, uint8_t* out) noexcept {
  hash_internal::FinalBlocks64<true, 5>(ctx, out, hash_internal::Sha1CompressFn());
}

}  // namespace vrd
