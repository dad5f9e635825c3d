// Heap blocks for the library's own storage, and wiping.
//
// AllocBlock never throws: it returns null when storage cannot be obtained.
// Every block it hands out is released with FreeBlock. SecureZero wipes bytes
// in a way the optimiser may not drop, for content that must not outlive its
// use in freed memory.
//
// AllocBlock (util/AllocBlock.cpp) hands out AllocHeapBlock's blocks; it is
// its own translation unit so that test programs can link a replacement that
// fails on request (tests/support/MemoryTestHook.h). The shipped libraries
// contain no such hook.
#ifndef VRD_UTIL_MEMORY_H_
#define VRD_UTIL_MEMORY_H_

#include <cstddef>

namespace vrd {

[[nodiscard]] void* AllocBlock(size_t size) noexcept;
// The heap allocation itself (blocks of 32 MiB or more on huge pages where
// the system offers them); released with FreeBlock.
[[nodiscard]] void* AllocHeapBlock(size_t size) noexcept;
void FreeBlock(void* block) noexcept;
void SecureZero(void* bytes, size_t count) noexcept;

}  // namespace vrd

#endif  // VRD_UTIL_MEMORY_H_
