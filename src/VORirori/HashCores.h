// The five hash cores of the digest engine: MD5 (RFC 1321), SHA-1, SHA-256,
// SHA-512 (FIPS 180-4) and HAS-160 (TTAS.KO-12.0011/R2).
//
// Each core is a plain context record with init / update / final. The caller
// owns the context; nothing here allocates, and no operation can fail.
//  - init sets the initial chaining values and a zero bit count; it leaves the
//    block buffer alone.
//  - update absorbs `length` bytes (the bytes are only read, and may lie in a
//    buffer that a later final overwrites). The bit count is the number of
//    message bits absorbed so far; the bytes waiting in the block buffer are
//    always (bit count low word / 8) mod block size.
//  - final pads, processes the last block(s) and writes the digest (16, 20, 32,
//    64 or 20 bytes). It consumes the context: re-init before the next message.
//
// The context records are public, with their fields in a fixed order, so that
// tests can inspect and preset the bit count (for example the 128-bit count
// carry of SHA-512).
//
// On x86-64 CPUs with the SHA extensions, SHA-1 and SHA-256 blocks are
// compressed with those instructions; the choice is made once per process from
// CPUID. On x86-64, SHA-512 computes its message schedule in vector registers
// (SSE2, built again for BMI2 and for AVX-512VL; with AVX2 and BMI2 two blocks
// share one 256-bit schedule; also chosen from CPUID).
// All paths give identical digests; SetPortableHashOnly lets tests run the
// plain C path on the same inputs.
#ifndef VRD_SRC_VORIRORI_HASHCORES_H_
#define VRD_SRC_VORIRORI_HASHCORES_H_

#include <cstddef>
#include <cstdint>

namespace vrd {

struct Md5Context {
  uint32_t countLow;
  uint32_t countHigh;
  uint32_t state[4];
  uint8_t buffer[64];
};

struct Sha1Context {
  uint32_t countLow;
  uint32_t countHigh;
  uint8_t buffer[64];
  uint32_t state[5];
};

struct Sha256Context {
  uint32_t countLow;
  uint32_t countHigh;
  uint8_t buffer[64];
  uint32_t state[8];
};

struct Sha512Context {
  // One 128-bit bit count, least significant 32-bit word first.
  uint32_t count[4];
  uint8_t buffer[128];
  uint64_t state[8];
};

struct Has160Context {
  uint32_t countLow;
  uint32_t countHigh;
  uint32_t state[5];
  uint8_t buffer[64];
};

constexpr int kMd5DigestSize = 16;
constexpr int kSha1DigestSize = 20;
constexpr int kSha256DigestSize = 32;
constexpr int kSha512DigestSize = 64;
constexpr int kHas160DigestSize = 20;

void Md5Init(Md5Context* ctx) noexcept;
void Md5Update(Md5Context* ctx, const uint8_t* data, uint32_t length) noexcept;
void Md5Final(Md5Context* ctx, uint8_t* out) noexcept;

void Sha1Init(Sha1Context* ctx) noexcept;
void Sha1Update(Sha1Context* ctx, const uint8_t* data, uint32_t length) noexcept;
void Sha1Final(Sha1Context* ctx, uint8_t* out) noexcept;

void Sha256Init(Sha256Context* ctx) noexcept;
void Sha256Update(Sha256Context* ctx, const uint8_t* data, uint32_t length) noexcept;
void Sha256Final(Sha256Context* ctx, uint8_t* out) noexcept;

void Sha512Init(Sha512Context* ctx) noexcept;
void Sha512Update(Sha512Context* ctx, const uint8_t* data, uint32_t length) noexcept;
void Sha512Final(Sha512Context* ctx, uint8_t* out) noexcept;

void Has160Init(Has160Context* ctx) noexcept;
void Has160Update(Has160Context* ctx, const uint8_t* data, uint32_t length) noexcept;
void Has160Final(Has160Context* ctx, uint8_t* out) noexcept;

// True when this CPU offers the SHA extensions and the accelerated SHA-1 and
// SHA-256 compress functions are in use (unless switched off below).
bool HashAccelerationAvailable() noexcept;

// Test control: true makes every later SHA-1 / SHA-256 / SHA-512 update and
// final on any thread use the plain C compress functions; false restores the choice made
// from CPUID.
void SetPortableHashOnly(bool portable_only) noexcept;

}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_HASHCORES_H_
