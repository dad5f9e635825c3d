#include "util/Memory.h"

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vrd {

void* AllocHeapBlock(size_t size) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Whole-document blocks (a PDF and its signed content) run to hundreds of
  // MB. Backed by 2 MiB pages they cost one page fault per 2 MiB on first
  // touch instead of one per 4 KiB, which on virtual machines otherwise costs
  // several times the copy that fills them.
  constexpr size_t kLargeBlock = size_t{32} << 20;
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size >= kLargeBlock) {
    void* block = nullptr;
    if (posix_memalign(&block, kHugePage, size) != 0) return nullptr;
    (void)madvise(block, size - size % kHugePage, MADV_HUGEPAGE);
    return block;
  }
#endif
  return std::malloc(size == 0 ? 1 : size);
}

void FreeBlock(void* block) noexcept { std::free(block); }

void SecureZero(void* bytes, size_t count) noexcept {
  if (bytes == nullptr || count == 0) return;
  std::memset(bytes, 0, count);
  // The barrier makes the stores observable, so they are not removed as dead.
  __asm__ __volatile__("" : : "r"(bytes) : "memory");
}

}  // namespace vrd
