// CPU feature checks, and SHA-1 and SHA-256 block compression with the x86
// SHA extensions. Only the compress functions are compiled for those
// instructions (function-level target attributes), so the rest of the
// library runs on any x86-64 CPU; callers use them only after
// CpuHasShaExtensions() said yes.
#include "src/VORirori/HashCommon.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VRD_HAVE_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define VRD_HAVE_SHA_NI 0
#endif

namespace vrd {
namespace hash_internal {

#if VRD_HAVE_SHA_NI

bool CpuHasShaExtensions() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

bool CpuHasBmi2() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ebx & (1u << 8)) != 0;
}

namespace {

// The register state the OS saves on a context switch (XCR0), or 0 when
// XGETBV is not usable.
unsigned OsSavedRegisterState() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
  if ((ecx & (1u << 27)) == 0) return 0;  // OSXSAVE: XGETBV usable
  unsigned xcr0_low = 0, xcr0_high = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  return xcr0_low;
}

}  // namespace

bool CpuHasAvx2Bmi2() noexcept {
  // XMM and YMM state enabled by the OS.
  if ((OsSavedRegisterState() & 0x6u) != 0x6u) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool bmi1 = (ebx & (1u << 3)) != 0;
  const bool avx2 = (ebx & (1u << 5)) != 0;
  const bool bmi2 = (ebx & (1u << 8)) != 0;
  return bmi1 && avx2 && bmi2;
}

bool CpuHasAvx512Vl() noexcept {
  // XMM, YMM, opmask, upper ZMM halves and ZMM16-31 state enabled by the OS.
  if ((OsSavedRegisterState() & 0xE6u) != 0xE6u) return false;
  if (!CpuHasAvx2Bmi2()) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool avx512f = (ebx & (1u << 16)) != 0;
  const bool avx512vl = (ebx & (1u << 31)) != 0;
  return avx512f && avx512vl;
}

#define VRD_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define VRD_SET64(hi, lo) _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo))

// Four SHA-256 rounds on message vector m (words t..t+3) with constants k.
#define VRD_SHA256_QROUND(m, k_hi, k_lo)               \
  msg = _mm_add_epi32(m, VRD_SET64(k_hi, k_lo));       \
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg); \
  msg = _mm_shuffle_epi32(msg, 0x0E);                  \
  state0 = _mm_sha256rnds2_epu32(state0, state1, msg);

// Four rounds on cur that also complete the message vector after it (next,
// with the words of prev) and start the one four places ahead (before).
#define VRD_SHA256_QROUND_SCHED(cur, prev, next, before, k_hi, k_lo) \
  msg = _mm_add_epi32(cur, VRD_SET64(k_hi, k_lo));                   \
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg);               \
  tmp = _mm_alignr_epi8(cur, prev, 4);                               \
  next = _mm_add_epi32(next, tmp);                                   \
  next = _mm_sha256msg2_epu32(next, cur);                            \
  msg = _mm_shuffle_epi32(msg, 0x0E);                                \
  state0 = _mm_sha256rnds2_epu32(state0, state1, msg);               \
  before = _mm_sha256msg1_epu32(before, cur);

// The same without starting a new message vector.
#define VRD_SHA256_QROUND_FINISH(cur, prev, next, k_hi, k_lo) \
  msg = _mm_add_epi32(cur, VRD_SET64(k_hi, k_lo));            \
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg);        \
  tmp = _mm_alignr_epi8(cur, prev, 4);                        \
  next = _mm_add_epi32(next, tmp);                            \
  next = _mm_sha256msg2_epu32(next, cur);                     \
  msg = _mm_shuffle_epi32(msg, 0x0E);                         \
  state0 = _mm_sha256rnds2_epu32(state0, state1, msg);

VRD_SHA_TARGET void Sha256CompressShaNi(uint32_t* state, const uint8_t* blocks,
                                        size_t count) noexcept {
  const __m128i kByteSwap = VRD_SET64(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The round instructions want the state as ABEF / CDGH.
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);
  state1 = _mm_shuffle_epi32(state1, 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abef_save = state0;
    const __m128i cdgh_save = state1;
    __m128i msg;
    __m128i m0 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), kByteSwap);
    __m128i m1 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16)), kByteSwap);
    __m128i m2 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 32)), kByteSwap);
    __m128i m3 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 48)), kByteSwap);

    VRD_SHA256_QROUND(m0, 0xE9B5DBA5B5C0FBCFULL, 0x71374491428A2F98ULL)
    VRD_SHA256_QROUND(m1, 0xAB1C5ED5923F82A4ULL, 0x59F111F13956C25BULL)
    m0 = _mm_sha256msg1_epu32(m0, m1);
    VRD_SHA256_QROUND(m2, 0x550C7DC3243185BEULL, 0x12835B01D807AA98ULL)
    m1 = _mm_sha256msg1_epu32(m1, m2);
    VRD_SHA256_QROUND_SCHED(m3, m2, m0, m2, 0xC19BF1749BDC06A7ULL, 0x80DEB1FE72BE5D74ULL)
    VRD_SHA256_QROUND_SCHED(m0, m3, m1, m3, 0x240CA1CC0FC19DC6ULL, 0xEFBE4786E49B69C1ULL)
    VRD_SHA256_QROUND_SCHED(m1, m0, m2, m0, 0x76F988DA5CB0A9DCULL, 0x4A7484AA2DE92C6FULL)
    VRD_SHA256_QROUND_SCHED(m2, m1, m3, m1, 0xBF597FC7B00327C8ULL, 0xA831C66D983E5152ULL)
    VRD_SHA256_QROUND_SCHED(m3, m2, m0, m2, 0x1429296706CA6351ULL, 0xD5A79147C6E00BF3ULL)
    VRD_SHA256_QROUND_SCHED(m0, m3, m1, m3, 0x53380D134D2C6DFCULL, 0x2E1B213827B70A85ULL)
    VRD_SHA256_QROUND_SCHED(m1, m0, m2, m0, 0x92722C8581C2C92EULL, 0x766A0ABB650A7354ULL)
    VRD_SHA256_QROUND_SCHED(m2, m1, m3, m1, 0xC76C51A3C24B8B70ULL, 0xA81A664BA2BFE8A1ULL)
    VRD_SHA256_QROUND_SCHED(m3, m2, m0, m2, 0x106AA070F40E3585ULL, 0xD6990624D192E819ULL)
    VRD_SHA256_QROUND_SCHED(m0, m3, m1, m3, 0x34B0BCB52748774CULL, 0x1E376C0819A4C116ULL)
    // Rounds 52-59 still complete message vectors but start no new ones.
    VRD_SHA256_QROUND_FINISH(m1, m0, m2, 0x682E6FF35B9CCA4FULL, 0x4ED8AA4A391C0CB3ULL)
    VRD_SHA256_QROUND_FINISH(m2, m1, m3, 0x8CC7020884C87814ULL, 0x78A5636F748F82EEULL)
    VRD_SHA256_QROUND(m3, 0xC67178F2BEF9A3F7ULL, 0xA4506CEB90BEFFFAULL)

    state0 = _mm_add_epi32(state0, abef_save);
    state1 = _mm_add_epi32(state1, cdgh_save);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);
  state1 = _mm_shuffle_epi32(state1, 0xB1);
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);
  state1 = _mm_alignr_epi8(state1, tmp, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

#undef VRD_SHA256_QROUND
#undef VRD_SHA256_QROUND_SCHED
#undef VRD_SHA256_QROUND_FINISH

// Four SHA-1 rounds of function group fn: e_cur picks up the next E from the
// previous ABCD, e_next keeps ABCD for the group after; the schedule steps
// that are still needed are passed in as trailing statements.
#define VRD_SHA1_QROUND(e_cur, e_next, w, fn, ...) \
  e_cur = _mm_sha1nexte_epu32(e_cur, w);           \
  e_next = abcd;                                   \
  __VA_ARGS__                                      \
  abcd = _mm_sha1rnds4_epu32(abcd, e_cur, fn);

VRD_SHA_TARGET void Sha1CompressShaNi(uint32_t* state, const uint8_t* blocks,
                                      size_t count) noexcept {
  const __m128i kByteSwap = VRD_SET64(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  abcd = _mm_shuffle_epi32(abcd, 0x1B);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abcd_save = abcd;
    const __m128i e0_save = e0;
    __m128i e1;
    __m128i m0 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), kByteSwap);
    __m128i m1 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16)), kByteSwap);
    __m128i m2 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 32)), kByteSwap);
    __m128i m3 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 48)), kByteSwap);

    // Rounds 0-3.
    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    // Rounds 4-15.
    VRD_SHA1_QROUND(e1, e0, m1, 0, )
    m0 = _mm_sha1msg1_epu32(m0, m1);
    VRD_SHA1_QROUND(e0, e1, m2, 0, )
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    VRD_SHA1_QROUND(e1, e0, m3, 0, m0 = _mm_sha1msg2_epu32(m0, m3);)
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 16-63: every group finishes one message vector and starts two.
    VRD_SHA1_QROUND(e0, e1, m0, 0, m1 = _mm_sha1msg2_epu32(m1, m0);)
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    VRD_SHA1_QROUND(e1, e0, m1, 1, m2 = _mm_sha1msg2_epu32(m2, m1);)
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    VRD_SHA1_QROUND(e0, e1, m2, 1, m3 = _mm_sha1msg2_epu32(m3, m2);)
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    VRD_SHA1_QROUND(e1, e0, m3, 1, m0 = _mm_sha1msg2_epu32(m0, m3);)
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    VRD_SHA1_QROUND(e0, e1, m0, 1, m1 = _mm_sha1msg2_epu32(m1, m0);)
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    VRD_SHA1_QROUND(e1, e0, m1, 1, m2 = _mm_sha1msg2_epu32(m2, m1);)
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    VRD_SHA1_QROUND(e0, e1, m2, 2, m3 = _mm_sha1msg2_epu32(m3, m2);)
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    VRD_SHA1_QROUND(e1, e0, m3, 2, m0 = _mm_sha1msg2_epu32(m0, m3);)
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    VRD_SHA1_QROUND(e0, e1, m0, 2, m1 = _mm_sha1msg2_epu32(m1, m0);)
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    VRD_SHA1_QROUND(e1, e0, m1, 2, m2 = _mm_sha1msg2_epu32(m2, m1);)
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    VRD_SHA1_QROUND(e0, e1, m2, 2, m3 = _mm_sha1msg2_epu32(m3, m2);)
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    VRD_SHA1_QROUND(e1, e0, m3, 3, m0 = _mm_sha1msg2_epu32(m0, m3);)
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 64-79: the schedule winds down.
    VRD_SHA1_QROUND(e0, e1, m0, 3, m1 = _mm_sha1msg2_epu32(m1, m0);)
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    VRD_SHA1_QROUND(e1, e0, m1, 3, m2 = _mm_sha1msg2_epu32(m2, m1);)
    m3 = _mm_xor_si128(m3, m1);
    VRD_SHA1_QROUND(e0, e1, m2, 3, m3 = _mm_sha1msg2_epu32(m3, m2);)
    VRD_SHA1_QROUND(e1, e0, m3, 3, )

    e0 = _mm_sha1nexte_epu32(e0, e0_save);
    abcd = _mm_add_epi32(abcd, abcd_save);
  }

  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef VRD_SHA1_QROUND
#undef VRD_SHA_TARGET
#undef VRD_SET64

#else  // !VRD_HAVE_SHA_NI

bool CpuHasShaExtensions() noexcept { return false; }

bool CpuHasBmi2() noexcept { return false; }

bool CpuHasAvx2Bmi2() noexcept { return false; }

bool CpuHasAvx512Vl() noexcept { return false; }

void Sha1CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha1CompressPortable(state, blocks, count);
}

void Sha256CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  Sha256CompressPortable(state, blocks, count);
}

#endif  // VRD_HAVE_SHA_NI

}  // namespace hash_internal
}  // namespace vrd
