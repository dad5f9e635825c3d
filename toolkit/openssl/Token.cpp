// CMS signed-data verification (RFC 5652) and RFC 3161 token information.
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "crypto/CertificateCache.h"
#include "crypto/DigestAlgorithms.h"
#include "crypto/Runtime.h"
#include "crypto/TokenCheck.h"
#include "toolkit/openssl/Caches.h"
#include "toolkit/openssl/Context.h"
#include "toolkit/qvtk.h"
#include "util/Hex.h"

namespace vrd::tk {
namespace {

// A parsed SignedData with its embedded content and certificates. cms is
// owned, or borrowed from the context's verified token.
struct SignedData {
  CmsPtr owned;
  CMS_ContentInfo* cms = nullptr;
  const ASN1_OCTET_STRING* content = nullptr;
  CertStackPtr certs;  // every certificate of the SignedData, in order
  bool is_tst_info = false;
};

bool IsVerifiedToken(const Context& ctx, const QVTK_BINSTR* in) noexcept {
  return ctx.verified_token != nullptr &&
         ctx.verified_token_der.size() == static_cast<size_t>(in->length) &&
         std::memcmp(ctx.verified_token_der.data(), in->data, ctx.verified_token_der.size()) == 0;
}

// The calling thread's certificate cache (Caches.h) for DecodeSignedData.
class ThreadCertificates final : public CertificateCache {
 public:
  CertPtr LookUp(std::string_view der) noexcept override { return LookUpCertificate(der); }
  void Keep(std::string_view der, X509* cert) noexcept override { KeepCertificate(der, cert); }
};

// reuse_verified: the context's verified token may stand for a parse of the
// same bytes.
int ParseSignedData(Context* ctx, const QVTK_BINSTR* in, bool reuse_verified,
                    SignedData* out) noexcept {
  if (!IsWellFormed(in) || in->length == 0) {
    return Fail(ctx, QVTK_ERR_CMS_PARSE, "CMS: empty or malformed input");
  }
  if (reuse_verified && IsVerifiedToken(*ctx, in)) {
    out->cms = ctx->verified_token.get();
    out->certs.reset(X509_chain_up_ref(ctx->verified_token_certs.get()));
    if (out->certs == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "CMS: out of memory");
  } else {
    // With every certificate of the token in the cache, only the rest is
    // decoded; otherwise the whole token, and its certificates are cached.
    OSSL_LIB_CTX* library = LibraryContext();
    if (library == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "CMS: out of memory");
    ThreadCertificates cache;
    DecodedSignedData decoded;
    switch (DecodeSignedData(library, in->data, static_cast<size_t>(in->length), cache, &decoded)) {
      case DecodeStatus::kNoMemory:
        return Fail(ctx, QVTK_ERR_NO_MEMORY, "CMS: out of memory");
      case DecodeStatus::kNotContentInfo:
        return Fail(ctx, QVTK_ERR_CMS_PARSE, "CMS: not a ContentInfo");
      case DecodeStatus::kDecoded:
        break;
    }
    out->owned = std::move(decoded.cms);
    out->cms = out->owned.get();
    out->certs = std::move(decoded.certs);
  }
  if (OBJ_obj2nid(CMS_get0_type(out->cms)) != NID_pkcs7_signed) {
    return Fail(ctx, QVTK_ERR_CMS_PARSE, "CMS: not signed data");
  }
  ASN1_OCTET_STRING** content = CMS_get0_content(out->cms);
  if (content == nullptr || *content == nullptr) {
    return Fail(ctx, QVTK_ERR_CMS_PARSE, "CMS: no encapsulated content");
  }
  out->content = *content;
  if (out->certs == nullptr) {
    // No certificates at all: an empty set keeps the callers simple.
    ERR_clear_error();
    out->certs = NewCertStack();
    if (out->certs == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "CMS: out of memory");
  }
  out->is_tst_info = OBJ_obj2nid(CMS_get0_eContentType(out->cms)) == NID_id_smime_ct_TSTInfo;
  return QVTK_OK;
}

// The SignerInfo's signature and content digest, and for a token the ESS
// binding of its signer (crypto/TokenCheck.h).
int VerifySigner(Context* ctx, const SignedData& sd, CMS_SignerInfo* si) noexcept {
  X509* signer = FindSignerCert(si, sd.certs.get());
  CheckResult result = CheckSignerSignature(si, signer, sd.content, false);
  if (result.ok() && sd.is_tst_info) result = CheckSigningCertificate(si, signer, sd.certs.get());
  return result.ok() ? QVTK_OK : Fail(ctx, result.code, result.what);
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) noexcept {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsDigit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }

// RFC 3161 section 2.4.2: genTime is GeneralizedTime "YYYYMMDDhhmmss[.s+]Z".
// Writes "YYYY-MM-DDThh:mm:ss[.s+]Z" (RFC 3339) and the whole seconds since
// 1970; false when the text is not of that form or not a valid time.
bool ConvertGenTime(const ASN1_GENERALIZEDTIME* t, char* out, size_t out_size, size_t* length,
                    int64_t* seconds) noexcept {
  const unsigned char* s = ASN1_STRING_get0_data(t);
  const int n = ASN1_STRING_length(t);
  if (s == nullptr || n < 15 || s[n - 1] != 'Z') return false;
  for (int i = 0; i < 14; ++i) {
    if (!IsDigit(s[i])) return false;
  }
  int fraction = n - 15;  // characters between the seconds and the "Z", "." included
  if (fraction == 1) return false;
  if (fraction > 1) {
    if (s[14] != '.') return false;
    for (int i = 15; i < n - 1; ++i) {
      if (!IsDigit(s[i])) return false;
    }
  }
  struct tm tm;
  if (ASN1_TIME_to_tm(t, &tm) != 1) return false;
  const size_t needed = 20 + static_cast<size_t>(fraction);
  if (needed + 1 > out_size) return false;
  const char* d = reinterpret_cast<const char*>(s);
  std::memcpy(out, d, 4);
  out[4] = '-';
  std::memcpy(out + 5, d + 4, 2);
  out[7] = '-';
  std::memcpy(out + 8, d + 6, 2);
  out[10] = 'T';
  std::memcpy(out + 11, d + 8, 2);
  out[13] = ':';
  std::memcpy(out + 14, d + 10, 2);
  out[16] = ':';
  std::memcpy(out + 17, d + 12, 2);
  if (fraction > 0) std::memcpy(out + 19, d + 14, static_cast<size_t>(fraction));
  out[19 + fraction] = 'Z';
  out[20 + fraction] = '\0';
  *length = needed;
  *seconds = DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 +
             tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  return true;
}

int WriteOid(Context* ctx, const ASN1_OBJECT* obj, int32_t capacity, char* buffer) noexcept {
  const int n = OBJ_obj2txt(nullptr, 0, obj, 1);
  if (n <= 0) return Fail(ctx, QVTK_ERR_TSP_NOT_TSTINFO, "TSTInfo: unreadable object identifier");
  if (n >= capacity) return Fail(ctx, QVTK_ERR_TEXT_TOO_LONG, "TSTInfo: OID text too long");
  OBJ_obj2txt(buffer, capacity, obj, 1);
  return QVTK_OK;
}

int WriteAlgorithmName(Context* ctx, const X509_ALGOR* algo, int32_t capacity,
                       char* buffer) noexcept {
  const ASN1_OBJECT* obj = nullptr;
  X509_ALGOR_get0(&obj, nullptr, nullptr, algo);
  // The usual digests by name, any other by its OID.
  const DigestAlgorithm* algorithm = FindDigestByNid(OBJ_obj2nid(obj));
  if (algorithm == nullptr || !algorithm->usual) return WriteOid(ctx, obj, capacity, buffer);
  const char* name = algorithm->name;
  const int status = WriteText(name, std::strlen(name), capacity, buffer);
  return status == QVTK_OK ? status : Fail(ctx, status, "TSTInfo: algorithm name too long");
}

int WriteHex(Context* ctx, const unsigned char* bytes, size_t n, int32_t capacity,
             char* buffer) noexcept {
  if (capacity < 1 || n > (static_cast<size_t>(capacity) - 1) / 2) {
    return Fail(ctx, QVTK_ERR_TEXT_TOO_LONG, "TSTInfo: imprint text too long");
  }
  HexLower(bytes, n, buffer);
  buffer[2 * n] = '\0';
  return QVTK_OK;
}

int WriteSerial(Context* ctx, const ASN1_INTEGER* serial, int32_t capacity, char* buffer) noexcept {
  BignumPtr bn(ASN1_INTEGER_to_BN(serial, nullptr));
  if (bn == nullptr) return Fail(ctx, QVTK_ERR_TSP_NOT_TSTINFO, "TSTInfo: unreadable serial");
  OpenSslTextPtr hex(BN_bn2hex(bn.get()));
  if (hex == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "TSTInfo: out of memory");
  const size_t n = std::strlen(hex.get());
  for (size_t i = 0; i < n; ++i) {
    char& c = hex.get()[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  const int status = WriteText(hex.get(), n, capacity, buffer);
  return status == QVTK_OK ? status : Fail(ctx, status, "TSTInfo: serial text too long");
}

int WriteTsaName(Context* ctx, const GENERAL_NAME* tsa, int32_t capacity, char* buffer) noexcept {
  if (tsa == nullptr) return WriteText("", 0, capacity, buffer);
  BioPtr bio;
  const char* text = nullptr;
  size_t length = 0;
  if (tsa->type == GEN_DIRNAME) {
    const int status = PrintName(ctx, tsa->d.directoryName, &bio, &text, &length);
    if (status != QVTK_OK) return status;
  } else {
    bio.reset(BIO_new(BIO_s_mem()));
    if (bio == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "TSTInfo: out of memory");
    if (GENERAL_NAME_print(bio.get(), const_cast<GENERAL_NAME*>(tsa)) <= 0) {
      return Fail(ctx, QVTK_ERR_INTERNAL, "TSTInfo: cannot print the TSA name");
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    text = n > 0 ? data : "";
    length = n > 0 ? static_cast<size_t>(n) : 0;
  }
  const int status = WriteText(text, length, capacity, buffer);
  return status == QVTK_OK ? status : Fail(ctx, status, "TSTInfo: TSA name too long");
}

int ParseTstInfo(Context* ctx, const SignedData& sd, TstInfoPtr* out) noexcept {
  if (!sd.is_tst_info) return Fail(ctx, QVTK_ERR_TSP_NOT_TSTINFO, "content type is not TSTInfo");
  const unsigned char* p = ASN1_STRING_get0_data(sd.content);
  const long n = ASN1_STRING_length(sd.content);
  TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &p, n));
  if (info == nullptr || p != ASN1_STRING_get0_data(sd.content) + n) {
    return Fail(ctx, QVTK_ERR_TSP_NOT_TSTINFO, "content is not a DER TSTInfo");
  }
  *out = std::move(info);
  return QVTK_OK;
}

// Remembers what QVTK_CERT_Verify needs from the token just examined.
void RememberToken(Context* ctx, SignedData* sd, bool has_gen_time, int64_t gen_time) noexcept {
  ctx->token_certs = std::move(sd->certs);
  ctx->has_gen_time = has_gen_time;
  ctx->gen_time = gen_time;
}

}  // namespace
}  // namespace vrd::tk

using vrd::tk::Context;
using vrd::tk::Fail;
using vrd::tk::FromHandle;

extern "C" {

QVTK_EXPORT int QVTK_CALL QVTK_CMS_ProcessSignedData(QVTK_CTX handle, int32_t /*flags*/,
                                                     const QVTK_BINSTR* signed_data,
                                                     QVTK_BINSTR* content, int32_t* content_type) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr || content == nullptr) {
    return Fail(ctx, QVTK_ERR_INVALID_ARGUMENT, "CMS: bad argument");
  }
  ctx->verified_token.reset();
  ctx->verified_token_certs.reset();
  ctx->verified_token_der.clear();
  vrd::tk::SignedData sd;
  int status = vrd::tk::ParseSignedData(ctx, signed_data, false, &sd);
  if (status != QVTK_OK) return status;
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(sd.cms);
  if (sk_CMS_SignerInfo_num(signers) <= 0) {
    return Fail(ctx, QVTK_ERR_CMS_NO_SIGNER_CERT, "CMS: no SignerInfo");
  }
  for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
    status = vrd::tk::VerifySigner(ctx, sd, sk_CMS_SignerInfo_value(signers, i));
    if (status != QVTK_OK) return status;
  }
  bool has_gen_time = false;
  int64_t gen_time = 0;
  if (sd.is_tst_info) {
    vrd::tk::TstInfoPtr info;
    if (vrd::tk::ParseTstInfo(ctx, sd, &info) == QVTK_OK) {
      char text[64];
      size_t length = 0;
      has_gen_time = vrd::tk::ConvertGenTime(TS_TST_INFO_get_time(info.get()), text, sizeof text,
                                             &length, &gen_time);
    }
    ERR_clear_error();
  }
  status = vrd::tk::ReplaceBytes(content, ASN1_STRING_get0_data(sd.content),
                                 static_cast<size_t>(ASN1_STRING_length(sd.content)));
  if (status != QVTK_OK) return Fail(ctx, status, "CMS: cannot copy the content");
  if (content_type != nullptr) *content_type = sd.is_tst_info ? 1 : 0;
  vrd::tk::RememberToken(ctx, &sd, has_gen_time, gen_time);
  // Kept for QVTK_TSP_GetTokenInfo on the same bytes; when memory is short
  // it parses them again.
  vrd::tk::CertStackPtr kept_certs(X509_chain_up_ref(ctx->token_certs.get()));
  if (kept_certs != nullptr) {
    try {
      ctx->verified_token_der.assign(reinterpret_cast<const char*>(signed_data->data),
                                     static_cast<size_t>(signed_data->length));
      ctx->verified_token = std::move(sd.owned);
      ctx->verified_token_certs = std::move(kept_certs);
    } catch (...) {
      ctx->verified_token_der.clear();
    }
  }
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_TSP_GetTokenInfo(QVTK_CTX handle, const QVTK_BINSTR* token,
                                                int32_t capacity, char* text1, char* text2,
                                                char* text3, char* text4, char* text5, char* text6,
                                                QVTK_BINSTR* cert) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr || cert == nullptr || capacity < 1 || text1 == nullptr || text2 == nullptr ||
      text3 == nullptr || text4 == nullptr || text5 == nullptr || text6 == nullptr) {
    return Fail(ctx, QVTK_ERR_INVALID_ARGUMENT, "TSP: bad argument");
  }
  vrd::tk::SignedData sd;
  int status = vrd::tk::ParseSignedData(ctx, token, true, &sd);
  if (status != QVTK_OK) return status;
  vrd::tk::TstInfoPtr info;
  status = vrd::tk::ParseTstInfo(ctx, sd, &info);
  if (status != QVTK_OK) return status;

  // The token's signer: the first SignerInfo's certificate.
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(sd.cms);
  X509* signer = sk_CMS_SignerInfo_num(signers) > 0
                     ? vrd::tk::FindSignerCert(sk_CMS_SignerInfo_value(signers, 0), sd.certs.get())
                     : nullptr;
  if (signer == nullptr) {
    return Fail(ctx, QVTK_ERR_CMS_NO_SIGNER_CERT, "TSP: signer certificate not in the token");
  }

  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
  char time_text[64];
  size_t time_length = 0;
  int64_t gen_time = 0;
  if (!vrd::tk::ConvertGenTime(TS_TST_INFO_get_time(info.get()), time_text, sizeof time_text,
                               &time_length, &gen_time)) {
    return Fail(ctx, QVTK_ERR_TSP_NOT_TSTINFO, "TSTInfo: genTime is not RFC 3161 form");
  }
  status = vrd::tk::WriteOid(ctx, TS_TST_INFO_get_policy_id(info.get()), capacity, text1);
  if (status == QVTK_OK) {
    status = vrd::tk::WriteAlgorithmName(ctx, TS_MSG_IMPRINT_get_algo(imprint), capacity, text2);
  }
  if (status == QVTK_OK) {
    status = vrd::tk::WriteHex(ctx, ASN1_STRING_get0_data(hashed),
                               static_cast<size_t>(ASN1_STRING_length(hashed)), capacity, text3);
  }
  if (status == QVTK_OK) {
    status = vrd::tk::WriteSerial(ctx, TS_TST_INFO_get_serial(info.get()), capacity, text4);
  }
  if (status == QVTK_OK) {
    status = vrd::tk::WriteText(time_text, time_length, capacity, text5);
    if (status != QVTK_OK) status = Fail(ctx, status, "TSTInfo: genTime text too long");
  }
  if (status == QVTK_OK) {
    status = vrd::tk::WriteTsaName(ctx, TS_TST_INFO_get_tsa(info.get()), capacity, text6);
  }
  if (status != QVTK_OK) return status;

  unsigned char* der = nullptr;
  const int der_length = i2d_X509(signer, &der);
  if (der_length <= 0) return Fail(ctx, QVTK_ERR_INTERNAL, "TSP: cannot encode the certificate");
  status = vrd::tk::ReplaceBytes(cert, der, static_cast<size_t>(der_length));
  OPENSSL_free(der);
  if (status != QVTK_OK) return Fail(ctx, status, "TSP: cannot copy the certificate");
  vrd::tk::RememberToken(ctx, &sd, true, gen_time);
  return QVTK_OK;
}

}  // extern "C"
