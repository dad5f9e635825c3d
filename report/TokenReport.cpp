#include "report/TokenReport.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "api/TrustAnchors.h"
#include "crypto/Base64.h"
#include "crypto/BoundedCache.h"
#include "crypto/CertificateCache.h"
#include "crypto/DerHeader.h"
#include "crypto/DigestAlgorithms.h"
#include "crypto/Runtime.h"
#include "crypto/SignedDataDer.h"
#include "crypto/TokenCheck.h"
#include "src/VORirori/ECSP.h"
#include "src/VORirori/VORiroriBase.h"

namespace vrd::report {
namespace {

using tk::BignumPtr;
using tk::BioPtr;
using tk::CertPtr;
using tk::CertStackPtr;
using tk::CmsPtr;
using tk::OpenSslTextPtr;
using tk::TstInfoPtr;

// Certificates and CMS objects are made in the toolkit's own library
// context, so the host's OpenSSL configuration changes no verdict.
CertPtr DecodeCertificate(const unsigned char** p, long length) {
  X509* cert = X509_new_ex(tk::LibraryContext(), nullptr);
  if (cert == nullptr) return nullptr;
  // On failure OpenSSL frees the object and sets the pointer to null.
  if (d2i_X509(&cert, p, length) == nullptr) {
    X509_free(cert);
    return nullptr;
  }
  return CertPtr(cert);
}

// Parsed certificates by their DER bytes, one cache per thread for the
// thread's life: the authorities' certificates recur from document to
// document, and in one document in its signatures, tokens and /DSS.
constexpr size_t kCachedCertificates = 1024;

class ThreadCertificates final : public tk::CertificateCache {
 public:
  CertPtr LookUp(std::string_view der) noexcept override {
    BoundedCache* cache = Cache();
    CertPtr* cached = cache != nullptr ? cache->Find(der) : nullptr;
    if (cached == nullptr || X509_up_ref(cached->get()) != 1) return nullptr;
    return CertPtr(cached->get());
  }
  void Keep(std::string_view der, X509* cert) noexcept override {
    BoundedCache* cache = Cache();
    if (cache == nullptr || cert == nullptr || X509_up_ref(cert) != 1) return;
    CertPtr reference(cert);
    try {
      cache->Insert(der, std::move(reference));
    } catch (...) {
      // Not kept; reference releases the extra count.
    }
  }

 private:
  using BoundedCache = tk::BoundedCache<CertPtr>;
  static BoundedCache* Cache() noexcept {
    try {
      thread_local BoundedCache cache(kCachedCertificates);
      return &cache;
    } catch (...) {
      return nullptr;
    }
  }
};

// The ContentInfo at bytes, its certificates each decoded once per thread
// (or, when not wanted, not at all where they can be left out) and its
// revocation lists, which the report never reads, not at all; false when
// bytes do not start with one.
bool DecodeCms(const unsigned char* bytes, size_t size, tk::DecodedSignedData* out,
               bool want_certificates = true) {
  ThreadCertificates cache;
  tk::DecodeOptions options;
  options.certificates_alone = true;
  options.without_revocation_info = true;
  options.without_certificates = !want_certificates;
  const bool decoded = tk::LibraryContext() != nullptr &&
                       tk::DecodeSignedData(tk::LibraryContext(), bytes, size, cache, out,
                                            options) == tk::DecodeStatus::kDecoded;
  ERR_clear_error();
  return decoded;
}

// The ECSP identifier of the engine's five algorithms, by their names in
// crypto/DigestAlgorithms.h; 0 for the others, which OpenSSL digests.
int EngineAlgorithm(const std::string& oid) {
  static constexpr struct {
    const char* name;
    int ecsp_id;
  } kEngine[] = {
      {"MD5", kEcspMd5},       {"SHA1", kEcspSha1},     {"SHA256", kEcspSha256},
      {"SHA512", kEcspSha512}, {"HAS160", kEcspHas160},
  };
  const tk::DigestAlgorithm* algorithm = tk::FindDigestByOid(oid);
  for (const auto& engine : kEngine) {
    if (algorithm != nullptr && std::strcmp(algorithm->name, engine.name) == 0) {
      return engine.ecsp_id;
    }
  }
  return 0;
}

// Largest piece handed to the engine at once (its lengths are int).
constexpr int64_t kEngineChunk = int64_t{1} << 28;

std::string OidText(const ASN1_OBJECT* obj) {
  char text[128];
  const int n = OBJ_obj2txt(text, sizeof text, obj, 1);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof text) return std::string();
  return std::string(text, static_cast<size_t>(n));
}

std::string SerialText(const ASN1_INTEGER* serial) {
  BignumPtr bn(ASN1_INTEGER_to_BN(serial, nullptr));
  if (bn == nullptr) return std::string();
  OpenSslTextPtr hex(BN_bn2hex(bn.get()));
  if (hex == nullptr) return std::string();
  std::string text(hex.get());
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// "YYYYMMDDhhmmss[.f]Z" as "YYYY-MM-DDThh:mm:ss[.f]Z"; other forms as given.
std::string GenTimeText(const ASN1_GENERALIZEDTIME* time) {
  const auto* s = reinterpret_cast<const char*>(ASN1_STRING_get0_data(time));
  const int n = ASN1_STRING_length(time);
  if (s == nullptr || n <= 0) return std::string();
  std::string raw(s, static_cast<size_t>(n));
  if (raw.size() < 15 || raw.back() != 'Z') return raw;
  return raw.substr(0, 4) + "-" + raw.substr(4, 2) + "-" + raw.substr(6, 2) + "T" +
         raw.substr(8, 2) + ":" + raw.substr(10, 2) + ":" + raw.substr(12);
}

// Reads a DER SEQUENCE OF Certificate.
CertStackPtr ParseCertificateSequence(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  long length = 0;
  int tag = 0;
  int xclass = 0;
  const int info = ASN1_get_object(&p, &length, &tag, &xclass, static_cast<long>(der.size()));
  if ((info & 0x80) != 0 || tag != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* end = p + length;
  CertStackPtr certs(sk_X509_new_null());
  while (certs != nullptr && p < end) {
    CertPtr cert = DecodeCertificate(&p, end - p);
    if (cert == nullptr || sk_X509_push(certs.get(), cert.get()) <= 0) return nullptr;
    cert.release();
  }
  return certs;
}

CertPtr ParseOneCertificate(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  CertPtr cert = DecodeCertificate(&p, static_cast<long>(der.size()));
  if (cert == nullptr || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
    return nullptr;
  }
  return cert;
}

// The same through the thread's cache, for certificates documents carry.
CertPtr ParseCarriedCertificate(const std::string& der) {
  ThreadCertificates cache;
  if (CertPtr cached = cache.LookUp(der)) return cached;
  CertPtr cert = ParseOneCertificate(der);
  if (cert != nullptr) cache.Keep(der, cert.get());
  return cert;
}

// A built-in anchor text decoded by the toolkit's strict Base64 decoder.
bool DecodeAnchor(const char* base64, std::string* der) {
  const size_t length = std::strlen(base64);
  der->resize(tk::Base64DecodedBound(length));
  size_t decoded = 0;
  if (!tk::DecodeBase64Strict(reinterpret_cast<const unsigned char*>(base64), length,
                              reinterpret_cast<unsigned char*>(der->data()), &decoded)) {
    return false;
  }
  der->resize(decoded);
  return decoded > 0;
}

// Deepest nesting IsDerShaped follows; a token nests about a dozen levels.
constexpr int kMaxAsn1Depth = 64;

// True when every length in the TLVs filling bytes is definite and minimal
// and no string is cut into constructed pieces (X.690 section 10). Encodings
// OpenSSL accepted are well formed; this only tells their form.
bool IsDerShaped(const unsigned char* bytes, size_t size, int depth) {
  if (depth > kMaxAsn1Depth) return false;
  size_t pos = 0;
  while (pos < size) {
    tk::DerHeader header;
    if (!tk::ReadDerHeader(bytes + pos, size - pos, &header) || !header.minimal_length) {
      return false;
    }
    pos += header.header_length;
    const unsigned char tag = header.tag;
    const bool constructed = (tag & 0x20) != 0;
    const unsigned char number = tag & 0x1F;
    const bool universal = (tag & 0xC0) == 0;
    if (constructed && universal &&
        (number == V_ASN1_OCTET_STRING || number == V_ASN1_BIT_STRING)) {
      return false;
    }
    if (constructed && !IsDerShaped(bytes + pos, header.content_length, depth + 1)) return false;
    pos += header.content_length;
  }
  return true;
}

// Adds cert to a store the worker threads share, settled first.
bool AddShared(X509_STORE* store, X509* cert) {
  tk::SettleCertificate(cert);
  return X509_STORE_add_cert(store, cert) == 1;
}

// The system roots at path: a directory through OpenSSL's hash-directory
// lookup (read by subject when a chain needs them), a regular file loaded
// whole as a bundle; false for anything else.
bool LoadSystemRoots(const std::string& path, X509_STORE* store) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) return false;
  if (std::filesystem::is_directory(status)) return X509_STORE_load_path(store, path.c_str()) == 1;
  if (std::filesystem::is_regular_file(status)) {
    return X509_STORE_load_file_ex(store, path.c_str(), tk::LibraryContext(), nullptr) == 1;
  }
  return false;
}

}  // namespace

std::string AlgorithmName(const std::string& algorithm_oid, bool* weak) {
  const tk::DigestAlgorithm* algorithm = tk::FindDigestByOid(algorithm_oid);
  *weak = algorithm != nullptr && algorithm->weak;
  return algorithm != nullptr ? algorithm->name : algorithm_oid;
}

std::string NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (bio == nullptr) return std::string();
  if (X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return std::string();
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

std::optional<int64_t> SecondsSinceEpoch(const ASN1_TIME* time) {
  tk::TimePtr epoch(ASN1_TIME_set(nullptr, 0));
  int days = 0;
  int seconds = 0;
  if (epoch == nullptr || ASN1_TIME_diff(&days, &seconds, epoch.get(), time) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  return int64_t{days} * 86400 + seconds;
}

std::string TimeText(int64_t seconds) {
  tk::TimePtr time(ASN1_TIME_set(nullptr, static_cast<time_t>(seconds)));
  struct tm parts {};
  if (time == nullptr || ASN1_TIME_to_tm(time.get(), &parts) != 1) return std::string();
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

bool TrustSources::Load(const TrustSettings& settings, std::string* error) {
  sources_.clear();
  Source built_in{TrustSource::kBuiltIn, StoreHolder(X509_STORE_new())};
  if (built_in.store == nullptr) return *error = "out of memory", false;
  for (size_t i = 0; i < kTrustedRootCount; ++i) {
    std::string der;
    CertPtr cert;
    if (!DecodeAnchor(kTrustedRoots[i].base64, &der) ||
        (cert = ParseOneCertificate(der)) == nullptr ||
        !AddShared(built_in.store.get(), cert.get())) {
      ERR_clear_error();
      *error = std::string("cannot install the built-in anchor ") + kTrustedRoots[i].name;
      return false;
    }
  }
  std::string ca_der;
  if (!DecodeAnchor(kCaPubs.base64, &ca_der) ||
      (ca_pubs_ = ParseCertificateSequence(ca_der)) == nullptr) {
    ERR_clear_error();
    *error = "cannot read the built-in CA set";
    return false;
  }
  // The stores and the CA set are shared by the worker threads.
  for (int i = 0; i < sk_X509_num(ca_pubs_.get()); ++i) {
    tk::SettleCertificate(sk_X509_value(ca_pubs_.get(), i));
  }
  sources_.push_back(std::move(built_in));
  for (const std::string& item : settings.revocation_items) revocation_.Add(item, "--revocation");

  if (!settings.extra_roots.empty()) {
    Source anchors{TrustSource::kTrustAnchor, StoreHolder(X509_STORE_new())};
    if (anchors.store == nullptr) return *error = "out of memory", false;
    for (const std::string& der : settings.extra_roots) {
      CertPtr cert = ParseOneCertificate(der);
      if (cert == nullptr || !AddShared(anchors.store.get(), cert.get())) {
        ERR_clear_error();
        *error = "a --trust-anchor certificate cannot be read";
        return false;
      }
    }
    sources_.push_back(std::move(anchors));
  }
  if (settings.system_roots) {
    Source system{TrustSource::kSystem, StoreHolder(X509_STORE_new())};
    if (system.store == nullptr || !LoadSystemRoots(settings.system_bundle, system.store.get())) {
      ERR_clear_error();
      *error = "cannot read the system root certificates " + settings.system_bundle;
      return false;
    }
    sources_.push_back(std::move(system));
  }
  ERR_clear_error();
  return true;
}

void DocumentCertificates::Add(const std::vector<std::string>& ders) {
  if (certs_ == nullptr) certs_.reset(sk_X509_new_null());
  for (const std::string& der : ders) {
    CertPtr cert = ParseCarriedCertificate(der);
    if (cert != nullptr && certs_ != nullptr && sk_X509_push(certs_.get(), cert.get()) > 0) {
      cert.release();
    }
  }
  ERR_clear_error();
}

namespace {

// The token inside a TimeStampResp (RFC 3161 section 2.4.2), which some
// producers store whole; null when bytes are not one.
bool TokenOfResponse(const unsigned char* bytes, size_t size, tk::DecodedSignedData* out) {
  const unsigned char* p = bytes;
  tk::TsRespPtr response(d2i_TS_RESP(nullptr, &p, static_cast<long>(size)));
  if (response == nullptr || TS_RESP_get_token(response.get()) == nullptr) return false;
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(TS_RESP_get_token(response.get()), &der);
  if (length <= 0) return false;
  const bool decoded = DecodeCms(der, static_cast<size_t>(length), out);
  OPENSSL_free(der);
  out->consumed = static_cast<size_t>(p - bytes);
  return decoded;
}

// RFC 5940 id-ri-ocsp-response (1.3.6.1.5.5.7.16.2), as DER.
constexpr unsigned char kOcspResponseFormat[] = {0x06, 0x08, 0x2B, 0x06, 0x01,
                                                 0x05, 0x05, 0x07, 0x10, 0x02};

// The CRLs and OCSP responses of the token's crls field.
void AddTokenRevocation(const unsigned char* bytes, size_t size, CMS_ContentInfo* cms,
                        RevocationSet* items) {
  tk::SplitSignedData split;
  if (!tk::SplitCertificates(bytes, size, &split)) {
    tk::CrlStackPtr crls(CMS_get1_crls(cms));
    for (int i = 0; crls != nullptr && i < sk_X509_CRL_num(crls.get()); ++i) {
      unsigned char* der = nullptr;
      const int length = i2d_X509_CRL(sk_X509_CRL_value(crls.get(), i), &der);
      if (length > 0) items->Add(std::string(reinterpret_cast<char*>(der), length), "token");
      OPENSSL_free(der);
    }
    ERR_clear_error();
    return;
  }
  for (const std::string_view choice : split.revocation_info) {
    const auto* p = reinterpret_cast<const unsigned char*>(choice.data());
    tk::DerHeader outer;
    tk::DerHeader format;
    if (p[0] == 0x30) {
      items->Add(std::string(choice), "token");
    } else if (p[0] == 0xA1 && tk::ReadDerHeader(p, choice.size(), &outer) &&
               choice.size() - outer.header_length > sizeof kOcspResponseFormat &&
               std::memcmp(p + outer.header_length, kOcspResponseFormat,
                           sizeof kOcspResponseFormat) == 0) {
      const size_t at = outer.header_length + sizeof kOcspResponseFormat;
      if (tk::ReadDerHeader(p + at, choice.size() - at, &format)) {
        items->Add(std::string(choice.substr(at, format.header_length + format.content_length)),
                   "token");
      }
    }
  }
}

}  // namespace

bool CheckToken(const unsigned char* bytes, size_t size, const TrustSources& trust,
                TimeStampReport* ts, ImprintRequest* request, const DocumentCertificates* carried) {
  STACK_OF(X509)* document_certs = carried != nullptr ? carried->get() : nullptr;
  tk::DecodedSignedData decoded;
  if (!DecodeCms(bytes, size, &decoded)) {
    ERR_clear_error();
    (void)TokenOfResponse(bytes, size, &decoded);
  }
  const CmsPtr& cms = decoded.cms;
  const size_t consumed = decoded.consumed;
  if (cms == nullptr || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    ERR_clear_error();
    ts->problem = "the token is not CMS signed data";
    return false;
  }
  ts->encoding = IsDerShaped(bytes, consumed, 0) ? "DER" : "BER";
  ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
  if (OBJ_obj2nid(CMS_get0_eContentType(cms.get())) != NID_id_smime_ct_TSTInfo ||
      content == nullptr || *content == nullptr) {
    ERR_clear_error();
    ts->problem = "the signed data does not hold a TSTInfo";
    return false;
  }
  const unsigned char* info_bytes = ASN1_STRING_get0_data(*content);
  TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &info_bytes, ASN1_STRING_length(*content)));
  if (info == nullptr) {
    ERR_clear_error();
    ts->problem = "the TSTInfo cannot be read";
    return false;
  }
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const ASN1_OBJECT* imprint_obj = nullptr;
  X509_ALGOR_get0(&imprint_obj, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
  const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
  request->algorithm_oid = OidText(imprint_obj);
  request->expected.assign(ASN1_STRING_get0_data(hashed),
                           ASN1_STRING_get0_data(hashed) + ASN1_STRING_length(hashed));
  ts->imprint_algorithm = AlgorithmName(request->algorithm_oid, &ts->weak_algorithm);
  ts->imprint_hex = HexLower(request->expected.data(), request->expected.size());
  const ASN1_GENERALIZEDTIME* gen_time = TS_TST_INFO_get_time(info.get());
  ts->gen_time = GenTimeText(gen_time);
  const std::optional<int64_t> gen_seconds = SecondsSinceEpoch(gen_time);
  ts->serial = SerialText(TS_TST_INFO_get_serial(info.get()));
  ts->policy = OidText(TS_TST_INFO_get_policy_id(info.get()));

  CertStackPtr certs = std::move(decoded.certs);
  if (certs == nullptr) certs.reset(sk_X509_new_null());
  ERR_clear_error();
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  if (certs == nullptr || sk_CMS_SignerInfo_num(signers) != 1) {
    ts->signature = Verdict::kFail;
    ts->problem = "the token does not have exactly one signer";
    return true;
  }
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, 0);
  X509* signer = tk::FindSignerCert(si, certs.get());
  if (signer == nullptr) {
    // A token without its certificate: the document may carry it.
    X509* in_document = tk::FindSignerCert(si, document_certs);
    if (in_document != nullptr && X509_up_ref(in_document) == 1) {
      if (sk_X509_push(certs.get(), in_document) > 0) {
        signer = in_document;
      } else {
        X509_free(in_document);
      }
    }
  }
  if (signer == nullptr) {
    ts->signature = Verdict::kFail;
    ts->problem = "the authority's certificate is not in the token";
    return true;
  }
  ts->tsa_subject = NameText(X509_get_subject_name(signer));

  const tk::CheckResult signature = tk::CheckSignerSignature(si, signer, *content, true);
  ts->signature = signature.ok() ? Verdict::kPass : Verdict::kFail;
  const tk::CheckResult ess = tk::CheckSigningCertificate(si, signer, certs.get());
  ts->signing_certificate = ess.ok() ? Verdict::kPass : Verdict::kFail;
  ts->time_stamping_usage = tk::HasTimeStampingUsage(signer) ? Verdict::kPass : Verdict::kFail;

  // Chain: each trust source in turn, now, then at genTime when only
  // expiry stands in the way (a chain that was whole when the token was made).
  tk::BorrowedStackPtr untrusted(sk_X509_new_null());
  if (untrusted == nullptr) return ts->problem = "out of memory", true;
  const STACK_OF(X509) * pools[3] = {certs.get(), trust.ca_pubs(), document_certs};
  for (const STACK_OF(X509) * pool : pools) {
    for (int i = 0; pool != nullptr && i < sk_X509_num(pool); ++i) {
      sk_X509_push(untrusted.get(), sk_X509_value(pool, i));
    }
  }
  int chain_error = X509_V_ERR_UNSPECIFIED;
  ts->chain = Verdict::kFail;
  STACK_OF(X509)* raw_chain = nullptr;
  for (const TrustSources::Source& source : trust.sources()) {
    int depth = 0;
    int result = tk::ValidatePath(signer, source.store.get(), untrusted.get(), std::nullopt, &depth,
                                  &raw_chain);
    bool expired_since = false;
    if (result == X509_V_ERR_CERT_HAS_EXPIRED && gen_seconds.has_value()) {
      result = tk::ValidatePath(signer, source.store.get(), untrusted.get(), gen_seconds, &depth,
                                &raw_chain);
      expired_since = result == X509_V_OK;
    }
    if (result == X509_V_OK) {
      ts->chain = Verdict::kPass;
      ts->trusted_by = source.name;
      ts->expired_since = expired_since;
      break;
    }
    // The most telling failure: one past "no trusted root" wins.
    if (chain_error == X509_V_ERR_UNSPECIFIED ||
        chain_error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) {
      chain_error = result;
    }
  }
  const CertStackPtr chain(raw_chain);
  if (ts->chain == Verdict::kPass && ts->time_stamping_usage != Verdict::kPass) {
    ts->chain = Verdict::kFail;
    ts->trusted_by = TrustSource::kNone;
    ts->expired_since = false;
  }
  ts->gen_seconds = gen_seconds.value_or(0);
  ts->tsa_not_after = SecondsSinceEpoch(X509_get0_notAfter(signer)).value_or(0);
  if (EVP_PKEY* key = X509_get0_pubkey(signer)) {
    ts->tsa_key_rsa = EVP_PKEY_is_a(key, "RSA") == 1;
    ts->tsa_key_bits = EVP_PKEY_get_bits(key);
  }
  if (carried != nullptr && ts->chain == Verdict::kPass && chain != nullptr &&
      gen_seconds.has_value()) {
    RevocationSet items;
    items.AddAll(carried->revocation());
    items.AddAll(trust.revocation());
    AddTokenRevocation(bytes, consumed, cms.get(), &items);
    ts->revocation = ChainRevocation(chain.get(), items, *gen_seconds);
  }
  if (!signature.ok()) {
    ts->problem = signature.what;
  } else if (!ess.ok()) {
    ts->problem = ess.what;
  } else if (ts->time_stamping_usage != Verdict::kPass) {
    ts->problem = "the authority's certificate lacks the timeStamping key usage";
  } else if (ts->chain != Verdict::kPass) {
    ts->problem = std::string("chain: ") + X509_verify_cert_error_string(chain_error);
  }
  ERR_clear_error();
  return true;
}

namespace {

// adbe-revocationInfoArchival (1.2.840.113583.1.1.8), as DER.
constexpr unsigned char kRevocationArchivalOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                    0xF7, 0x2F, 0x01, 0x01, 0x08};

// The CRLs ([0]) and OCSP responses ([1]) of a RevocationInfoArchival.
void AddArchivedItems(const unsigned char* p, size_t size, std::vector<std::string>* out) {
  tk::DerHeader outer;
  if (!tk::ReadDerHeader(p, size, &outer) || p[0] != 0x30) return;
  const unsigned char* end = p + outer.header_length + outer.content_length;
  for (const unsigned char* field = p + outer.header_length; field < end;) {
    tk::DerHeader tagged;
    tk::DerHeader list;
    if (!tk::ReadDerHeader(field, static_cast<size_t>(end - field), &tagged)) return;
    const unsigned char* next = field + tagged.header_length + tagged.content_length;
    const unsigned char* inner = field + tagged.header_length;
    if ((field[0] == 0xA0 || field[0] == 0xA1) &&
        tk::ReadDerHeader(inner, tagged.content_length, &list) && inner[0] == 0x30) {
      const unsigned char* list_end = inner + list.header_length + list.content_length;
      for (const unsigned char* item = inner + list.header_length; item < list_end;) {
        tk::DerHeader one;
        if (!tk::ReadDerHeader(item, static_cast<size_t>(list_end - item), &one)) break;
        const size_t length = one.header_length + one.content_length;
        out->emplace_back(reinterpret_cast<const char*>(item), length);
        item += length;
      }
    }
    field = next;
  }
}

}  // namespace

std::vector<SignatureStamp> FindSignatureTimeStamps(const unsigned char* bytes, size_t size,
                                                    std::vector<std::string>* archived) {
  std::vector<SignatureStamp> stamps;
  tk::DecodedSignedData decoded;
  (void)DecodeCms(bytes, size, &decoded, false);  // the signer infos only
  const CmsPtr& cms = decoded.cms;
  if (cms == nullptr || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    ERR_clear_error();
    return stamps;
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  for (int s = 0; s < sk_CMS_SignerInfo_num(signers) && stamps.size() < kMaxTimeStamps; ++s) {
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, s);
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(si);
    if (value == nullptr) continue;
    const std::string signature_value(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                      static_cast<size_t>(ASN1_STRING_length(value)));
    for (int a = 0; archived != nullptr && a < CMS_signed_get_attr_count(si); ++a) {
      X509_ATTRIBUTE* attribute = CMS_signed_get_attr(si, a);
      unsigned char* oid = nullptr;
      const int oid_length = i2d_ASN1_OBJECT(X509_ATTRIBUTE_get0_object(attribute), &oid);
      const bool archival =
          oid_length == static_cast<int>(sizeof kRevocationArchivalOid) &&
          std::memcmp(oid, kRevocationArchivalOid, sizeof kRevocationArchivalOid) == 0;
      OPENSSL_free(oid);
      const ASN1_TYPE* type = archival ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
      if (type != nullptr && type->type == V_ASN1_SEQUENCE) {
        unsigned char* der = nullptr;
        const int length = i2d_ASN1_TYPE(type, &der);
        if (length > 0) AddArchivedItems(der, static_cast<size_t>(length), archived);
        OPENSSL_free(der);
      }
    }
    int index = -1;
    while ((index = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, index)) >= 0) {
      X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(si, index);
      for (int v = 0; v < X509_ATTRIBUTE_count(attribute) && stamps.size() < kMaxTimeStamps; ++v) {
        const ASN1_TYPE* type = X509_ATTRIBUTE_get0_type(attribute, v);
        if (type == nullptr || type->type != V_ASN1_SEQUENCE) continue;
        const ASN1_STRING* encoding = type->value.sequence;
        stamps.push_back(SignatureStamp{
            std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(encoding)),
                        static_cast<size_t>(ASN1_STRING_length(encoding))),
            signature_value});
      }
    }
  }
  ERR_clear_error();
  return stamps;
}

namespace {

// The ranges as the engine's parts, each read piece of at most kEngineChunk
// bytes (the engine takes up to INT32_MAX at a time).
class RangeParts final : public EcspPartSource {
 public:
  RangeParts(RangeReader& reader, const ByteRanges& ranges) : reader_(reader), ranges_(ranges) {}
  Part Next(ByteSpan& bytes) noexcept override {
    while (range_ < ranges_.size() && done_ >= ranges_[range_].second) {
      ++range_;
      done_ = 0;
    }
    if (range_ == ranges_.size()) return Part::kEnd;
    const auto& [offset, length] = ranges_[range_];
    const auto wanted = static_cast<size_t>(std::min(kEngineChunk, length - done_));
    if (!reader_.Next(offset + done_, wanted, &bytes) || bytes.length == 0 ||
        bytes.length > wanted) {
      return Part::kUnavailable;
    }
    done_ += static_cast<int64_t>(bytes.length);
    return Part::kBytes;
  }

 private:
  RangeReader& reader_;
  const ByteRanges& ranges_;
  size_t range_ = 0;
  int64_t done_ = 0;
};

class MemoryRanges final : public RangeReader {
 public:
  explicit MemoryRanges(const unsigned char* data) : data_(data) {}
  bool Next(int64_t offset, size_t wanted, ByteSpan* bytes) override {
    *bytes = ByteSpan{data_ + offset, wanted};
    return true;
  }

 private:
  const unsigned char* data_;
};

}  // namespace

bool DigestRanges(const std::string& algorithm_oid, RangeReader& reader, const ByteRanges& ranges,
                  std::vector<unsigned char>* digest) {
  if (const int ecsp_id = EngineAlgorithm(algorithm_oid); ecsp_id != 0) {
    RangeParts parts(reader, ranges);
    unsigned char out[64];
    int out_length = sizeof out;
    if (ECSP_DigestParts(ecsp_id, out, &out_length, parts) != 0) return false;
    digest->assign(out, out + out_length);
    return true;
  }
  tk::ObjectPtr obj(OBJ_txt2obj(algorithm_oid.c_str(), 1));
  const int nid = obj != nullptr ? OBJ_obj2nid(obj.get()) : NID_undef;
  tk::DigestPtr md(nid != NID_undef ? EVP_MD_fetch(tk::LibraryContext(), OBJ_nid2sn(nid), nullptr)
                                    : nullptr);
  tk::DigestCtxPtr ctx(EVP_MD_CTX_new());
  bool ok = md != nullptr && ctx != nullptr && EVP_DigestInit_ex(ctx.get(), md.get(), nullptr);
  RangeParts parts(reader, ranges);
  for (;;) {
    if (!ok) break;
    ByteSpan bytes;
    const EcspPartSource::Part next = parts.Next(bytes);
    if (next == EcspPartSource::Part::kEnd) break;
    ok = next == EcspPartSource::Part::kBytes &&
         EVP_DigestUpdate(ctx.get(), bytes.data, bytes.length) == 1;
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int out_length = 0;
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out, &out_length) == 1;
  ERR_clear_error();
  if (ok) digest->assign(out, out + out_length);
  return ok;
}

bool DigestRanges(const std::string& algorithm_oid, const unsigned char* data,
                  const ByteRanges& ranges, std::vector<unsigned char>* digest) {
  MemoryRanges reader(data);
  return DigestRanges(algorithm_oid, reader, ranges, digest);
}

}  // namespace vrd::report
