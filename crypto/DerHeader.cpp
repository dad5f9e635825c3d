#include "crypto/DerHeader.h"

namespace vrd::tk {

bool ReadDerHeader(const unsigned char* bytes, size_t size, DerHeader* out) noexcept {
  constexpr unsigned char kHighTagNumber = 0x1F;
  constexpr unsigned char kLongForm = 0x80;
  size_t pos = 0;
  if (size == 0) return false;
  const unsigned char tag = bytes[pos++];
  const bool high = (tag & kHighTagNumber) == kHighTagNumber;
  if (high) {
    while (pos < size && (bytes[pos] & 0x80) != 0) ++pos;
    ++pos;
  }
  if (pos >= size) return false;
  const unsigned char first = bytes[pos++];
  size_t length = first;
  size_t count = 0;
  bool minimal = true;
  if ((first & kLongForm) != 0) {
    count = first & 0x7F;
    if (count == 0) return false;  // indefinite
    if (count > sizeof(size_t) || count > size - pos) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[pos + i];
    // Long form where the short one fits, or a leading zero octet.
    minimal = bytes[pos] != 0 && length >= kLongForm;
    pos += count;
  }
  if (length > size - pos) return false;
  out->tag = tag;
  out->high_tag_number = high;
  out->length_octets = count;
  out->minimal_length = minimal;
  out->header_length = pos;
  out->content_length = length;
  return true;
}

}  // namespace vrd::tk
