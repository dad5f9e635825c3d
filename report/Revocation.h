// Revocation data for long-term validation, offline: the CRLs and OCSP
// responses a document carries (its /DSS, with the /VRI entries, and the
// crls of its tokens' SignedData) and those the user gives (--revocation).
// Nothing is fetched from the network.
//
// No item is believed before it is checked against the certificate it
// speaks of and that certificate's issuer (already validated, as the next
// certificate of the authority's chain):
//  - a CRL counts when its issuer name is the issuer's subject, its
//    signature verifies with the issuer's key, the issuer may sign CRLs
//    (cRLSign, when it states key usages) and it is not an indirect CRL;
//  - an OCSP response counts when it is successful, has a single response
//    for the certificate, and is signed by the issuer or by a responder
//    certificate the issuer signed and gave id-kp-OCSPSigning.
// Items that speak of the certificate's issuer but fail a check are listed
// as ignored, with why.
//
// Status at genTime (RFC 5280, RFC 6960): revoked when a believed item lists
// the certificate (with its revocation time and reason); else good when
// some believed item was issued at or after genTime and not after the
// certificate's notAfter; else stale when there are believed items, all
// issued before genTime or after notAfter (only_after_expiry when the newest
// came after it); else unknown.
//
// Ownership: a RevocationSet owns its items. Parsed CRLs are shared through
// a cache of the process (keyed by their bytes' SHA-256), so a large CRL
// that many documents carry is parsed, sorted and its signature checked
// once; a certificate is looked up in it by a binary search on its serial.
// One set serves one document on one thread; the cache is thread-safe.
#ifndef VRD_REPORT_REVOCATION_H_
#define VRD_REPORT_REVOCATION_H_

#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/ReportTypes.h"

namespace vrd::report {

struct ParsedCrl;
struct ParsedOcsp;

// What the items say of one certificate.
struct CertificateStatus {
  RevocationStatus status = RevocationStatus::kUnknown;
  int64_t revoked_at = 0;  // when revoked
  std::string reason;      // when revoked: RFC 5280 reason name, "" when none
  std::string decided_by;  // "crl" or "ocsp", when an item decided
  std::string decided_where;
  int64_t decided_issued = 0;  // thisUpdate of the deciding item
  // Not good for want of items before notAfter, though some were issued
  // after it (a CA need not list expired certificates).
  bool only_after_expiry = false;
  std::vector<IgnoredRevocationItem> ignored;
};

class RevocationSet {
 public:
  RevocationSet();
  ~RevocationSet();
  RevocationSet(const RevocationSet&) = delete;
  RevocationSet& operator=(const RevocationSet&) = delete;

  // DER (or PEM) bytes of a CRL or an OCSPResponse, copied when kept;
  // where names the place it was found. Items that are neither are skipped.
  void Add(std::string_view bytes, const char* where);
  void AddAll(const RevocationSet& other);

  [[nodiscard]] bool empty() const noexcept { return crls_.empty() && ocsps_.empty(); }

  // The status of cert, which issuer issued, at gen_time (seconds since
  // 1970).
  [[nodiscard]] CertificateStatus StatusOf(X509* cert, X509* issuer, int64_t gen_time) const;

 private:
  struct Item;
  std::vector<Item> crls_;
  std::vector<Item> ocsps_;
};

// The revocation status of a validated chain (the authority's certificate
// first, the trust anchor last, whose own status is not asked) at gen_time:
// the first revoked certificate's, else the weakest status of them all
// (unknown, then stale, then good), with every ignored item.
RevocationReport ChainRevocation(STACK_OF(X509) * chain, const RevocationSet& items,
                                 int64_t gen_time);

// RFC 5280 reason names ("keyCompromise", ...), "" for an absent reason.
const char* CrlReasonName(int reason) noexcept;

}  // namespace vrd::report

#endif  // VRD_REPORT_REVOCATION_H_
