// Owning holders for the OpenSSL objects that the toolkit and the document
// report create: each is a unique_ptr whose deleter is the object's own free
// function, so every object is released on every path. Stacks of
// certificates free their elements too; a borrowed stack only itself. Any
// other OpenSSL type gets its holder here, not at the place of use.
#ifndef VRD_CRYPTO_HOLDERS_H_
#define VRD_CRYPTO_HOLDERS_H_

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/ess.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace vrd::tk {

template <typename T, void (*Free)(T*)>
struct FreeWith {
  void operator()(T* p) const noexcept { Free(p); }
};

inline void FreeCertStack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
// A stack that borrows its certificates: only the stack itself is freed.
inline void FreeBorrowedStack(STACK_OF(X509) * s) { sk_X509_free(s); }
inline void FreeBioChain(BIO* b) { BIO_free_all(b); }
inline void FreeOpenSslText(char* p) { OPENSSL_free(p); }
inline void FreeCrlStack(STACK_OF(X509_CRL) * s) { sk_X509_CRL_pop_free(s, X509_CRL_free); }

using TimePtr = std::unique_ptr<ASN1_TIME, FreeWith<ASN1_TIME, ASN1_TIME_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, FreeWith<ASN1_OBJECT, ASN1_OBJECT_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO, FreeBioChain>>;
using BignumPtr = std::unique_ptr<BIGNUM, FreeWith<BIGNUM, BN_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, FreeWith<CMS_ContentInfo, CMS_ContentInfo_free>>;
using DigestPtr = std::unique_ptr<EVP_MD, FreeWith<EVP_MD, EVP_MD_free>>;
using DigestCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using CertPtr = std::unique_ptr<X509, FreeWith<X509, X509_free>>;
using CertStackPtr = std::unique_ptr<STACK_OF(X509), FreeWith<STACK_OF(X509), FreeCertStack>>;
using BorrowedStackPtr =
    std::unique_ptr<STACK_OF(X509), FreeWith<STACK_OF(X509), FreeBorrowedStack>>;
using EssV1Ptr =
    std::unique_ptr<ESS_SIGNING_CERT, FreeWith<ESS_SIGNING_CERT, ESS_SIGNING_CERT_free>>;
using EssV2Ptr =
    std::unique_ptr<ESS_SIGNING_CERT_V2, FreeWith<ESS_SIGNING_CERT_V2, ESS_SIGNING_CERT_V2_free>>;
using OpenSslTextPtr = std::unique_ptr<char, FreeWith<char, FreeOpenSslText>>;
using CrlPtr = std::unique_ptr<X509_CRL, FreeWith<X509_CRL, X509_CRL_free>>;
using CrlStackPtr = std::unique_ptr<STACK_OF(X509_CRL), FreeWith<STACK_OF(X509_CRL), FreeCrlStack>>;
using OcspResponsePtr = std::unique_ptr<OCSP_RESPONSE, FreeWith<OCSP_RESPONSE, OCSP_RESPONSE_free>>;
using OcspBasicPtr = std::unique_ptr<OCSP_BASICRESP, FreeWith<OCSP_BASICRESP, OCSP_BASICRESP_free>>;
using OcspCertIdPtr = std::unique_ptr<OCSP_CERTID, FreeWith<OCSP_CERTID, OCSP_CERTID_free>>;
using StorePtr = std::unique_ptr<X509_STORE, FreeWith<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX, X509_STORE_CTX_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, FreeWith<TS_RESP, TS_RESP_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, FreeWith<TS_TST_INFO, TS_TST_INFO_free>>;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_HOLDERS_H_
