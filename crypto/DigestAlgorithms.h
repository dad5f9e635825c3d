// The digest algorithms the project knows by name: one table tying each
// digest's OID (dotted text) to the name reported for it ("SHA256") and to
// OpenSSL's NID, with the weak ones (MD5, SHA-1) marked. The toolkit names
// imprint algorithms and fetches its usual digests from it; the document
// report names imprints and picks its digest engine from it.
//
// The table is constant data; the lookups return a pointer into it, or null
// when nothing matches, valid for the whole process and safe from any thread.
#ifndef VRD_CRYPTO_DIGESTALGORITHMS_H_
#define VRD_CRYPTO_DIGESTALGORITHMS_H_

#include <openssl/obj_mac.h>

#include <string_view>

namespace vrd::tk {

struct DigestAlgorithm {
  const char* oid;   // dotted, "2.16.840.1.101.3.4.2.1"
  const char* name;  // as reported, "SHA256"
  int nid;           // OpenSSL's NID; NID_undef when OpenSSL has none (HAS-160)
  bool weak;         // MD5 and SHA-1: collisions are practical
  // The usual digests: fetched once when the library context is made, and
  // the ones the toolkit reports by name (any other by its OID text).
  bool usual;
};

inline constexpr DigestAlgorithm kDigestAlgorithms[] = {
    {"1.2.840.113549.2.5", "MD5", NID_md5, true, true},
    {"1.3.14.3.2.26", "SHA1", NID_sha1, true, true},
    {"2.16.840.1.101.3.4.2.4", "SHA224", NID_sha224, false, true},
    {"2.16.840.1.101.3.4.2.1", "SHA256", NID_sha256, false, true},
    {"2.16.840.1.101.3.4.2.2", "SHA384", NID_sha384, false, true},
    {"2.16.840.1.101.3.4.2.3", "SHA512", NID_sha512, false, true},
    {"2.16.840.1.101.3.4.2.8", "SHA3-256", NID_sha3_256, false, false},
    {"2.16.840.1.101.3.4.2.9", "SHA3-384", NID_sha3_384, false, false},
    {"2.16.840.1.101.3.4.2.10", "SHA3-512", NID_sha3_512, false, false},
    {"1.2.156.10197.1.401", "SM3", NID_sm3, false, false},
    {"1.2.410.200004.1.2", "HAS160", NID_undef, false, false},
};

// The entry of a dotted OID text, or of an OpenSSL NID (never NID_undef's).
const DigestAlgorithm* FindDigestByOid(std::string_view oid) noexcept;
const DigestAlgorithm* FindDigestByNid(int nid) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_DIGESTALGORITHMS_H_
