// Test-only control over vrd::AllocBlock: make the next allocations of the
// calling thread fail, to exercise the "storage cannot be obtained" paths.
// MemoryTestHook.cpp defines AllocBlock itself; a test program that links
// it (the vrd_test_memory_hook object library) uses that AllocBlock instead
// of util/AllocBlock.cpp. The shipped libraries never contain it.
#ifndef VRD_TESTS_SUPPORT_MEMORYTESTHOOK_H_
#define VRD_TESTS_SUPPORT_MEMORYTESTHOOK_H_

namespace vrd::testing {

// The next `count` calls of AllocBlock on this thread fail, after `skip`
// calls that succeed. count 0 switches failing off.
void FailAllocations(int count, int skip = 0) noexcept;

// Number of AllocBlock calls on this thread since the last FailAllocations.
int AllocationCalls() noexcept;

// RAII: fail allocations for one scope, restore normal service after it.
class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(int count, int skip = 0) noexcept {
    FailAllocations(count, skip);
  }
  ~ScopedAllocationFailure() { FailAllocations(0); }
  ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
  ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};

}  // namespace vrd::testing

#endif  // VRD_TESTS_SUPPORT_MEMORYTESTHOOK_H_
