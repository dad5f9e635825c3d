// Heap blocks for the library's own storage, and wiping.
//
// AllocBlock never throws: it returns null when storage cannot be obtained.
// Every block it hands out is released with FreeBlock. SecureZero wipes bytes
// in a way the optimiser may not drop, for content that must not outlive its
// use in freed memory.
//
// Tests can make allocations fail on purpose (util/MemoryTestHook.h); the
// hook costs one thread-local read per allocation.
#ifndef VRD_UTIL_MEMORY_H_
#define VRD_UTIL_MEMORY_H_

#include <cstddef>

namespace vrd {

[[nodiscard]] void* AllocBlock(size_t size) noexcept;
void FreeBlock(void* block) noexcept;
void SecureZero(void* bytes, size_t count) noexcept;

}  // namespace vrd

#endif  // VRD_UTIL_MEMORY_H_
