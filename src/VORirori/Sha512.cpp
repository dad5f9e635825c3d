#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) && defined(__GNUC__)
#define VRD_SHA512_SSE2 1
#include <immintrin.h>
#else
#define VRD_SHA512_SSE2 0
#endif

namespace vrd {

using hash_internal::LoadBE64;
using hash_internal::Rotr64;

namespace hash_internal {
namespace {

// FIPS 180-4 section 4.2.3: the first 64 bits of the fractional parts of the
// cube roots of the first 80 primes.
alignas(64) constexpr uint64_t kSha512K[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

}  // namespace

// FIPS 180-4 section 6.4.2, schedule in a rolling sixteen-word window. Maj
// is ((a ^ b) & (b ^ c)) ^ b, and this step's a ^ b is the next step's b ^ c.
#define VRD_S512_BSIG0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define VRD_S512_BSIG1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define VRD_S512_SSIG0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define VRD_S512_SSIG1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
#define VRD_S512_W(t)                                                           \
  ((t) < 16 ? w[(t)&15]                                                         \
            : (w[(t)&15] += VRD_S512_SSIG1(w[((t)-2) & 15]) + w[((t)-7) & 15] + \
                            VRD_S512_SSIG0(w[((t)-15) & 15])))
#define VRD_S512_STEP(a, b, c, d, e, f, g, h, t, ab, bc)                                \
  {                                                                                     \
    h += VRD_S512_BSIG1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + kSha512K[t] + VRD_S512_W(t); \
    d += h;                                                                             \
    ab = (a) ^ (b);                                                                     \
    h += VRD_S512_BSIG0(a) + ((ab & bc) ^ (b));                                         \
  }
#define VRD_S512_EIGHT(t)                              \
  VRD_S512_STEP(a, b, c, d, e, f, g, h, (t), x, y)     \
  VRD_S512_STEP(h, a, b, c, d, e, f, g, (t) + 1, y, x) \
  VRD_S512_STEP(g, h, a, b, c, d, e, f, (t) + 2, x, y) \
  VRD_S512_STEP(f, g, h, a, b, c, d, e, (t) + 3, y, x) \
  VRD_S512_STEP(e, f, g, h, a, b, c, d, (t) + 4, x, y) \
  VRD_S512_STEP(d, e, f, g, h, a, b, c, (t) + 5, y, x) \
  VRD_S512_STEP(c, d, e, f, g, h, a, b, (t) + 6, x, y) \
  VRD_S512_STEP(b, c, d, e, f, g, h, a, (t) + 7, y, x)

void Sha512CompressPortable(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (; count > 0; --count, blocks += 128) {
    uint64_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBE64(blocks + 8 * i);
    uint64_t x, y = b ^ c;

    VRD_S512_EIGHT(0)
    VRD_S512_EIGHT(8)
    VRD_S512_EIGHT(16)
    VRD_S512_EIGHT(24)
    VRD_S512_EIGHT(32)
    VRD_S512_EIGHT(40)
    VRD_S512_EIGHT(48)
    VRD_S512_EIGHT(56)
    VRD_S512_EIGHT(64)
    VRD_S512_EIGHT(72)

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

#if VRD_SHA512_SSE2
// Three builds of the one-block vector-schedule form: SSE2 (any x86-64), with
// BMI2, and with AVX-512VL; two builds of the two-block form below.
// HashCores.cpp picks one from CPUID.
#define VRD_S512_ROTR2(v, n) _mm_or_si128(_mm_srli_epi64(v, n), _mm_slli_epi64(v, 64 - (n)))
#define VRD_S512_XOR3(a, b, c) _mm_xor_si128(_mm_xor_si128(a, b), c)

#define VRD_S512_VECTOR_NAME Sha512CompressSse2
#define VRD_S512_VECTOR_TARGET
#include "src/VORirori/Sha512Vector.inc"
#undef VRD_S512_VECTOR_NAME
#undef VRD_S512_VECTOR_TARGET

// BMI2's non-destructive rotate saves a register copy per rotation.
#define VRD_S512_VECTOR_NAME Sha512CompressSse2Bmi2
#define VRD_S512_VECTOR_TARGET __attribute__((target("bmi2")))
#include "src/VORirori/Sha512Vector.inc"
#undef VRD_S512_VECTOR_NAME
#undef VRD_S512_VECTOR_TARGET

#undef VRD_S512_ROTR2
#undef VRD_S512_XOR3

// AVX-512VL rotates a lane in one instruction and xors three values in one.
#define VRD_S512_ROTR2(v, n) _mm_ror_epi64(v, n)
#define VRD_S512_XOR3(a, b, c) _mm_ternarylogic_epi64(a, b, c, 0x96)
#define VRD_S512_VECTOR_NAME Sha512CompressAvx512
#define VRD_S512_VECTOR_TARGET __attribute__((target("bmi2,avx512f,avx512vl")))
#include "src/VORirori/Sha512Vector.inc"
#undef VRD_S512_VECTOR_NAME
#undef VRD_S512_VECTOR_TARGET
#undef VRD_S512_ROTR2
#undef VRD_S512_XOR3

#if defined(__x86_64__)
// Two blocks at a time: AVX2 with BMI1/BMI2 (andn, rorx), and the same with
// AVX-512VL rotates and three-way xors on 256-bit registers. The rounds are
// x86-64 assembly.
#define VRD_S512_ROTR4(v, n) \
  _mm256_or_si256(_mm256_srli_epi64(v, n), _mm256_slli_epi64(v, 64 - (n)))
#define VRD_S512_XOR3_4(a, b, c) _mm256_xor_si256(_mm256_xor_si256(a, b), c)
#define VRD_S512_PAIR_NAME Sha512CompressAvx2Pairs
#define VRD_S512_PAIR_TARGET __attribute__((target("avx2,bmi,bmi2")))
#define VRD_S512_PAIR_SINGLE Sha512CompressSse2Bmi2
#include "src/VORirori/Sha512Pair.inc"
#undef VRD_S512_PAIR_NAME
#undef VRD_S512_PAIR_TARGET
#undef VRD_S512_PAIR_SINGLE
#undef VRD_S512_ROTR4
#undef VRD_S512_XOR3_4

#define VRD_S512_ROTR4(v, n) _mm256_ror_epi64(v, n)
#define VRD_S512_XOR3_4(a, b, c) _mm256_ternarylogic_epi64(a, b, c, 0x96)
#define VRD_S512_PAIR_NAME Sha512CompressAvx512Pairs
#define VRD_S512_PAIR_TARGET __attribute__((target("avx2,bmi,bmi2,avx512f,avx512vl")))
#define VRD_S512_PAIR_SINGLE Sha512CompressAvx512
#include "src/VORirori/Sha512Pair.inc"
#undef VRD_S512_PAIR_NAME
#undef VRD_S512_PAIR_TARGET
#undef VRD_S512_PAIR_SINGLE
#undef VRD_S512_ROTR4
#undef VRD_S512_XOR3_4
#else  // !__x86_64__

void Sha512CompressAvx2Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressSse2Bmi2(state, blocks, count);
}

void Sha512CompressAvx512Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressAvx512(state, blocks, count);
}

#endif  // __x86_64__

#else  // !VRD_SHA512_SSE2

void Sha512CompressSse2(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressPortable(state, blocks, count);
}

void Sha512CompressSse2Bmi2(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressPortable(state, blocks, count);
}

void Sha512CompressAvx512(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressPortable(state, blocks, count);
}

void Sha512CompressAvx2Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressPortable(state, blocks, count);
}

void Sha512CompressAvx512Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha512CompressPortable(state, blocks, count);
}

#endif  // VRD_SHA512_SSE2

#undef VRD_S512_ROTR2
#undef VRD_S512_BSIG0
#undef VRD_S512_BSIG1
#undef VRD_S512_SSIG0
#undef VRD_S512_SSIG1
#undef VRD_S512_W
#undef VRD_S512_STEP
#undef VRD_S512_EIGHT
#undef VRD_SHA512_SSE2

}  // namespace hash_internal

void Sha512Init(Sha512Context* ctx) noexcept {
  for (uint32_t& word : ctx->count) word = 0;
  ctx->state[0] = 0x6a09e667f3bcc908ULL;
  ctx->state[1] = 0xbb67ae8584caa73bULL;
  ctx->state[2] = 0x3c6ef372fe94f82bULL;
  ctx->state[3] = 0xa54ff53a5f1d36f1ULL;
  ctx->state[4] = 0x510e527fade682d1ULL;
  ctx->state[5] = 0x9b05688c2b3e6c1fULL;
  ctx->state[6] = 0x1f83d9abfb41bd6bULL;
  ctx->state[7] = 0x5be0cd19137e2179ULL;
}

void Sha512Update(Sha512Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  if (length == 0) return;
  const size_t waiting = (ctx->count[0] >> 3) & 127;
  hash_internal::AddBitCount(ctx->count, length);
  const hash_internal::Compress64Fn compress = hash_internal::Sha512CompressFn();
  const auto compress_blocks = [ctx, compress](const uint8_t* blocks, size_t n) {
    compress(ctx->state, blocks, n);
  };
  hash_internal::AbsorbBytes<128, decltype(compress_blocks), false>(ctx->buffer, waiting, data,
                                                                    length, compress_blocks);
}

void Sha512Final(Sha512Context* ctx, uint8_t* out) noexcept {
  const hash_internal::Compress64Fn compress = hash_internal::Sha512CompressFn();
  hash_internal::PadAndCompress<128, 16, true>(
      ctx->buffer, (ctx->count[0] >> 3) & 127, ctx->count,
      [ctx, compress](const uint8_t* blocks, size_t n) { compress(ctx->state, blocks, n); });
  for (int i = 0; i < 8; ++i) hash_internal::StoreBE64(out + 8 * i, ctx->state[i]);
}

}  // namespace vrd
