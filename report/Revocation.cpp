#include "report/Revocation.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "crypto/CertificateCache.h"
#include "crypto/DerHeader.h"
#include "crypto/Holders.h"
#include "crypto/Runtime.h"
#include "report/TokenReport.h"

namespace vrd::report {

using tk::CertPtr;
using tk::CrlPtr;
using tk::OcspBasicPtr;
using tk::OcspCertIdPtr;
using tk::OcspResponsePtr;

namespace {

constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";  // FIPS 180-4 SHA-256
// Parsed items kept for the process at most, and their bytes at most; the
// cache starts afresh past either (a batch of hostile documents could
// otherwise keep thousands of 32 MiB lists).
constexpr size_t kMaxCachedItems = 256;
constexpr size_t kMaxCachedBytes = size_t{256} << 20;

// A DER element: its identifier octet, its whole encoding and its contents.
struct Element {
  unsigned char tag = 0;
  std::string_view whole;
  std::string_view content;
};

// The next element of *rest (which it leaves after it); false at the end or
// on anything but definite-length DER.
bool NextElement(std::string_view* rest, Element* out) {
  tk::DerHeader header;
  const auto* p = reinterpret_cast<const unsigned char*>(rest->data());
  if (rest->empty() || !tk::ReadDerHeader(p, rest->size(), &header) || header.high_tag_number) {
    return false;
  }
  out->tag = p[0];
  out->whole = rest->substr(0, header.header_length + header.content_length);
  out->content = out->whole.substr(header.header_length);
  rest->remove_prefix(out->whole.size());
  return true;
}

// The contents of an INTEGER's DER: comparable as bytes, as DER makes them
// minimal.
std::string SerialKey(const ASN1_INTEGER* serial) {
  unsigned char* der = nullptr;
  const int length = i2d_ASN1_INTEGER(serial, &der);
  std::string key;
  std::string_view rest(reinterpret_cast<const char*>(der), length > 0 ? length : 0);
  Element element;
  if (NextElement(&rest, &element)) key = std::string(element.content);
  OPENSSL_free(der);
  return key;
}

int64_t Seconds(const ASN1_TIME* time) {
  if (time == nullptr) return 0;
  return SecondsSinceEpoch(time).value_or(0);
}

// A UTCTime or GeneralizedTime element in seconds since 1970; 0 when not one.
int64_t TimeSeconds(const Element& time) {
  const auto* p = reinterpret_cast<const unsigned char*>(time.whole.data());
  tk::TimePtr parsed(d2i_ASN1_TIME(nullptr, &p, static_cast<long>(time.whole.size())));
  ERR_clear_error();
  return Seconds(parsed.get());
}

// RFC 5280 extension identifiers, as DER.
constexpr std::string_view kReasonCodeOid("\x06\x03\x55\x1d\x15", 5);                // 2.5.29.21
constexpr std::string_view kIssuingDistributionPointOid("\x06\x03\x55\x1d\x1c", 5);  // 2.5.29.28

// The value (the OCTET STRING's contents) of the extension with the given
// DER OID in a SEQUENCE OF Extension's contents; empty when absent.
std::string_view ExtensionValue(std::string_view extensions, std::string_view oid) {
  Element extension;
  while (NextElement(&extensions, &extension)) {
    std::string_view fields = extension.content;
    Element id;
    Element next;
    if (!NextElement(&fields, &id) || id.whole != oid) continue;
    while (NextElement(&fields, &next)) {
      if (next.tag == 0x04) return next.content;  // after the optional critical flag
    }
  }
  return std::string_view();
}

}  // namespace

// A CRL as the judgement reads it (RFC 5280 section 5.1), from its own DER:
// OpenSSL's decoder builds objects for every entry, which for a list of tens
// of thousands costs a hundred times more than this index of serials.
struct ParsedCrl {
  std::string der;
  std::string_view tbs;        // tbsCertList, signed
  std::string_view algorithm;  // signatureAlgorithm
  std::string_view signature;  // signatureValue's contents (unused-bits octet first)
  std::string_view issuer;     // the issuer Name's DER
  int64_t this_update = 0;
  bool indirect = false;
  std::string_view revoked;  // revokedCertificates' contents, checked well-formed
  struct Entry {
    std::string_view serial;  // INTEGER contents
    std::string_view rest;    // revocationDate and crlEntryExtensions
  };

  // Whether the issuer named is the certificate's subject.
  bool IssuedBy(X509* issuer_cert) const {
    const X509_NAME* subject = X509_get_subject_name(issuer_cert);
    unsigned char* der_name = nullptr;
    const int length = i2d_X509_NAME(subject, &der_name);
    const bool same = length > 0 && issuer == std::string_view(reinterpret_cast<char*>(der_name),
                                                               static_cast<size_t>(length));
    OPENSSL_free(der_name);
    if (same) return true;
    const auto* p = reinterpret_cast<const unsigned char*>(issuer.data());
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(issuer.size()));
    const bool equal = name != nullptr && X509_NAME_cmp(name, subject) == 0;
    X509_NAME_free(name);
    ERR_clear_error();
    return equal;
  }

  // Whether the signature verifies with the issuer's key; remembered per
  // key (its subjectPublicKey bits).
  bool VerifiedBy(X509* issuer_cert) const {
    EVP_PKEY* key = X509_get0_pubkey(issuer_cert);
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(issuer_cert);
    if (key == nullptr || bits == nullptr) return false;
    const std::string id(reinterpret_cast<const char*>(ASN1_STRING_get0_data(bits)),
                         static_cast<size_t>(ASN1_STRING_length(bits)));
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [known, ok] : verdicts) {
      if (known == id) return ok;
    }
    const bool ok = Verify(key);
    ERR_clear_error();
    verdicts.emplace_back(id, ok);
    return ok;
  }

  // The entry for serial (INTEGER contents), or null. The index of serials
  // is built on the first look-up: most CRLs a document carries are never
  // asked about (another issuer's, or an issuer's whose signature fails).
  const Entry* Find(const std::string& serial) const {
    std::call_once(indexed_, [this] { IndexEntries(); });
    const auto found =
        std::lower_bound(entries_.begin(), entries_.end(), serial,
                         [](const Entry& e, const std::string& key) { return e.serial < key; });
    return found != entries_.end() && found->serial == serial ? &*found : nullptr;
  }

  mutable std::mutex mutex;
  mutable std::vector<std::pair<std::string, bool>> verdicts;

 private:
  void IndexEntries() const {
    std::string_view rest = revoked;
    entries_.reserve(rest.size() / 24);  // most entries are 24 to 40 bytes
    Element entry;
    while (NextElement(&rest, &entry)) {
      std::string_view parts = entry.content;
      Element serial;
      if (NextElement(&parts, &serial)) entries_.push_back(Entry{serial.content, parts});
    }
    const auto by_serial = [](const Entry& a, const Entry& b) { return a.serial < b.serial; };
    if (!std::is_sorted(entries_.begin(), entries_.end(), by_serial)) {
      std::sort(entries_.begin(), entries_.end(), by_serial);
    }
  }

  mutable std::once_flag indexed_;
  mutable std::vector<Entry> entries_;  // sorted by serial

  // The signature over tbs with the digest the algorithm names; algorithms
  // with parameters of their own (RSASSA-PSS) through OpenSSL's decoding of
  // the whole list.
  bool Verify(EVP_PKEY* key) const {
    const auto* p = reinterpret_cast<const unsigned char*>(algorithm.data());
    X509_ALGOR* algor = d2i_X509_ALGOR(nullptr, &p, static_cast<long>(algorithm.size()));
    int digest_nid = NID_undef;
    int key_nid = NID_undef;
    const bool known = algor != nullptr &&
                       OBJ_find_sigid_algs(OBJ_obj2nid(algor->algorithm), &digest_nid, &key_nid) &&
                       key_nid != NID_rsassaPss;
    X509_ALGOR_free(algor);
    if (!known || signature.empty() || signature[0] != 0) {
      const auto* q = reinterpret_cast<const unsigned char*>(der.data());
      CrlPtr crl(d2i_X509_CRL(nullptr, &q, static_cast<long>(der.size())));
      return crl != nullptr && X509_CRL_verify(crl.get(), key) == 1;
    }
    tk::DigestCtxPtr ctx(EVP_MD_CTX_new());
    const char* digest = digest_nid != NID_undef ? OBJ_nid2sn(digest_nid) : nullptr;
    return ctx != nullptr &&
           EVP_DigestVerifyInit_ex(ctx.get(), nullptr, digest, tk::LibraryContext(), nullptr, key,
                                   nullptr) == 1 &&
           EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()) + 1,
                            signature.size() - 1,
                            reinterpret_cast<const unsigned char*>(tbs.data()), tbs.size()) == 1;
  }
};

namespace {

// The revocation time and reason code (-1: none) of an entry.
std::pair<int64_t, int> EntryDetails(const ParsedCrl::Entry& entry) {
  std::string_view rest = entry.rest;
  Element date;
  Element extensions;
  if (!NextElement(&rest, &date)) return {0, -1};
  int reason = -1;
  if (NextElement(&rest, &extensions)) {
    std::string_view value = ExtensionValue(extensions.content, kReasonCodeOid);
    Element code;
    if (NextElement(&value, &code) && code.tag == 0x0A && code.content.size() == 1) {
      reason = static_cast<unsigned char>(code.content[0]);
    }
  }
  return {TimeSeconds(date), reason};
}

}  // namespace

struct ParsedOcsp {
  OcspBasicPtr basic;
};

struct RevocationSet::Item {
  std::shared_ptr<const ParsedCrl> crl;
  std::shared_ptr<const ParsedOcsp> ocsp;
  std::string where;
};

namespace {

// Reads the CRL of bytes (DER, or PEM); null when it is not one.
std::shared_ptr<const ParsedCrl> ParseCrl(std::string bytes) {
  auto parsed = std::make_shared<ParsedCrl>();
  parsed->der = std::move(bytes);
  if (parsed->der.compare(0, 5, "-----") == 0) {
    BIO* bio = BIO_new_mem_buf(parsed->der.data(), static_cast<int>(parsed->der.size()));
    CrlPtr crl(bio != nullptr ? PEM_read_bio_X509_CRL(bio, nullptr, nullptr, nullptr) : nullptr);
    BIO_free(bio);
    unsigned char* der = nullptr;
    const int length = crl != nullptr ? i2d_X509_CRL(crl.get(), &der) : 0;
    parsed->der.assign(reinterpret_cast<char*>(der), length > 0 ? length : 0);
    OPENSSL_free(der);
    ERR_clear_error();
  }
  // CertificateList: tbsCertList, signatureAlgorithm, signatureValue.
  std::string_view rest(parsed->der);
  Element list, tbs, algorithm, signature;
  if (!NextElement(&rest, &list) || list.tag != 0x30) return nullptr;
  std::string_view fields = list.content;
  if (!NextElement(&fields, &tbs) || tbs.tag != 0x30 || !NextElement(&fields, &algorithm) ||
      !NextElement(&fields, &signature) || signature.tag != 0x03) {
    return nullptr;
  }
  parsed->tbs = tbs.whole;
  parsed->algorithm = algorithm.whole;
  parsed->signature = signature.content;
  // TBSCertList: version OPTIONAL, signature, issuer, thisUpdate,
  // nextUpdate OPTIONAL, revokedCertificates OPTIONAL, [0] crlExtensions.
  std::string_view body = tbs.content;
  Element field;
  if (!NextElement(&body, &field)) return nullptr;
  if (field.tag == 0x02 && !NextElement(&body, &field)) return nullptr;  // version
  Element issuer, this_update;
  if (!NextElement(&body, &issuer) || issuer.tag != 0x30 || !NextElement(&body, &this_update)) {
    return nullptr;
  }
  parsed->issuer = issuer.whole;
  parsed->this_update = TimeSeconds(this_update);
  while (NextElement(&body, &field)) {
    if (field.tag == 0x30) {  // revokedCertificates
      std::string_view entries = field.content;
      Element entry;
      while (NextElement(&entries, &entry)) {
        std::string_view parts = entry.content;
        Element serial;
        if (!NextElement(&parts, &serial) || serial.tag != 0x02) return nullptr;
      }
      parsed->revoked = field.content;
    } else if (field.tag == 0xA0) {  // crlExtensions
      std::string_view explicit_list = field.content;
      Element extensions;
      if (!NextElement(&explicit_list, &extensions)) return nullptr;
      const std::string_view idp = ExtensionValue(extensions.content, kIssuingDistributionPointOid);
      const auto* p = reinterpret_cast<const unsigned char*>(idp.data());
      ISSUING_DIST_POINT* point =
          idp.empty() ? nullptr
                      : d2i_ISSUING_DIST_POINT(nullptr, &p, static_cast<long>(idp.size()));
      parsed->indirect = point != nullptr && point->indirectCRL != 0;
      ISSUING_DIST_POINT_free(point);
      ERR_clear_error();
    }
  }
  return parsed;
}

std::shared_ptr<const ParsedOcsp> ParseOcsp(std::string_view der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size())));
  if (response == nullptr ||
      OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL) {
    ERR_clear_error();
    return nullptr;
  }
  auto parsed = std::make_shared<ParsedOcsp>();
  parsed->basic.reset(OCSP_response_get1_basic(response.get()));
  // The parsed response is shared by the threads through the process's cache.
  const STACK_OF(X509)* certs =
      parsed->basic != nullptr ? OCSP_resp_get0_certs(parsed->basic.get()) : nullptr;
  for (int i = 0; i < sk_X509_num(certs); ++i) tk::SettleCertificate(sk_X509_value(certs, i));
  ERR_clear_error();
  return parsed->basic != nullptr ? parsed : nullptr;
}

// An item as read: a CRL, an OCSP response, or neither.
struct ParsedItem {
  std::shared_ptr<const ParsedCrl> crl;
  std::shared_ptr<const ParsedOcsp> ocsp;
};

ParsedItem ParseItem(std::string_view bytes) {
  if (std::shared_ptr<const ParsedOcsp> ocsp = ParseOcsp(bytes)) return ParsedItem{nullptr, ocsp};
  return ParsedItem{ParseCrl(std::string(bytes)), nullptr};
}

// The item of these bytes, read once for the process (by their SHA-256): the
// same authorities' lists and responses recur from document to document,
// and decoding a response's certificates costs more than hashing it.
ParsedItem CachedItem(std::string_view bytes) {
  std::vector<unsigned char> digest;
  const ByteRanges whole{{0, static_cast<int64_t>(bytes.size())}};
  if (!DigestRanges(kSha256Oid, reinterpret_cast<const unsigned char*>(bytes.data()), whole,
                    &digest)) {
    return ParseItem(bytes);
  }
  const std::string key(digest.begin(), digest.end());
  static std::mutex mutex;
  static std::unordered_map<std::string, ParsedItem> cache;
  static size_t cached_bytes = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = cache.find(key);
    if (found != cache.end()) return found->second;
  }
  ParsedItem parsed = ParseItem(bytes);
  const std::lock_guard<std::mutex> lock(mutex);
  if (cache.size() >= kMaxCachedItems || cached_bytes + bytes.size() > kMaxCachedBytes) {
    cache.clear();
    cached_bytes = 0;
  }
  if (cache.emplace(key, parsed).second) cached_bytes += bytes.size();
  return parsed;
}

// The index of cert's single response in basic, or -1.
int FindSingleResponse(OCSP_BASICRESP* basic, X509* cert, X509* issuer) {
  for (const EVP_MD* md : {EVP_sha1(), EVP_sha256()}) {
    OcspCertIdPtr id(OCSP_cert_to_id(md, cert, issuer));
    const int index = id != nullptr ? OCSP_resp_find(basic, id.get(), -1) : -1;
    if (index >= 0) return index;
  }
  ERR_clear_error();
  return -1;
}

// Why basic may not speak for issuer's certificates, or nullptr when it may.
const char* OcspSignerProblem(OCSP_BASICRESP* basic, X509* issuer) {
  tk::BorrowedStackPtr extra(sk_X509_new_null());
  if (extra == nullptr || sk_X509_push(extra.get(), issuer) <= 0) return "out of memory";
  X509* signer = nullptr;
  if (OCSP_resp_get0_signer(basic, &signer, extra.get()) != 1 || signer == nullptr) {
    return "its signer's certificate is not in it";
  }
  EVP_PKEY* issuer_key = X509_get0_pubkey(issuer);
  const bool by_issuer = X509_cmp(signer, issuer) == 0;
  const bool delegated = !by_issuer && X509_check_issued(issuer, signer) == X509_V_OK &&
                         issuer_key != nullptr && X509_verify(signer, issuer_key) == 1 &&
                         (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
                         (X509_get_extended_key_usage(signer) & XKU_OCSP_SIGN) != 0;
  if (!by_issuer && !delegated) return "signed by a responder the issuer did not authorise";
  tk::BorrowedStackPtr signers(sk_X509_new_null());
  if (signers == nullptr || sk_X509_push(signers.get(), signer) <= 0) return "out of memory";
  tk::StorePtr empty(X509_STORE_new());
  if (empty == nullptr || OCSP_basic_verify(basic, signers.get(), empty.get(),
                                            OCSP_NOINTERN | OCSP_NOVERIFY | OCSP_NOCHECKS) != 1) {
    return "its signature does not verify";
  }
  return nullptr;
}

struct Evidence {
  int64_t issued = 0;
  bool revoked = false;
  int64_t revoked_at = 0;
  int reason = -1;
  const char* kind = "";
  const std::string* where = nullptr;
};

}  // namespace

RevocationSet::RevocationSet() = default;
RevocationSet::~RevocationSet() = default;

void RevocationSet::Add(std::string_view bytes, const char* where) {
  ParsedItem item = CachedItem(bytes);
  if (item.ocsp != nullptr) {
    ocsps_.push_back(Item{nullptr, std::move(item.ocsp), where});
  } else if (item.crl != nullptr) {
    crls_.push_back(Item{std::move(item.crl), nullptr, where});
  }
}

void RevocationSet::AddAll(const RevocationSet& other) {
  crls_.insert(crls_.end(), other.crls_.begin(), other.crls_.end());
  ocsps_.insert(ocsps_.end(), other.ocsps_.begin(), other.ocsps_.end());
}

CertificateStatus RevocationSet::StatusOf(X509* cert, X509* issuer, int64_t gen_time) const {
  CertificateStatus out;
  std::vector<Evidence> believed;
  const std::string serial = SerialKey(X509_get0_serialNumber(cert));
  const bool states_usage = (X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) != 0;
  for (const Item& item : crls_) {
    const ParsedCrl& crl = *item.crl;
    if (!crl.IssuedBy(issuer)) continue;  // about another issuer's certificates
    const char* why = nullptr;
    if (crl.indirect) {
      why = "an indirect CRL";
    } else if (states_usage && (X509_get_key_usage(issuer) & KU_CRL_SIGN) == 0) {
      why = "the issuer may not sign CRLs";
    } else if (!crl.VerifiedBy(issuer)) {
      why = "its signature does not verify with the issuer's key";
    }
    if (why != nullptr) {
      out.ignored.push_back(IgnoredRevocationItem{"crl", item.where, why});
      continue;
    }
    Evidence evidence{crl.this_update, false, 0, -1, "crl", &item.where};
    if (const ParsedCrl::Entry* entry = crl.Find(serial)) {
      evidence.revoked = true;
      std::tie(evidence.revoked_at, evidence.reason) = EntryDetails(*entry);
    }
    believed.push_back(evidence);
  }
  for (const Item& item : ocsps_) {
    OCSP_BASICRESP* basic = item.ocsp->basic.get();
    const int index = FindSingleResponse(basic, cert, issuer);
    if (index < 0) continue;  // about other certificates
    if (const char* why = OcspSignerProblem(basic, issuer)) {
      ERR_clear_error();
      out.ignored.push_back(IgnoredRevocationItem{"ocsp", item.where, why});
      continue;
    }
    int reason = -1;
    ASN1_GENERALIZEDTIME* revoked_at = nullptr;
    ASN1_GENERALIZEDTIME* this_update = nullptr;
    const int status = OCSP_single_get0_status(OCSP_resp_get0(basic, index), &reason, &revoked_at,
                                               &this_update, nullptr);
    if (status != V_OCSP_CERTSTATUS_GOOD && status != V_OCSP_CERTSTATUS_REVOKED) continue;
    Evidence evidence{Seconds(this_update),
                      status == V_OCSP_CERTSTATUS_REVOKED,
                      Seconds(revoked_at),
                      reason,
                      "ocsp",
                      &item.where};
    believed.push_back(evidence);
  }
  ERR_clear_error();
  const int64_t not_after = Seconds(X509_get0_notAfter(cert));
  const Evidence* decided = nullptr;
  for (const Evidence& e : believed) {
    if (e.revoked && (decided == nullptr || e.revoked_at < decided->revoked_at)) decided = &e;
  }
  if (decided != nullptr) {
    out.status = RevocationStatus::kRevoked;
    out.revoked_at = decided->revoked_at;
    out.reason = CrlReasonName(decided->reason);
  } else {
    for (const Evidence& e : believed) {
      const bool fresh = e.issued >= gen_time && e.issued <= not_after;
      if (fresh && (decided == nullptr || e.issued < decided->issued)) decided = &e;
    }
    if (decided != nullptr) {
      out.status = RevocationStatus::kGood;
    } else {
      for (const Evidence& e : believed) {
        if (decided == nullptr || e.issued > decided->issued) decided = &e;
      }
      out.status = decided != nullptr ? RevocationStatus::kStale : RevocationStatus::kUnknown;
      out.only_after_expiry = decided != nullptr && decided->issued > not_after;
    }
  }
  if (decided != nullptr) {
    out.decided_by = decided->kind;
    out.decided_where = *decided->where;
    out.decided_issued = decided->issued;
  }
  return out;
}

RevocationReport ChainRevocation(STACK_OF(X509) * chain, const RevocationSet& items,
                                 int64_t gen_time) {
  RevocationReport out;
  out.status = RevocationStatus::kGood;
  const auto rank = [](RevocationStatus s) {
    return s == RevocationStatus::kUnknown ? 2 : s == RevocationStatus::kStale ? 1 : 0;
  };
  bool decided = false;
  for (int i = 0; i + 1 < sk_X509_num(chain); ++i) {
    X509* cert = sk_X509_value(chain, i);
    CertificateStatus status = items.StatusOf(cert, sk_X509_value(chain, i + 1), gen_time);
    for (IgnoredRevocationItem& item : status.ignored) out.ignored.push_back(std::move(item));
    const bool worse = status.status == RevocationStatus::kRevoked
                           ? out.status != RevocationStatus::kRevoked
                           : out.status != RevocationStatus::kRevoked &&
                                 (!decided || rank(status.status) > rank(out.status));
    if (!worse) continue;
    decided = true;
    out.status = status.status;
    out.certificate = NameText(X509_get_subject_name(cert));
    out.time = status.status == RevocationStatus::kRevoked ? TimeText(status.revoked_at) : "";
    out.revoked_seconds = status.status == RevocationStatus::kRevoked ? status.revoked_at : 0;
    out.only_after_expiry = status.only_after_expiry;
    out.reason = status.reason;
    out.revoked_before_gen_time =
        status.status == RevocationStatus::kRevoked && status.revoked_at <= gen_time;
    out.decided_by = status.decided_by;
    out.decided_where = status.decided_where;
    out.decided_issued = status.decided_by.empty() ? "" : TimeText(status.decided_issued);
  }
  return out;
}

const char* CrlReasonName(int reason) noexcept {
  switch (reason) {
    case 0:
      return "unspecified";
    case 1:
      return "keyCompromise";
    case 2:
      return "cACompromise";
    case 3:
      return "affiliationChanged";
    case 4:
      return "superseded";
    case 5:
      return "cessationOfOperation";
    case 6:
      return "certificateHold";
    case 8:
      return "removeFromCRL";
    case 9:
      return "privilegeWithdrawn";
    case 10:
      return "aACompromise";
    default:
      return "";
  }
}

}  // namespace vrd::report
