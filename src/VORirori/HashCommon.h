// Internal building blocks shared by the hash cores (not for other callers):
// byte-order loads and stores, the buffered absorb loop, the one padding
// routine (keyed by block size, length-field width and byte order), and the
// compress functions of each core.
//
// Compress functions take the chaining state and `count` whole blocks of
// message bytes; they read the bytes in the algorithm's word order themselves,
// so a block is never converted in place and the caller's bytes are never
// written.
#ifndef VRD_SRC_VORIRORI_HASHCOMMON_H_
#define VRD_SRC_VORIRORI_HASHCOMMON_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vrd {
namespace hash_internal {

// Byte-wise forms: compilers turn them into single (byte-swapping) loads and
// stores, and they do not depend on the host byte order.
inline uint32_t LoadBE32(const uint8_t* p) noexcept {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint32_t LoadLE32(const uint8_t* p) noexcept {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadBE64(const uint8_t* p) noexcept {
  return (static_cast<uint64_t>(LoadBE32(p)) << 32) | LoadBE32(p + 4);
}
inline void StoreBE32(uint8_t* p, uint32_t v) noexcept {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void StoreLE32(uint8_t* p, uint32_t v) noexcept {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreBE64(uint8_t* p, uint64_t v) noexcept {
  StoreBE32(p, static_cast<uint32_t>(v >> 32));
  StoreBE32(p + 4, static_cast<uint32_t>(v));
}

inline uint32_t Rotl32(uint32_t x, int n) noexcept { return (x << n) | (x >> (32 - n)); }
inline uint32_t Rotr32(uint32_t x, int n) noexcept { return (x >> n) | (x << (32 - n)); }
inline uint64_t Rotr64(uint64_t x, int n) noexcept { return (x >> n) | (x << (64 - n)); }

// Adds length * 8 to a bit count of two 32-bit words (64-bit cores).
inline void AddBitCount(uint32_t& low, uint32_t& high, uint32_t length) noexcept {
  const uint32_t before = low;
  low += length << 3;
  high += (low < before ? 1u : 0u) + (length >> 29);
}

// Adds length * 8 to a 128-bit bit count held as four 32-bit words, least
// significant first; every carry runs on as in one 128-bit addition.
inline void AddBitCount(uint32_t* count, uint32_t length) noexcept {
  const uint32_t before = count[0];
  count[0] += length << 3;
  uint64_t carry = (count[0] < before ? 1u : 0u) + static_cast<uint64_t>(length >> 29);
  for (int i = 1; i < 4 && carry != 0; ++i) {
    const uint64_t sum = static_cast<uint64_t>(count[i]) + carry;
    count[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
}

// Whole blocks are compressed a stride at a time, with the next stride's
// cache lines requested first: on inputs far larger than the caches (a whole
// document in main memory) the compress loop otherwise waits on each line in
// turn, and runs well below its speed on data already in cache.
constexpr size_t kPrefetchStride = 16384;
constexpr size_t kCacheLine = 64;

// The absorb loop of every core: top up a partly filled buffer, compress
// whole blocks straight from the caller's bytes, keep the rest. kPrefetchAhead
// is for cores that outrun main memory (measured: SHA-256 and SHA-1 on their
// SHA extensions, MD5); SHA-512's slower rounds lose by it.
template <size_t kBlock, typename Compress, bool kPrefetchAhead = true>
inline void AbsorbBytes(uint8_t* buffer, size_t waiting, const uint8_t* data, size_t length,
                        Compress compress) noexcept {
  if (waiting > 0) {
    const size_t fill = kBlock - waiting;
    if (length < fill) {
      std::memcpy(buffer + waiting, data, length);
      return;
    }
    std::memcpy(buffer + waiting, data, fill);
    compress(buffer, 1);
    data += fill;
    length -= fill;
  }
  static_assert(kPrefetchStride % kBlock == 0, "a stride holds whole blocks");
  while (kPrefetchAhead && length >= 2 * kPrefetchStride) {
    const uint8_t* next = data + kPrefetchStride;
    for (size_t line = 0; line < kPrefetchStride; line += kCacheLine) {
      __builtin_prefetch(next + line);
    }
    compress(data, kPrefetchStride / kBlock);
    data += kPrefetchStride;
    length -= kPrefetchStride;
  }
  const size_t blocks = length / kBlock;
  if (blocks > 0) {
    compress(data, blocks);
    data += blocks * kBlock;
    length -= blocks * kBlock;
  }
  if (length > 0) std::memcpy(buffer, data, length);
}

// Merkle-Damgard padding: 0x80, zeros, then the bit count in the last
// kCountBytes of the block (big-endian whole number, or little-endian with
// the low word first). A second block is used when the count does not fit
// behind the 0x80 byte.
template <size_t kBlock, size_t kCountBytes, bool kBigEndian, typename Compress>
inline void PadAndCompress(uint8_t* buffer, size_t waiting, const uint32_t* count,
                           Compress compress) noexcept {
  constexpr size_t kLimit = kBlock - kCountBytes;
  constexpr size_t kCountWords = kCountBytes / 4;
  buffer[waiting] = 0x80;
  if (waiting >= kLimit) {
    std::memset(buffer + waiting + 1, 0, kBlock - waiting - 1);
    compress(buffer, 1);
    std::memset(buffer, 0, kLimit);
  } else {
    std::memset(buffer + waiting + 1, 0, kLimit - waiting - 1);
  }
  for (size_t i = 0; i < kCountWords; ++i) {
    if (kBigEndian) {
      StoreBE32(buffer + kLimit + 4 * i, count[kCountWords - 1 - i]);
    } else {
      StoreLE32(buffer + kLimit + 4 * i, count[i]);
    }
  }
  compress(buffer, 1);
}

// Update and final of the 64-byte-block algorithms with a 64-bit bit count
// kept as two 32-bit words (MD5, SHA-1, SHA-256, HAS-160). compress is
// called as compress(ctx->state, blocks, block_count).
template <typename Context, typename Compress>
inline void UpdateBlocks64(Context* ctx, const uint8_t* data, uint32_t length,
                           Compress compress) noexcept {
  if (length == 0) return;
  const size_t waiting = (ctx->countLow >> 3) & 63;
  AddBitCount(ctx->countLow, ctx->countHigh, length);
  AbsorbBytes<64>(
      ctx->buffer, waiting, data, length,
      [ctx, compress](const uint8_t* blocks, size_t n) { compress(ctx->state, blocks, n); });
}

// Pads, processes the last block or blocks and writes kStateWords words in
// the algorithm's byte order.
template <bool kBigEndian, size_t kStateWords, typename Context, typename Compress>
inline void FinalBlocks64(Context* ctx, uint8_t* out, Compress compress) noexcept {
  const uint32_t count[2] = {ctx->countLow, ctx->countHigh};
  PadAndCompress<64, 8, kBigEndian>(
      ctx->buffer, (ctx->countLow >> 3) & 63, count,
      [ctx, compress](const uint8_t* blocks, size_t n) { compress(ctx->state, blocks, n); });
  for (size_t i = 0; i < kStateWords; ++i) {
    if (kBigEndian) {
      StoreBE32(out + 4 * i, ctx->state[i]);
    } else {
      StoreLE32(out + 4 * i, ctx->state[i]);
    }
  }
}

using Compress32Fn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;
using Compress64Fn = void (*)(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;

void Md5Compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;
void Sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;
void Sha256CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;
void Sha512CompressPortable(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
// SSE2 message schedule (x86-64 baseline); the portable form elsewhere.
void Sha512CompressSse2(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
// The same compiled for BMI2; callable only when CpuHasBmi2().
void Sha512CompressSse2Bmi2(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
// The same with AVX-512VL rotates; callable only when CpuHasAvx512Vl().
void Sha512CompressAvx512(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
// Two blocks per schedule in 256-bit registers (an odd last block goes to the
// one-block form): AVX2 with BMI1/BMI2, callable only when CpuHasAvx2Bmi2();
// with AVX-512VL, only when CpuHasAvx512Vl().
void Sha512CompressAvx2Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
void Sha512CompressAvx512Pairs(uint64_t* state, const uint8_t* blocks, size_t count) noexcept;
void Has160Compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

// x86-64 SHA extension forms; callable only when CpuHasShaExtensions().
bool CpuHasShaExtensions() noexcept;
bool CpuHasBmi2() noexcept;
// AVX2, BMI1 and BMI2, and the OS saving the 256-bit register state.
bool CpuHasAvx2Bmi2() noexcept;
// AVX-512F and VL with AVX2, BMI1 and BMI2, and the OS saving the AVX-512
// register state.
bool CpuHasAvx512Vl() noexcept;
void Sha1CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;
void Sha256CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

// The compress function in force for SHA-1 / SHA-256 / SHA-512 (accelerated
// or portable).
Compress32Fn Sha1CompressFn() noexcept;
Compress32Fn Sha256CompressFn() noexcept;
Compress64Fn Sha512CompressFn() noexcept;

}  // namespace hash_internal
}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_HASHCOMMON_H_
