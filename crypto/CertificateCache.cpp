#include "crypto/CertificateCache.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypto/DerHeader.h"
#include "crypto/SignedDataDer.h"

namespace vrd::tk {
namespace {

// The cached certificates for every slice, in order, or null when one of
// them is not cached (or memory is short).
CertStackPtr CachedCertificates(CertificateCache& cache,
                                const std::vector<std::string_view>& slices) noexcept {
  CertStackPtr certs(sk_X509_new_null());
  if (certs == nullptr) return nullptr;
  for (const std::string_view& der : slices) {
    CertPtr cert = cache.LookUp(der);
    if (cert == nullptr || sk_X509_push(certs.get(), cert.get()) <= 0) return nullptr;
    cert.release();  // the stack owns it now
  }
  return certs;
}

// Keeps the certificates OpenSSL decoded from a whole SignedData under their
// slices, when they are exactly what a parse of each slice alone gives: one
// certificate per slice, in order, re-encoding to the same bytes.
void KeepCertificates(CertificateCache& cache, const std::vector<std::string_view>& slices,
                      STACK_OF(X509) * certs) noexcept {
  if (static_cast<size_t>(sk_X509_num(certs)) != slices.size()) return;
  for (size_t i = 0; i < slices.size(); ++i) {
    X509* cert = sk_X509_value(certs, static_cast<int>(i));
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    const bool same = n > 0 && static_cast<size_t>(n) == slices[i].size() &&
                      std::memcmp(der, slices[i].data(), slices[i].size()) == 0;
    OPENSSL_free(der);
    if (same) cache.Keep(slices[i], cert);
  }
  ERR_clear_error();
}

// Each certificate decoded on its own (the cached ones taken from cache, the
// others kept there), or null when one of them is no certificate: the
// caller then decodes the whole, as OpenSSL would judge it.
CertStackPtr CertificatesAlone(OSSL_LIB_CTX* library, CertificateCache& cache,
                               const std::vector<std::string_view>& slices) noexcept {
  CertStackPtr certs(sk_X509_new_null());
  if (certs == nullptr) return nullptr;
  for (const std::string_view& der : slices) {
    CertPtr cert = cache.LookUp(der);
    if (cert == nullptr) {
      X509* decoded = X509_new_ex(library, nullptr);
      const auto* p = reinterpret_cast<const unsigned char*>(der.data());
      // On failure OpenSSL frees the object and sets the pointer to null.
      if (decoded == nullptr || d2i_X509(&decoded, &p, static_cast<long>(der.size())) == nullptr ||
          p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        X509_free(decoded);
        ERR_clear_error();
        return nullptr;
      }
      cert.reset(decoded);
      cache.Keep(der, cert.get());
    }
    if (sk_X509_push(certs.get(), cert.get()) <= 0) return nullptr;
    cert.release();  // the stack owns it now
  }
  return certs;
}

}  // namespace

void SettleCertificate(X509* cert) noexcept {
  // Purpose -1 asks for no purpose: the cached facts only. A certificate
  // with invalid extensions is marked so, as its first use would.
  (void)X509_check_purpose(cert, -1, 0);
  ERR_clear_error();
}

DecodeStatus DecodeSignedData(OSSL_LIB_CTX* library, const unsigned char* der, size_t length,
                              CertificateCache& cache, DecodedSignedData* out,
                              const DecodeOptions& options) noexcept {
  SplitSignedData split;
  const bool was_split = SplitCertificates(der, length, &split, options.without_revocation_info);
  CertStackPtr separate;  // the certificates, decoded apart from the rest
  if (was_split && options.without_certificates) {
    separate.reset(sk_X509_new_null());
    if (separate == nullptr) return DecodeStatus::kNoMemory;
  } else if (was_split) {
    separate = CachedCertificates(cache, split.certificates);
  }
  if (was_split && separate == nullptr && options.certificates_alone) {
    separate = CertificatesAlone(library, cache, split.certificates);
  }
  const bool stripped = separate != nullptr;
  const unsigned char* p = der;
  long available = static_cast<long>(length);
  if (stripped) {
    p = reinterpret_cast<const unsigned char*>(split.without_certificates.data());
    available = static_cast<long>(split.without_certificates.size());
  }
  const unsigned char* const start = p;
  CMS_ContentInfo* parsed = CMS_ContentInfo_new_ex(library, nullptr);
  if (parsed == nullptr) return DecodeStatus::kNoMemory;
  // d2i reads one object and stops: bytes after it are not looked at. On
  // failure OpenSSL frees the object and sets the pointer to null.
  if (d2i_CMS_ContentInfo(&parsed, &p, available) == nullptr) {
    CMS_ContentInfo_free(parsed);
    return DecodeStatus::kNotContentInfo;
  }
  out->cms.reset(parsed);
  if (stripped) {
    DerHeader outer;
    out->consumed = ReadDerHeader(der, length, &outer) ? outer.header_length + outer.content_length
                                                       : static_cast<size_t>(p - start);
    out->certs = std::move(separate);
    ERR_clear_error();
    return DecodeStatus::kDecoded;
  }
  out->consumed = static_cast<size_t>(p - start);
  out->certs.reset(CMS_get1_certs(parsed));
  if (was_split && out->certs != nullptr) {
    KeepCertificates(cache, split.certificates, out->certs.get());
  }
  ERR_clear_error();
  return DecodeStatus::kDecoded;
}

}  // namespace vrd::tk
