// The checks of an RFC 3161 token's CMS SignedData that both the QVTK_
// operations and the document report (report/) run: finding the signer's
// certificate, the signature and content-digest check of one SignerInfo, the
// ESS signing-certificate binding, the time-stamping key usage and path
// validation of the authority's certificate at a given time.
//
// Internal to the toolkit and the report module (each links vrd_crypto into
// itself); nothing here is exported. The codes are the toolkit interface's. Functions borrow every
// OpenSSL object they are given and never keep it; each returns a QVTK_ code and a static text
// naming the failure. After a failure OpenSSL's error queue may hold its reasons, for the caller to
// record and clear; after a success it is empty.
#ifndef VRD_CRYPTO_TOKENCHECK_H_
#define VRD_CRYPTO_TOKENCHECK_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "crypto/Holders.h"
#include "toolkit/qvtk.h"

namespace vrd::tk {

struct CheckResult {
  int code = QVTK_OK;
  const char* what = "";
  [[nodiscard]] bool ok() const noexcept { return code == QVTK_OK; }
};

// The certificate among certs that the SignerInfo's sid names (issuer and
// serial, or subject key identifier), or null.
X509* FindSignerCert(CMS_SignerInfo* si, STACK_OF(X509) * certs) noexcept;

// The SignerInfo's signature, with signer as its certificate: over the signed
// attributes and the content digest against the message-digest attribute
// when there are signed attributes, else over the content itself.
// With accept_x500_rsa, a signature algorithm given as the bare RSA
// identifier 2.5.8.1.1 (X.500's id-ea-rsa), which some authorities write for
// rsaEncryption, is read as rsaEncryption (OpenSSL's CMS code refuses it).
[[nodiscard]] CheckResult CheckSignerSignature(CMS_SignerInfo* si, X509* signer,
                                               const ASN1_OCTET_STRING* content,
                                               bool accept_x500_rsa) noexcept;

// RFC 2634 section 5.4 / RFC 5035 section 3: the signed attribute
// signingCertificate (v1) or signingCertificateV2 must be present, its first
// ESSCertID must name signer, and further ones certificates of certs.
[[nodiscard]] CheckResult CheckSigningCertificate(CMS_SignerInfo* si, X509* signer,
                                                  STACK_OF(X509) * certs) noexcept;

// RFC 3161 section 2.3: the authority's certificate carries id-kp-timeStamping.
[[nodiscard]] bool HasTimeStampingUsage(X509* cert) noexcept;

// One RFC 5280 path validation of cert against the trusted certificates of
// roots, with untrusted as candidates for intermediate CAs; at_time absent
// means now. Returns the X509_V_* result (X509_V_OK on success;
// X509_V_ERR_UNSPECIFIED when the validation could not run); *depth
// receives the failing depth. chain, when not null, receives the validated
// path on success (cert first, the trust anchor last; the caller frees it
// with OSSL_STACK_OF_X509_free).
[[nodiscard]] int ValidatePath(X509* cert, X509_STORE* roots, STACK_OF(X509) * untrusted,
                               std::optional<int64_t> at_time, int* depth,
                               STACK_OF(X509) ** chain = nullptr) noexcept;

// The signature algorithm of a SignerInfo as 2.5.8.1.1 is replaced, on the
// parsed structure only, by rsaEncryption; true when it was.
bool NormalizeRsaSignatureAlgorithm(CMS_SignerInfo* si) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_TOKENCHECK_H_
