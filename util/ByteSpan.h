// ByteSpan: a non-owning run of bytes (pointer and length), the unit in which
// the signed content travels from the document stage to the digest engine.
// The owner of the bytes keeps them alive and unchanged while a span is used.
#ifndef VRD_UTIL_BYTESPAN_H_
#define VRD_UTIL_BYTESPAN_H_

#include <cstddef>

namespace vrd {

struct ByteSpan {
  const unsigned char* data = nullptr;
  size_t length = 0;
};

}  // namespace vrd

#endif  // VRD_UTIL_BYTESPAN_H_
