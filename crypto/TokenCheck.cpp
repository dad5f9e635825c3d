#include "crypto/TokenCheck.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "crypto/Runtime.h"

namespace vrd::tk {
namespace {

CheckResult Failed(int code, const char* what) noexcept { return CheckResult{code, what}; }

// Runs the content through a digest BIO for the SignerInfo's algorithm and
// lets OpenSSL check it: against the message-digest attribute when there are
// signed attributes, else against the signature itself.
CheckResult CheckContentDigest(CMS_SignerInfo* si, const ASN1_OCTET_STRING* content,
                               bool has_signed_attrs) noexcept {
  X509_ALGOR* digest_alg = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest_alg, nullptr);
  const ASN1_OBJECT* digest_obj = nullptr;
  X509_ALGOR_get0(&digest_obj, nullptr, nullptr, digest_alg);
  // The usual digests were fetched once; any other is fetched by its OID.
  const EVP_MD* md = FetchedDigest(OBJ_obj2nid(digest_obj));
  DigestPtr other;
  if (md == nullptr) {
    char oid[128];
    const int n = OBJ_obj2txt(oid, sizeof oid, digest_obj, 1);
    if (n > 0 && static_cast<size_t>(n) < sizeof oid && LibraryContext() != nullptr) {
      other.reset(EVP_MD_fetch(LibraryContext(), oid, nullptr));
    }
    md = other.get();
  }
  if (md == nullptr) return Failed(QVTK_ERR_CMS_DIGEST, "CMS: unsupported digest algorithm");
  BioPtr chain(BIO_new(BIO_f_md()));
  // An empty content may have no buffer at all; the memory BIO wants one.
  const unsigned char* bytes = content != nullptr ? ASN1_STRING_get0_data(content) : nullptr;
  static const unsigned char kNothing[1] = {0};
  const int length = content != nullptr ? ASN1_STRING_length(content) : 0;
  BIO* source = BIO_new_mem_buf(bytes != nullptr ? bytes : kNothing, length);
  if (chain == nullptr || source == nullptr) {
    BIO_free(source);
    return Failed(QVTK_ERR_NO_MEMORY, "CMS: out of memory");
  }
  BIO_push(chain.get(), source);  // the chain owns source from here on
  if (BIO_set_md(chain.get(), md) <= 0) return Failed(QVTK_ERR_INTERNAL, "CMS: digest setup");
  unsigned char buffer[4096];
  while (BIO_read(chain.get(), buffer, sizeof buffer) > 0) {
  }
  if (CMS_SignerInfo_verify_content(si, chain.get()) <= 0) {
    return has_signed_attrs
               ? Failed(QVTK_ERR_CMS_DIGEST, "CMS: message digest differs from the content")
               : Failed(QVTK_ERR_CMS_SIGNATURE, "CMS: signature over the content fails");
  }
  ERR_clear_error();
  return CheckResult{};
}

}  // namespace

X509* FindSignerCert(CMS_SignerInfo* si, STACK_OF(X509) * certs) noexcept {
  for (int i = 0; certs != nullptr && i < sk_X509_num(certs); ++i) {
    X509* x = sk_X509_value(certs, i);
    if (CMS_SignerInfo_cert_cmp(si, x) == 0) return x;
  }
  return nullptr;
}

bool NormalizeRsaSignatureAlgorithm(CMS_SignerInfo* si) noexcept {
  X509_ALGOR* signature_alg = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, nullptr, &signature_alg);
  if (signature_alg == nullptr) return false;
  const ASN1_OBJECT* obj = nullptr;
  X509_ALGOR_get0(&obj, nullptr, nullptr, signature_alg);
  if (OBJ_obj2nid(obj) != NID_rsa) return false;
  return X509_ALGOR_set0(signature_alg, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr) == 1;
}

CheckResult CheckSignerSignature(CMS_SignerInfo* si, X509* signer, const ASN1_OCTET_STRING* content,
                                 bool accept_x500_rsa) noexcept {
  if (signer == nullptr) {
    return Failed(QVTK_ERR_CMS_NO_SIGNER_CERT, "CMS: signer certificate not in the token");
  }
  if (accept_x500_rsa) NormalizeRsaSignatureAlgorithm(si);
  CMS_SignerInfo_set1_signer_cert(si, signer);
  const bool has_signed_attrs = CMS_signed_get_attr_count(si) >= 0;
  if (has_signed_attrs && CMS_SignerInfo_verify(si) <= 0) {
    return Failed(QVTK_ERR_CMS_SIGNATURE, "CMS: signature over the signed attributes fails");
  }
  return CheckContentDigest(si, content, has_signed_attrs);
}

CheckResult CheckSigningCertificate(CMS_SignerInfo* si, X509* signer,
                                    STACK_OF(X509) * certs) noexcept {
  if (signer == nullptr) {
    return Failed(QVTK_ERR_CMS_NO_SIGNER_CERT, "ESS: signer certificate not in the token");
  }
  if (CMS_signed_get_attr_count(si) < 0) {
    return Failed(QVTK_ERR_CMS_ESS, "ESS: no signed attributes");
  }
  const auto* v1 = static_cast<const ASN1_STRING*>(CMS_signed_get0_data_by_OBJ(
      si, OBJ_nid2obj(NID_id_smime_aa_signingCertificate), -3, V_ASN1_SEQUENCE));
  const auto* v2 = static_cast<const ASN1_STRING*>(CMS_signed_get0_data_by_OBJ(
      si, OBJ_nid2obj(NID_id_smime_aa_signingCertificateV2), -3, V_ASN1_SEQUENCE));
  if (v1 == nullptr && v2 == nullptr) {
    return Failed(QVTK_ERR_CMS_ESS, "ESS: no signing-certificate attribute");
  }
  EssV1Ptr ss;
  EssV2Ptr ss2;
  if (v1 != nullptr) {
    const unsigned char* p = ASN1_STRING_get0_data(v1);
    ss.reset(d2i_ESS_SIGNING_CERT(nullptr, &p, ASN1_STRING_length(v1)));
    if (ss == nullptr) return Failed(QVTK_ERR_CMS_ESS, "ESS: malformed signing certificate");
  }
  if (v2 != nullptr) {
    const unsigned char* p = ASN1_STRING_get0_data(v2);
    ss2.reset(d2i_ESS_SIGNING_CERT_V2(nullptr, &p, ASN1_STRING_length(v2)));
    if (ss2 == nullptr) return Failed(QVTK_ERR_CMS_ESS, "ESS: malformed signing certificate v2");
  }
  // The signer first, then the other certificates: the order the check expects.
  BorrowedStackPtr chain(sk_X509_new_null());
  if (chain == nullptr || sk_X509_push(chain.get(), signer) <= 0) {
    return Failed(QVTK_ERR_NO_MEMORY, "ESS: out of memory");
  }
  for (int i = 0; certs != nullptr && i < sk_X509_num(certs); ++i) {
    X509* x = sk_X509_value(certs, i);
    if (X509_cmp(x, signer) != 0 && sk_X509_push(chain.get(), x) <= 0) {
      return Failed(QVTK_ERR_NO_MEMORY, "ESS: out of memory");
    }
  }
  if (OSSL_ESS_check_signing_certs(ss.get(), ss2.get(), chain.get(), 1) <= 0) {
    return Failed(QVTK_ERR_CMS_ESS, "ESS: signing certificate does not name the signer");
  }
  ERR_clear_error();
  return CheckResult{};
}

bool HasTimeStampingUsage(X509* cert) noexcept {
  const bool has = (X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) != 0 &&
                   (X509_get_extended_key_usage(cert) & XKU_TIMESTAMP) != 0;
  ERR_clear_error();
  return has;
}

int ValidatePath(X509* cert, X509_STORE* roots, STACK_OF(X509) * untrusted,
                 std::optional<int64_t> at_time, int* depth, STACK_OF(X509) * *chain) noexcept {
  StoreCtxPtr sctx(X509_STORE_CTX_new_ex(LibraryContext(), nullptr));
  if (sctx == nullptr || X509_STORE_CTX_init(sctx.get(), roots, cert, untrusted) != 1) {
    ERR_clear_error();
    return X509_V_ERR_UNSPECIFIED;
  }
  if (at_time.has_value()) {
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(sctx.get()),
                               static_cast<time_t>(*at_time));
  }
  const int ok = X509_verify_cert(sctx.get());
  *depth = X509_STORE_CTX_get_error_depth(sctx.get());
  const int error = X509_STORE_CTX_get_error(sctx.get());
  if (ok == 1 && chain != nullptr) *chain = X509_STORE_CTX_get1_chain(sctx.get());
  ERR_clear_error();
  if (ok == 1) return X509_V_OK;
  return error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error;
}

}  // namespace vrd::tk
