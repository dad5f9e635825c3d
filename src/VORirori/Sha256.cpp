#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

namespace vrd {

using hash_internal::LoadBE32;
using hash_internal::Rotr32;

namespace hash_internal {
namespace {

// FIPS 180-4 section 4.2.2: the first 32 bits of the fractional parts of the
// cube roots of the first 64 primes.
alignas(64) constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

// FIPS 180-4 section 6.2.2, schedule in a rolling sixteen-word window.
#define VRD_S256_BSIG0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define VRD_S256_BSIG1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define VRD_S256_SSIG0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define VRD_S256_SSIG1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define VRD_S256_W(t)                                                           \
  ((t) < 16 ? w[(t)&15]                                                         \
            : (w[(t)&15] += VRD_S256_SSIG1(w[((t)-2) & 15]) + w[((t)-7) & 15] + \
                            VRD_S256_SSIG0(w[((t)-15) & 15])))
#define VRD_S256_STEP(a, b, c, d, e, f, g, h, t)                                           \
  {                                                                                        \
    const uint32_t t1 =                                                                    \
        h + VRD_S256_BSIG1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + kSha256K[t] + VRD_S256_W(t); \
    const uint32_t t2 = VRD_S256_BSIG0(a) + (((a) & (b)) | ((c) & ((a) | (b))));           \
    d += t1;                                                                               \
    h = t1 + t2;                                                                           \
  }
#define VRD_S256_EIGHT(t)                        \
  VRD_S256_STEP(a, b, c, d, e, f, g, h, (t))     \
  VRD_S256_STEP(h, a, b, c, d, e, f, g, (t) + 1) \
  VRD_S256_STEP(g, h, a, b, c, d, e, f, (t) + 2) \
  VRD_S256_STEP(f, g, h, a, b, c, d, e, (t) + 3) \
  VRD_S256_STEP(e, f, g, h, a, b, c, d, (t) + 4) \
  VRD_S256_STEP(d, e, f, g, h, a, b, c, (t) + 5) \
  VRD_S256_STEP(c, d, e, f, g, h, a, b, (t) + 6) \
  VRD_S256_STEP(b, c, d, e, f, g, h, a, (t) + 7)

void Sha256CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBE32(blocks + 4 * i);

    VRD_S256_EIGHT(0)
    VRD_S256_EIGHT(8)
    VRD_S256_EIGHT(16)
    VRD_S256_EIGHT(24)
    VRD_S256_EIGHT(32)
    VRD_S256_EIGHT(40)
    VRD_S256_EIGHT(48)
    VRD_S256_EIGHT(56)

    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
  }
}

#undef VRD_S256_BSIG0
#undef VRD_S256_BSIG1
#undef VRD_S256_SSIG0
#undef VRD_S256_SSIG1
#undef VRD_S256_W
#undef VRD_S256_STEP
#undef VRD_S256_EIGHT

}  // namespace hash_internal

void Sha256Init(Sha256Context* ctx) noexcept {
  ctx->countLow = 0;
  ctx->countHigh = 0;
  ctx->state[0] = 0x6a09e667;
  ctx->state[1] = 0xbb67ae85;
  ctx->state[2] = 0x3c6ef372;
  ctx->state[3] = 0xa54ff53a;
  ctx->state[4] = 0x510e527f;
  ctx->state[5] = 0x9b05688c;
  ctx->state[6] = 0x1f83d9ab;
  ctx->state[7] = 0x5be0cd19;
}

void Sha256Update(Sha256Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  hash_internal::UpdateBlocks64(ctx, data, length, hash_internal::Sha256CompressFn());
}

void Sha256Final(Sha256Context* ctx, uint8_t* out) noexcept {
  hash_internal::FinalBlocks64<true, 8>(ctx, out, hash_internal::Sha256CompressFn());
}

}  // namespace vrd
