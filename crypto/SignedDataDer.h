// SplitCertificates: takes the certificates field out of a DER CMS
// ContentInfo holding SignedData (RFC 5652 section 5.1), so that the rest can
// be decoded without decoding the certificates again: the toolkit takes
// those from its certificate cache by their DER bytes instead.
//
// Only plain DER of the expected shape is split; anything else (indefinite
// or over-long lengths, high tag numbers, other CertificateChoices than
// Certificate, bytes after the last field, no certificates field) is left
// whole to OpenSSL, so no input is accepted or rejected because of this.
// Bytes after the ContentInfo are ignored, as d2i does.
//
// Ownership: the slices point into the caller's input, which must outlive
// them; the rewritten ContentInfo is a string of its own.
#ifndef VRD_CRYPTO_SIGNEDDATADER_H_
#define VRD_CRYPTO_SIGNEDDATADER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vrd::tk {

struct SplitSignedData {
  std::string without_certificates;            // the ContentInfo, certificates field left out
  std::vector<std::string_view> certificates;  // each Certificate's DER, in order
  // Each RevocationInfoChoice of the crls field, in order: a CertificateList
  // (a SEQUENCE) or an [1] OtherRevocationInfoFormat (RFC 5940).
  std::vector<std::string_view> revocation_info;
};

// True when der (length bytes) starts with a ContentInfo of the shape above.
// With drop_revocation_info the crls field, when there is one, is left out
// of without_certificates too (for readers that never look at it: a
// signature may carry megabytes of revocation lists).
[[nodiscard]] bool SplitCertificates(const unsigned char* der, size_t length, SplitSignedData* out,
                                     bool drop_revocation_info = false) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_SIGNEDDATADER_H_
