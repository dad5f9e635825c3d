#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

namespace vrd {

using hash_internal::LoadLE32;
using hash_internal::Rotl32;

namespace hash_internal {

// RFC 1321 section 3.4: four rounds of sixteen steps, constants
// T[i] = floor(2^32 * |sin(i)|), written into the code.
#define VRD_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define VRD_MD5_G(x, y, z) (((x) & (z)) | ((y) & ~(z)))
#define VRD_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define VRD_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define VRD_MD5_STEP(f, a, b, c, d, k, t, s)         \
  a += f(b, c, d) + x##k + static_cast<uint32_t>(t); \
  a = Rotl32(a, s) + b;

void Md5Compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count > 0; --count, blocks += 64) {
    const uint32_t x0 = LoadLE32(blocks), x1 = LoadLE32(blocks + 4), x2 = LoadLE32(blocks + 8),
                   x3 = LoadLE32(blocks + 12), x4 = LoadLE32(blocks + 16),
                   x5 = LoadLE32(blocks + 20), x6 = LoadLE32(blocks + 24),
                   x7 = LoadLE32(blocks + 28), x8 = LoadLE32(blocks + 32),
                   x9 = LoadLE32(blocks + 36), x10 = LoadLE32(blocks + 40),
                   x11 = LoadLE32(blocks + 44), x12 = LoadLE32(blocks + 48),
                   x13 = LoadLE32(blocks + 52), x14 = LoadLE32(blocks + 56),
                   x15 = LoadLE32(blocks + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    VRD_MD5_STEP(VRD_MD5_F, a, b, c, d, 0, 0xd76aa478, 7)
    VRD_MD5_STEP(VRD_MD5_F, d, a, b, c, 1, 0xe8c7b756, 12)
    VRD_MD5_STEP(VRD_MD5_F, c, d, a, b, 2, 0x242070db, 17)
    VRD_MD5_STEP(VRD_MD5_F, b, c, d, a, 3, 0xc1bdceee, 22)
    VRD_MD5_STEP(VRD_MD5_F, a, b, c, d, 4, 0xf57c0faf, 7)
    VRD_MD5_STEP(VRD_MD5_F, d, a, b, c, 5, 0x4787c62a, 12)
    VRD_MD5_STEP(VRD_MD5_F, c, d, a, b, 6, 0xa8304613, 17)
    VRD_MD5_STEP(VRD_MD5_F, b, c, d, a, 7, 0xfd469501, 22)
    VRD_MD5_STEP(VRD_MD5_F, a, b, c, d, 8, 0x698098d8, 7)
    VRD_MD5_STEP(VRD_MD5_F, d, a, b, c, 9, 0x8b44f7af, 12)
    VRD_MD5_STEP(VRD_MD5_F, c, d, a, b, 10, 0xffff5bb1, 17)
    VRD_MD5_STEP(VRD_MD5_F, b, c, d, a, 11, 0x895cd7be, 22)
    VRD_MD5_STEP(VRD_MD5_F, a, b, c, d, 12, 0x6b901122, 7)
    VRD_MD5_STEP(VRD_MD5_F, d, a, b, c, 13, 0xfd987193, 12)
    VRD_MD5_STEP(VRD_MD5_F, c, d, a, b, 14, 0xa679438e, 17)
    VRD_MD5_STEP(VRD_MD5_F, b, c, d, a, 15, 0x49b40821, 22)

    VRD_MD5_STEP(VRD_MD5_G, a, b, c, d, 1, 0xf61e2562, 5)
    VRD_MD5_STEP(VRD_MD5_G, d, a, b, c, 6, 0xc040b340, 9)
    VRD_MD5_STEP(VRD_MD5_G, c, d, a, b, 11, 0x265e5a51, 14)
    VRD_MD5_STEP(VRD_MD5_G, b, c, d, a, 0, 0xe9b6c7aa, 20)
    VRD_MD5_STEP(VRD_MD5_G, a, b, c, d, 5, 0xd62f105d, 5)
    VRD_MD5_STEP(VRD_MD5_G, d, a, b, c, 10, 0x02441453, 9)
    VRD_MD5_STEP(VRD_MD5_G, c, d, a, b, 15, 0xd8a1e681, 14)
    VRD_MD5_STEP(VRD_MD5_G, b, c, d, a, 4, 0xe7d3fbc8, 20)
    VRD_MD5_STEP(VRD_MD5_G, a, b, c, d, 9, 0x21e1cde6, 5)
    VRD_MD5_STEP(VRD_MD5_G, d, a, b, c, 14, 0xc33707d6, 9)
    VRD_MD5_STEP(VRD_MD5_G, c, d, a, b, 3, 0xf4d50d87, 14)
    VRD_MD5_STEP(VRD_MD5_G, b, c, d, a, 8, 0x455a14ed, 20)
    VRD_MD5_STEP(VRD_MD5_G, a, b, c, d, 13, 0xa9e3e905, 5)
    VRD_MD5_STEP(VRD_MD5_G, d, a, b, c, 2, 0xfcefa3f8, 9)
    VRD_MD5_STEP(VRD_MD5_G, c, d, a, b, 7, 0x676f02d9, 14)
    VRD_MD5_STEP(VRD_MD5_G, b, c, d, a, 12, 0x8d2a4c8a, 20)

    VRD_MD5_STEP(VRD_MD5_H, a, b, c, d, 5, 0xfffa3942, 4)
    VRD_MD5_STEP(VRD_MD5_H, d, a, b, c, 8, 0x8771f681, 11)
    VRD_MD5_STEP(VRD_MD5_H, c, d, a, b, 11, 0x6d9d6122, 16)
    VRD_MD5_STEP(VRD_MD5_H, b, c, d, a, 14, 0xfde5380c, 23)
    VRD_MD5_STEP(VRD_MD5_H, a, b, c, d, 1, 0xa4beea44, 4)
    VRD_MD5_STEP(VRD_MD5_H, d, a, b, c, 4, 0x4bdecfa9, 11)
    VRD_MD5_STEP(VRD_MD5_H, c, d, a, b, 7, 0xf6bb4b60, 16)
    VRD_MD5_STEP(VRD_MD5_H, b, c, d, a, 10, 0xbebfbc70, 23)
    VRD_MD5_STEP(VRD_MD5_H, a, b, c, d, 13, 0x289b7ec6, 4)
    VRD_MD5_STEP(VRD_MD5_H, d, a, b, c, 0, 0xeaa127fa, 11)
    VRD_MD5_STEP(VRD_MD5_H, c, d, a, b, 3, 0xd4ef3085, 16)
    VRD_MD5_STEP(VRD_MD5_H, b, c, d, a, 6, 0x04881d05, 23)
    VRD_MD5_STEP(VRD_MD5_H, a, b, c, d, 9, 0xd9d4d039, 4)
    VRD_MD5_STEP(VRD_MD5_H, d, a, b, c, 12, 0xe6db99e5, 11)
    VRD_MD5_STEP(VRD_MD5_H, c, d, a, b, 15, 0x1fa27cf8, 16)
    VRD_MD5_STEP(VRD_MD5_H, b, c, d, a, 2, 0xc4ac5665, 23)

    VRD_MD5_STEP(VRD_MD5_I, a, b, c, d, 0, 0xf4292244, 6)
    VRD_MD5_STEP(VRD_MD5_I, d, a, b, c, 7, 0x432aff97, 10)
    VRD_MD5_STEP(VRD_MD5_I, c, d, a, b, 14, 0xab9423a7, 15)
    VRD_MD5_STEP(VRD_MD5_I, b, c, d, a, 5, 0xfc93a039, 21)
    VRD_MD5_STEP(VRD_MD5_I, a, b, c, d, 12, 0x655b59c3, 6)
    VRD_MD5_STEP(VRD_MD5_I, d, a, b, c, 3, 0x8f0ccc92, 10)
    VRD_MD5_STEP(VRD_MD5_I, c, d, a, b, 10, 0xffeff47d, 15)
    VRD_MD5_STEP(VRD_MD5_I, b, c, d, a, 1, 0x85845dd1, 21)
    VRD_MD5_STEP(VRD_MD5_I, a, b, c, d, 8, 0x6fa87e4f, 6)
    VRD_MD5_STEP(VRD_MD5_I, d, a, b, c, 15, 0xfe2ce6e0, 10)
    VRD_MD5_STEP(VRD_MD5_I, c, d, a, b, 6, 0xa3014314, 15)
    VRD_MD5_STEP(VRD_MD5_I, b, c, d, a, 13, 0x4e0811a1, 21)
    VRD_MD5_STEP(VRD_MD5_I, a, b, c, d, 4, 0xf7537e82, 6)
    VRD_MD5_STEP(VRD_MD5_I, d, a, b, c, 11, 0xbd3af235, 10)
    VRD_MD5_STEP(VRD_MD5_I, c, d, a, b, 2, 0x2ad7d2bb, 15)
    VRD_MD5_STEP(VRD_MD5_I, b, c, d, a, 9, 0xeb86d391, 21)

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef VRD_MD5_F
#undef VRD_MD5_G
#undef VRD_MD5_H
#undef VRD_MD5_I
#undef VRD_MD5_STEP

}  // namespace hash_internal

void Md5Init(Md5Context* ctx) noexcept {
  ctx->countLow = 0;
  ctx->countHigh = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
}

void Md5Update(Md5Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  hash_internal::UpdateBlocks64(ctx, data, length, hash_internal::Md5Compress);
}

void Md5Final(Md5Context* ctx, uint8_t* out) noexcept {
  hash_internal::FinalBlocks64<false, 4>(ctx, out, hash_internal::Md5Compress);
}

}  // namespace vrd
