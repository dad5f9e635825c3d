// The stack protector's runtime for the Windows DLL, in place of the
// compiler's libssp: libssp seeds its guard through the CryptoAPI, which would
// add ADVAPI32.dll to the DLL's imports. Here the guard is seeded, as the
// Windows C runtime seeds its own security cookie, from the time, the
// performance counter, the process and thread ids and (with ASLR) addresses,
// and a failed check ends the process at once with STATUS_STACK_BUFFER_OVERRUN,
// without unwinding through the damaged frame or running any handler.
//
// Linked into VIDEREDEve_Z_64.dll only, and only in the hardened builds (see
// cmake/VrdDefaults.cmake); defining these three names keeps the linker from
// taking libssp's definitions, while libssp's checked functions (the
// _FORTIFY_SOURCE calls) still come from it and report through __chk_fail.
#ifdef _WIN32

#include <windows.h>
#include <x86intrin.h>

#include <cstdint>

extern "C" {

// Read by every protected function's prologue and epilogue.
uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail(void);
[[noreturn]] void __chk_fail(void);

}  // extern "C"

namespace {

// STATUS_STACK_BUFFER_OVERRUN (ntstatus.h), the code the Windows runtime
// reports for a failed stack or buffer check.
constexpr UINT kStackBufferOverrun = 0xC0000409u;

// The splitmix64 finaliser: spreads every input bit over the whole word.
uint64_t Mix(uint64_t value) noexcept {
  value ^= value >> 30;
  value *= 0xbf58476d1ce4e5b9ULL;
  value ^= value >> 27;
  value *= 0x94d049bb133111ebULL;
  value ^= value >> 31;
  return value;
}

// Runs before the DLL's other constructors; it must not be protected itself,
// since it changes the guard under its own frame.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  uint64_t seed = Mix((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  seed = Mix(seed ^ static_cast<uint64_t>(counter.QuadPart));
  seed = Mix(seed ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId());
  seed = Mix(seed ^ GetTickCount64() ^ __rdtsc());
  seed = Mix(seed ^ reinterpret_cast<uintptr_t>(&now) ^
             (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&__stack_chk_guard)) << 17));
  // A zero low byte stops string copies that run over the guard, as glibc's
  // guard does; the rest stays unpredictable.
  seed &= ~static_cast<uint64_t>(0xFF);
  if (seed == 0) seed = 0x2f9a5c7e3b1d4600ULL;
  __stack_chk_guard = static_cast<uintptr_t>(seed);
}

[[noreturn]] void EndProcess() noexcept {
  TerminateProcess(GetCurrentProcess(), kStackBufferOverrun);
  __builtin_trap();
}

}  // namespace

extern "C" void __stack_chk_fail(void) { EndProcess(); }

extern "C" void __chk_fail(void) { EndProcess(); }

#endif  // _WIN32
