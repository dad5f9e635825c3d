// Strict Base64 decoding (RFC 4648 section 4): whole 4-character groups, the
// standard alphabet only, "=" padding only at the very end, and zero padding
// bits (RFC 4648 section 3.5), so that every byte sequence has exactly one
// accepted text. The toolkit's QVTK_BASE64_Decode and the document report's
// built-in anchors decode with it.
//
// Ownership: the caller owns both buffers; nothing is allocated.
#ifndef VRD_CRYPTO_BASE64_H_
#define VRD_CRYPTO_BASE64_H_

#include <cstddef>

namespace vrd::tk {

// The most bytes a text of in_len characters decodes to: the size out must have.
constexpr size_t Base64DecodedBound(size_t in_len) noexcept { return in_len / 4 * 3; }

// Decodes in[0, in_len) into out, *out_len receiving the byte count. False
// for any text that is not strict padded Base64 (out then holds garbage).
[[nodiscard]] bool DecodeBase64Strict(const unsigned char* in, size_t in_len, unsigned char* out,
                                      size_t* out_len) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_BASE64_H_
