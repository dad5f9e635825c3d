#include "util/Memory.h"

#include <cstdlib>
#include <cstring>

#include "util/MemoryTestHook.h"

namespace vrd {
namespace {

thread_local int fail_skip = 0;
thread_local int fail_count = 0;
thread_local int calls = 0;

bool InjectedFailure() noexcept {
  ++calls;
  if (fail_count <= 0) return false;
  if (fail_skip > 0) {
    --fail_skip;
    return false;
  }
  --fail_count;
  return true;
}

}  // namespace

void* AllocBlock(size_t size) noexcept {
  if (InjectedFailure()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void FreeBlock(void* block) noexcept { std::free(block); }

void SecureZero(void* bytes, size_t count) noexcept {
  if (bytes == nullptr || count == 0) return;
  std::memset(bytes, 0, count);
  // The barrier makes the stores observable, so they are not removed as dead.
  __asm__ __volatile__("" : : "r"(bytes) : "memory");
}

namespace testing {

void FailAllocations(int count, int skip) noexcept {
  fail_count = count;
  fail_skip = skip;
  calls = 0;
}

int AllocationCalls() noexcept { return calls; }

}  // namespace testing
}  // namespace vrd
