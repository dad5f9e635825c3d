#include "report/Revocation.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "crypto/Holders.h"
#include "report/TokenReport.h"

namespace vrd::report {

using tk::CertPtr;
using tk::CrlPtr;
using tk::OcspBasicPtr;
using tk::OcspCertIdPtr;
using tk::OcspResponsePtr;

namespace {

constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";  // FIPS 180-4 SHA-256
// Parsed CRLs kept for the process at most; the cache starts afresh past it.
constexpr size_t kMaxCachedCrls = 256;

// An INTEGER's value as a comparable string (sign, then magnitude).
std::string SerialKey(const ASN1_INTEGER* serial) {
  const unsigned char* data = ASN1_STRING_get0_data(serial);
  std::string key(1, ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? '-' : '+');
  if (data != nullptr) key.append(reinterpret_cast<const char*>(data), ASN1_STRING_length(serial));
  return key;
}

int64_t Seconds(const ASN1_TIME* time) {
  if (time == nullptr) return 0;
  return SecondsSinceEpoch(time).value_or(0);
}

}  // namespace

struct ParsedCrl {
  CrlPtr crl;
  int64_t this_update = 0;
  bool indirect = false;
  struct Entry {
    std::string serial;
    int64_t time;
    int reason;
  };
  std::vector<Entry> entries;  // sorted by serial

  // Whether the signature verifies with key; remembered per key.
  bool VerifiedBy(EVP_PKEY* key) const {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return false;
    const std::string id(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [known, ok] : verdicts) {
      if (known == id) return ok;
    }
    const bool ok = X509_CRL_verify(crl.get(), key) == 1;
    ERR_clear_error();
    verdicts.emplace_back(id, ok);
    return ok;
  }

  mutable std::mutex mutex;
  mutable std::vector<std::pair<std::string, bool>> verdicts;
};

struct ParsedOcsp {
  OcspBasicPtr basic;
};

struct RevocationSet::Item {
  std::shared_ptr<const ParsedCrl> crl;
  std::shared_ptr<const ParsedOcsp> ocsp;
  std::string where;
};

namespace {

std::shared_ptr<const ParsedCrl> ParseCrl(const std::string& der) {
  auto parsed = std::make_shared<ParsedCrl>();
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  parsed->crl.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
  if (parsed->crl == nullptr) {
    BIO* bio = BIO_new_mem_buf(der.data(), static_cast<int>(der.size()));
    if (bio != nullptr) parsed->crl.reset(PEM_read_bio_X509_CRL(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
  }
  ERR_clear_error();
  if (parsed->crl == nullptr) return nullptr;
  X509_CRL* crl = parsed->crl.get();
  parsed->this_update = Seconds(X509_CRL_get0_lastUpdate(crl));
  auto* idp = static_cast<ISSUING_DIST_POINT*>(
      X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, nullptr, nullptr));
  parsed->indirect = idp != nullptr && idp->indirectCRL != 0;
  ISSUING_DIST_POINT_free(idp);
  STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
  parsed->entries.reserve(static_cast<size_t>(std::max(0, sk_X509_REVOKED_num(revoked))));
  for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i) {
    X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
    auto* reason = static_cast<ASN1_ENUMERATED*>(
        X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr));
    const int code = reason != nullptr ? static_cast<int>(ASN1_ENUMERATED_get(reason)) : -1;
    ASN1_ENUMERATED_free(reason);
    parsed->entries.push_back(ParsedCrl::Entry{SerialKey(X509_REVOKED_get0_serialNumber(entry)),
                                               Seconds(X509_REVOKED_get0_revocationDate(entry)),
                                               code});
  }
  std::sort(
      parsed->entries.begin(), parsed->entries.end(),
      [](const ParsedCrl::Entry& a, const ParsedCrl::Entry& b) { return a.serial < b.serial; });
  ERR_clear_error();
  return parsed;
}

// The CRL of these bytes, parsed once for the process.
std::shared_ptr<const ParsedCrl> CachedCrl(const std::string& bytes) {
  std::vector<unsigned char> digest;
  const ByteRanges whole{{0, static_cast<int64_t>(bytes.size())}};
  if (!DigestRanges(kSha256Oid, reinterpret_cast<const unsigned char*>(bytes.data()), whole,
                    &digest)) {
    return ParseCrl(bytes);
  }
  const std::string key(digest.begin(), digest.end());
  static std::mutex mutex;
  static std::unordered_map<std::string, std::shared_ptr<const ParsedCrl>> cache;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = cache.find(key);
    if (found != cache.end()) return found->second;
  }
  std::shared_ptr<const ParsedCrl> parsed = ParseCrl(bytes);
  if (parsed == nullptr) return nullptr;
  const std::lock_guard<std::mutex> lock(mutex);
  if (cache.size() >= kMaxCachedCrls) cache.clear();
  cache.emplace(key, parsed);
  return parsed;
}

std::shared_ptr<const ParsedOcsp> ParseOcsp(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size())));
  if (response == nullptr ||
      OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL) {
    ERR_clear_error();
    return nullptr;
  }
  auto parsed = std::make_shared<ParsedOcsp>();
  parsed->basic.reset(OCSP_response_get1_basic(response.get()));
  ERR_clear_error();
  return parsed->basic != nullptr ? parsed : nullptr;
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

void RevocationSet::Add(const std::string& bytes, const char* where) {
  if (std::shared_ptr<const ParsedOcsp> ocsp = ParseOcsp(bytes)) {
    ocsps_.push_back(Item{nullptr, std::move(ocsp), where});
  } else if (std::shared_ptr<const ParsedCrl> crl = CachedCrl(bytes)) {
    crls_.push_back(Item{std::move(crl), nullptr, where});
  }
}

void RevocationSet::AddAll(const RevocationSet& other) {
  crls_.insert(crls_.end(), other.crls_.begin(), other.crls_.end());
  ocsps_.insert(ocsps_.end(), other.ocsps_.begin(), other.ocsps_.end());
}

CertificateStatus RevocationSet::StatusOf(X509* cert, X509* issuer, int64_t gen_time) const {
  CertificateStatus out;
  std::vector<Evidence> believed;
  EVP_PKEY* issuer_key = X509_get0_pubkey(issuer);
  const std::string serial = SerialKey(X509_get0_serialNumber(cert));
  const bool states_usage = (X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) != 0;
  for (const Item& item : crls_) {
    const ParsedCrl& crl = *item.crl;
    if (X509_NAME_cmp(X509_CRL_get_issuer(crl.crl.get()), X509_get_subject_name(issuer)) != 0) {
      continue;  // about another issuer's certificates
    }
    const char* why = nullptr;
    if (crl.indirect) {
      why = "an indirect CRL";
    } else if (states_usage && (X509_get_key_usage(issuer) & KU_CRL_SIGN) == 0) {
      why = "the issuer may not sign CRLs";
    } else if (issuer_key == nullptr || !crl.VerifiedBy(issuer_key)) {
      why = "its signature does not verify with the issuer's key";
    }
    if (why != nullptr) {
      out.ignored.push_back(IgnoredRevocationItem{"crl", item.where, why});
      continue;
    }
    Evidence evidence{crl.this_update, false, 0, -1, "crl", &item.where};
    const auto entry = std::lower_bound(
        crl.entries.begin(), crl.entries.end(), serial,
        [](const ParsedCrl::Entry& e, const std::string& key) { return e.serial < key; });
    if (entry != crl.entries.end() && entry->serial == serial) {
      evidence.revoked = true;
      evidence.revoked_at = entry->time;
      evidence.reason = entry->reason;
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
