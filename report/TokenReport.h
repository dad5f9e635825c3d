// Internal to the report module: the cryptographic half of the report. Parses
// a time-stamp token (DER or BER), runs the token checks it shares with the
// toolkit (crypto/TokenCheck.h) on it, validates the authority's chain against
// the trust sources, finds the signature time-stamps inside an ordinary
// signature, and digests byte ranges with the project's digest engine (or
// OpenSSL for algorithms the engine lacks). Digests are written as text with
// util/Hex.h's HexLower.
//
// Ownership: a TrustSources owns its stores and certificates; everything else
// borrows its inputs for the call.
#ifndef VRD_REPORT_TOKENREPORT_H_
#define VRD_REPORT_TOKENREPORT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/Holders.h"
#include "report/ReportTypes.h"
#include "report/Revocation.h"
#include "util/ByteSpan.h"
#include "util/Hex.h"

namespace vrd::report {

using StoreHolder = tk::StorePtr;

// The trust sources of a run: loaded once, then only read, so one object
// serves every document and thread of the run.
//
// The system roots are a hashed directory (TrustSettings::system_bundle
// names a directory, as kSystemRootDirectory does) or a bundle file. A
// directory is searched through OpenSSL's hash-directory lookup: a root is
// read from its file the first time a chain asks for its subject, in the
// verifying call's library context, and kept in the store. That store is then
// written by whichever thread validates a chain, under OpenSSL's own locks
// (the store's and the lookup's), so sharing the sources read-only between
// threads stays safe. A bundle file is read whole while loading.
class TrustSources {
 public:
  // Built-in anchors (always, decoded straight from their texts), the extra
  // DER roots and, when asked, the system roots. False with error set when any
  // of them cannot be read, or when system_bundle is neither a directory nor
  // a regular file.
  [[nodiscard]] bool Load(const TrustSettings& settings, std::string* error);

  struct Source {
    TrustSource name;
    StoreHolder store;
  };
  const std::vector<Source>& sources() const noexcept { return sources_; }
  STACK_OF(X509) * ca_pubs() const noexcept { return ca_pubs_.get(); }
  // The CRLs and OCSP responses the user gave (TrustSettings::revocation_items).
  const RevocationSet& revocation() const noexcept { return revocation_; }

 private:
  std::vector<Source> sources_;
  tk::CertStackPtr ca_pubs_;
  RevocationSet revocation_;
};

// Certificates one document carries (its /DSS /Certs): candidates for the
// signer of a token that omits its certificate, and for intermediate CAs.
// Never trusted. With them, the document's CRLs and OCSP responses.
class DocumentCertificates {
 public:
  // Unreadable ones are skipped.
  void Add(const std::vector<std::string>& ders);
  STACK_OF(X509) * get() const noexcept { return certs_.get(); }
  RevocationSet& revocation() noexcept { return revocation_; }
  const RevocationSet& revocation() const noexcept { return revocation_; }

 private:
  tk::CertStackPtr certs_;
  RevocationSet revocation_;
};

// What the token asks to be digested: the imprint's algorithm.
struct ImprintRequest {
  std::string algorithm_oid;  // dotted
  std::vector<unsigned char> expected;
};

// Checks the token at bytes (trailing bytes after its encoding ignored; a
// whole RFC 3161 TimeStampResp is taken for the token it holds) and
// fills every field of ts except coverage, imprint verdict and computed_hex.
// False when the token cannot be parsed as a TSTInfo SignedData at all (then
// ts->problem says why and request is untouched).
// carried, when given, are the document's own certificates; with them, a
// chain that validates also gets its revocation status at genTime
// (ts->revocation) from the document's items, the token's own crls and the
// user's.
[[nodiscard]] bool CheckToken(const unsigned char* bytes, size_t size, const TrustSources& trust,
                              TimeStampReport* ts, ImprintRequest* request,
                              const DocumentCertificates* carried = nullptr);

// The signature time-stamps of an ordinary signature's CMS SignedData: for
// each SignerInfo, each token of its id-aa-timeStampToken attributes, with the
// signature value the token's imprint covers.
struct SignatureStamp {
  std::string token;            // the token's encoding
  std::string signature_value;  // the SignerInfo's signature octets
};
// archived, when not null, receives the CRLs and OCSP responses of each
// SignerInfo's adbe-revocationInfoArchival attribute (1.2.840.113583.1.1.8).
std::vector<SignatureStamp> FindSignatureTimeStamps(const unsigned char* bytes, size_t size,
                                                    std::vector<std::string>* archived = nullptr);

// A stretch of the document to hash, in order.
using ByteRanges = std::vector<std::pair<int64_t, int64_t>>;

// Hands DigestRanges the document's bytes: from offset, between 1 and
// wanted of them, valid until the next call; false when they cannot be read.
class RangeReader {
 public:
  [[nodiscard]] virtual bool Next(int64_t offset, size_t wanted, ByteSpan* bytes) = 0;

 protected:
  ~RangeReader() = default;
};

// Digests the ranges (already checked to lie in the document) with the
// algorithm named by the dotted OID, in one pass over the bytes reader
// gives. False when no implementation knows it or a read failed.
[[nodiscard]] bool DigestRanges(const std::string& algorithm_oid, RangeReader& reader,
                                const ByteRanges& ranges, std::vector<unsigned char>* digest);
// The same over a document in memory.
[[nodiscard]] bool DigestRanges(const std::string& algorithm_oid, const unsigned char* data,
                                const ByteRanges& ranges, std::vector<unsigned char>* digest);

// A distinguished name as one line (RFC 2253, UTF-8).
std::string NameText(const X509_NAME* name);
// Seconds since 1970 of an ASN.1 time, when it is one.
std::optional<int64_t> SecondsSinceEpoch(const ASN1_TIME* time);
// "2025-06-01T00:00:00Z" for seconds since 1970 (UTC).
std::string TimeText(int64_t seconds);

// "SHA256", "SHA1", ... for the OIDs of crypto/DigestAlgorithms.h, else the
// OID text; weak is set for MD5 and SHA-1.
std::string AlgorithmName(const std::string& algorithm_oid, bool* weak);

}  // namespace vrd::report

#endif  // VRD_REPORT_TOKENREPORT_H_
