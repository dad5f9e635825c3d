// Decoding a CMS SignedData without decoding its certificates again: the
// certificates of one authority recur in token after token, and decoding a
// certificate (its public key above all) costs more than the rest of a
// token. A CertificateCache keeps parsed certificates by their DER bytes;
// DecodeSignedData takes them from it when it has them all.
//
// The cache is the caller's: the toolkit's per-thread caches, the report's
// own. A hit gives exactly what a fresh parse would: the key is the whole
// DER of the certificate, and only certificates that re-encode to exactly
// their bytes are kept.
//
// Ownership: LookUp returns a new reference; Keep takes a reference of its
// own when it keeps cert. DecodeSignedData borrows der for the call.
#ifndef VRD_CRYPTO_CERTIFICATECACHE_H_
#define VRD_CRYPTO_CERTIFICATECACHE_H_

#include <cstddef>
#include <string_view>

#include "crypto/Holders.h"

namespace vrd::tk {

class CertificateCache {
 public:
  // The certificate kept under exactly these DER bytes, or null.
  virtual CertPtr LookUp(std::string_view der) noexcept = 0;
  // Keeps cert, the parse of exactly der; failures to keep are silent.
  virtual void Keep(std::string_view der, X509* cert) noexcept = 0;

 protected:
  ~CertificateCache() = default;
};

// Makes OpenSSL work out now what it otherwise works out on a
// certificate's first use and keeps in it (extensions, key identifiers,
// the SHA-1 hash), so that a certificate shared by threads is only read
// afterwards: OpenSSL's own locking of that first use does not cover every
// reader. Call it before the certificate is handed to other threads.
void SettleCertificate(X509* cert) noexcept;

struct DecodedSignedData {
  CmsPtr cms;
  // Every certificate of the SignedData, in order; null when it has none.
  // When they came from the cache, the decoded cms holds none itself.
  CertStackPtr certs;
  size_t consumed = 0;  // the ContentInfo's bytes (what follows is ignored)
};

// How DecodeSignedData treats a plain DER SignedData whose certificates are
// not all in the cache: by default the whole is decoded, and the
// certificates OpenSSL read that re-encode to their own bytes are kept;
// with certificates_alone each is decoded on its own (and kept) and the
// rest without them. Without revocation info, the crls field is not decoded
// at all (the decoded cms has none), whatever the cache holds; without
// certificates neither is the certificates field (certs is then empty), for
// a reader that only wants the signer infos.
struct DecodeOptions {
  bool certificates_alone = false;
  bool without_revocation_info = false;
  bool without_certificates = false;
};

// Decodes the ContentInfo at der in library. When it is plain DER SignedData
// (crypto/SignedDataDer.h) whose certificates are all in cache, only the
// rest is decoded; otherwise as options say. Anything but kDecoded leaves
// out untouched.
enum class DecodeStatus { kDecoded, kNotContentInfo, kNoMemory };
[[nodiscard]] DecodeStatus DecodeSignedData(OSSL_LIB_CTX* library, const unsigned char* der,
                                            size_t length, CertificateCache& cache,
                                            DecodedSignedData* out,
                                            const DecodeOptions& options = {}) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_CERTIFICATECACHE_H_
