// Helpers shared by the digest test files.
#ifndef VRD_TESTS_DIGEST_TEST_UTIL_H_
#define VRD_TESTS_DIGEST_TEST_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "src/VORirori/HashCores.h"

namespace vrd::digest_test {

inline std::string Hex(const void* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

// Selects the compress path for one scope (portable only, or the CPU's best).
class ScopedHashPath {
 public:
  explicit ScopedHashPath(bool portable_only) { SetPortableHashOnly(portable_only); }
  ~ScopedHashPath() { SetPortableHashOnly(false); }
  ScopedHashPath(const ScopedHashPath&) = delete;
  ScopedHashPath& operator=(const ScopedHashPath&) = delete;
};

}  // namespace vrd::digest_test

#endif  // VRD_TESTS_DIGEST_TEST_UTIL_H_
