#include "tests/support/MemoryTestHook.h"

#include "util/Memory.h"

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
  return AllocHeapBlock(size);
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
