#include "src/VORirori/HashCores.h"

#include <atomic>

#include "src/VORirori/HashCommon.h"

namespace vrd {
namespace {

std::atomic<bool> g_portable_only{false};

bool Accelerated() noexcept {
  // CPUID is asked once per process; the answer cannot change.
  static const bool available = hash_internal::CpuHasShaExtensions();
  return available && !g_portable_only.load(std::memory_order_relaxed);
}

}  // namespace

bool HashAccelerationAvailable() noexcept {
  static const bool available = hash_internal::CpuHasShaExtensions();
  return available;
}

void SetPortableHashOnly(bool portable_only) noexcept {
  g_portable_only.store(portable_only, std::memory_order_relaxed);
}

namespace hash_internal {

Compress32Fn Sha1CompressFn() noexcept {
  return Accelerated() ? Sha1CompressShaNi : Sha1CompressPortable;
}

Compress32Fn Sha256CompressFn() noexcept {
  return Accelerated() ? Sha256CompressShaNi : Sha256CompressPortable;
}

Compress64Fn Sha512CompressFn() noexcept {
  static const Compress64Fn best = CpuHasAvx512Vl()   ? Sha512CompressAvx512Pairs
                                   : CpuHasAvx2Bmi2() ? Sha512CompressAvx2Pairs
                                   : CpuHasBmi2()     ? Sha512CompressSse2Bmi2
                                                      : Sha512CompressSse2;
  if (g_portable_only.load(std::memory_order_relaxed)) return Sha512CompressPortable;
  return best;
}

}  // namespace hash_internal
}  // namespace vrd
