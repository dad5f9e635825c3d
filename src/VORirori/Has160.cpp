#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

namespace vrd {

using hash_internal::LoadLE32;
using hash_internal::Rotl32;

namespace hash_internal {

// TTAS.KO-12.0011/R2: four rounds of twenty steps. The rotation of A per step
// (5 11 7 15 6 13 8 14 7 12 9 11 8 15 6 12 9 14 5 13) is the same in every
// round; B rotates by 10, 17, 25, 30 per round. Each round first forms four
// extra message words, exclusive ors of four block words, and reads the twenty
// words in its own order. The variables are renamed, not moved, per step.
#define VRD_HAS_F1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define VRD_HAS_F2(x, y, z) ((x) ^ (y) ^ (z))
#define VRD_HAS_F3(x, y, z) ((y) ^ ((x) | ~(z)))
#define VRD_HAS_STEP(f, k, rb, a, b, c, d, e, ra, m) \
  e += Rotl32(a, ra) + f(b, c, d) + x##m + (k);      \
  b = Rotl32(b, rb);
#define VRD_HAS_ROUND(f, k, rb, m0, m1, m2, m3, m4, m5, m6, m7, m8, m9, m10, m11, m12, m13, m14, \
                      m15, m16, m17, m18, m19)                                                   \
  VRD_HAS_STEP(f, k, rb, a, b, c, d, e, 5, m0)                                                   \
  VRD_HAS_STEP(f, k, rb, e, a, b, c, d, 11, m1)                                                  \
  VRD_HAS_STEP(f, k, rb, d, e, a, b, c, 7, m2)                                                   \
  VRD_HAS_STEP(f, k, rb, c, d, e, a, b, 15, m3)                                                  \
  VRD_HAS_STEP(f, k, rb, b, c, d, e, a, 6, m4)                                                   \
  VRD_HAS_STEP(f, k, rb, a, b, c, d, e, 13, m5)                                                  \
  VRD_HAS_STEP(f, k, rb, e, a, b, c, d, 8, m6)                                                   \
  VRD_HAS_STEP(f, k, rb, d, e, a, b, c, 14, m7)                                                  \
  VRD_HAS_STEP(f, k, rb, c, d, e, a, b, 7, m8)                                                   \
  VRD_HAS_STEP(f, k, rb, b, c, d, e, a, 12, m9)                                                  \
  VRD_HAS_STEP(f, k, rb, a, b, c, d, e, 9, m10)                                                  \
  VRD_HAS_STEP(f, k, rb, e, a, b, c, d, 11, m11)                                                 \
  VRD_HAS_STEP(f, k, rb, d, e, a, b, c, 8, m12)                                                  \
  VRD_HAS_STEP(f, k, rb, c, d, e, a, b, 15, m13)                                                 \
  VRD_HAS_STEP(f, k, rb, b, c, d, e, a, 6, m14)                                                  \
  VRD_HAS_STEP(f, k, rb, a, b, c, d, e, 12, m15)                                                 \
  VRD_HAS_STEP(f, k, rb, e, a, b, c, d, 9, m16)                                                  \
  VRD_HAS_STEP(f, k, rb, d, e, a, b, c, 14, m17)                                                 \
  VRD_HAS_STEP(f, k, rb, c, d, e, a, b, 5, m18)                                                  \
  VRD_HAS_STEP(f, k, rb, b, c, d, e, a, 13, m19)

void Has160Compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; count > 0; --count, blocks += 64) {
    const uint32_t x0 = LoadLE32(blocks), x1 = LoadLE32(blocks + 4), x2 = LoadLE32(blocks + 8),
                   x3 = LoadLE32(blocks + 12), x4 = LoadLE32(blocks + 16),
                   x5 = LoadLE32(blocks + 20), x6 = LoadLE32(blocks + 24),
                   x7 = LoadLE32(blocks + 28), x8 = LoadLE32(blocks + 32),
                   x9 = LoadLE32(blocks + 36), x10 = LoadLE32(blocks + 40),
                   x11 = LoadLE32(blocks + 44), x12 = LoadLE32(blocks + 48),
                   x13 = LoadLE32(blocks + 52), x14 = LoadLE32(blocks + 56),
                   x15 = LoadLE32(blocks + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;
    uint32_t x16, x17, x18, x19;

    x16 = x0 ^ x1 ^ x2 ^ x3;
    x17 = x4 ^ x5 ^ x6 ^ x7;
    x18 = x8 ^ x9 ^ x10 ^ x11;
    x19 = x12 ^ x13 ^ x14 ^ x15;
    VRD_HAS_ROUND(VRD_HAS_F1, 0x00000000u, 10, 18, 0, 1, 2, 3, 19, 4, 5, 6, 7, 16, 8, 9, 10, 11, 17,
                  12, 13, 14, 15)

    x16 = x3 ^ x6 ^ x9 ^ x12;
    x17 = x2 ^ x5 ^ x8 ^ x15;
    x18 = x1 ^ x4 ^ x11 ^ x14;
    x19 = x0 ^ x7 ^ x10 ^ x13;
    VRD_HAS_ROUND(VRD_HAS_F2, 0x5a827999u, 17, 18, 3, 6, 9, 12, 19, 15, 2, 5, 8, 16, 11, 14, 1, 4,
                  17, 7, 10, 13, 0)

    x16 = x5 ^ x7 ^ x12 ^ x14;
    x17 = x0 ^ x2 ^ x9 ^ x11;
    x18 = x4 ^ x6 ^ x13 ^ x15;
    x19 = x1 ^ x3 ^ x8 ^ x10;
    VRD_HAS_ROUND(VRD_HAS_F3, 0x6ed9eba1u, 25, 18, 12, 5, 14, 7, 19, 0, 9, 2, 11, 16, 4, 13, 6, 15,
                  17, 8, 1, 10, 3)

    x16 = x2 ^ x7 ^ x8 ^ x13;
    x17 = x3 ^ x4 ^ x9 ^ x14;
    x18 = x0 ^ x5 ^ x10 ^ x15;
    x19 = x1 ^ x6 ^ x11 ^ x12;
    VRD_HAS_ROUND(VRD_HAS_F2, 0x8f1bbcdcu, 30, 18, 7, 2, 13, 8, 19, 3, 14, 9, 4, 16, 15, 10, 5, 0,
                  17, 11, 6, 1, 12)

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

#undef VRD_HAS_F1
#undef VRD_HAS_F2
#undef VRD_HAS_F3
#undef VRD_HAS_STEP
#undef VRD_HAS_ROUND

}  // namespace hash_internal

void Has160Init(Has160Context* ctx) noexcept {
  ctx->countLow = 0;
  ctx->countHigh = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->state[4] = 0xc3d2e1f0;
}

void Has160Update(Has160Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  hash_internal::UpdateBlocks64(ctx, data, length, hash_internal::Has160Compress);
}

void Has160Final(Has160Context* ctx, uint8_t* out) noexcept {
  hash_internal::FinalBlocks64<false, 5>(ctx, out, hash_internal::Has160Compress);
}

}  // namespace vrd
