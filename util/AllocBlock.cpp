// AllocBlock alone: test programs replace this translation unit (see
// util/Memory.h), so it holds nothing else.
#include "util/Memory.h"

namespace vrd {

void* AllocBlock(size_t size) noexcept { return AllocHeapBlock(size); }

}  // namespace vrd
