// The one narrowing of 64-bit arithmetic to the signed 32-bit integers that
// document positions, lengths and list values are stored in.
#ifndef VRD_UTIL_CLAMP_H_
#define VRD_UTIL_CLAMP_H_

#include <cstdint>

namespace vrd {

// value clamped into [INT32_MIN, INT32_MAX]. Every position of a document
// lies inside int32, so a clamped out-of-range position stays outside it.
[[nodiscard]] constexpr int32_t ClampToInt32(int64_t value) noexcept {
  return value > INT32_MAX   ? INT32_MAX
         : value < INT32_MIN ? INT32_MIN
                             : static_cast<int32_t>(value);
}

}  // namespace vrd

#endif  // VRD_UTIL_CLAMP_H_
