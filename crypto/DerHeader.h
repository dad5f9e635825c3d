// ReadDerHeader: the identifier and length octets of one BER/DER TLV
// (X.690 section 8.1), the one hand-written reader of them in the project.
// The toolkit's certificate splitter walks SignedData with it; the document
// report tells DER from BER with it.
//
// It reads headers only, borrows the bytes for the call and keeps nothing.
// Only definite lengths are read; whether a caller accepts high tag numbers,
// long length forms or non-minimal lengths is the caller's rule, for which
// the header reports what it saw.
#ifndef VRD_CRYPTO_DERHEADER_H_
#define VRD_CRYPTO_DERHEADER_H_

#include <cstddef>

namespace vrd::tk {

struct DerHeader {
  unsigned char tag = 0;         // the first identifier octet
  bool high_tag_number = false;  // the tag number continues in further octets
  size_t length_octets = 0;      // octets after the first length octet (long form)
  bool minimal_length = false;   // the length in the fewest octets (X.690 section 10.1)
  size_t header_length = 0;      // identifier and length octets
  size_t content_length = 0;     // contents octets, all within the given size
};

// Reads the header of the TLV at bytes[0, size). False when the octets run
// out, the length is indefinite or has more octets than a size_t holds, or
// the contents would end past size.
[[nodiscard]] bool ReadDerHeader(const unsigned char* bytes, size_t size, DerHeader* out) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_DERHEADER_H_
