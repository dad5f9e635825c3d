#include "tests/support/TokenSigner.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "crypto/Holders.h"

namespace vrd::test {

namespace {

using tk::BioPtr;
using tk::FreeWith;
using ObjPtr = tk::ObjectPtr;
using RespPtr = tk::TsRespPtr;
using ReqPtr = std::unique_ptr<TS_REQ, FreeWith<TS_REQ, TS_REQ_free>>;
using ImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, FreeWith<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, FreeWith<X509_ALGOR, X509_ALGOR_free>>;
using RespCtxPtr = std::unique_ptr<TS_RESP_CTX, FreeWith<TS_RESP_CTX, TS_RESP_CTX_free>>;

const EVP_MD* MdOf(ImprintHash hash) {
  switch (hash) {
    case ImprintHash::kSha1:
      return EVP_sha1();
    case ImprintHash::kSha256:
      return EVP_sha256();
    case ImprintHash::kSha512:
      return EVP_sha512();
  }
  return EVP_sha256();
}

std::atomic<long> next_serial{1};

ASN1_INTEGER* SerialCallback(TS_RESP_CTX*, void*) {
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  if (serial != nullptr) ASN1_INTEGER_set(serial, next_serial.fetch_add(1));
  return serial;
}

}  // namespace

TokenSigner::~TokenSigner() {
  EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
  X509_free(static_cast<X509*>(cert_));
  sk_X509_pop_free(static_cast<STACK_OF(X509)*>(chain_), X509_free);
}

bool TokenSigner::Load(const std::string& key_pem_path, const std::string& cert_pem_path,
                       const std::string& chain_pem_path) {
  if (!chain_pem_path.empty()) {
    BioPtr chain_bio(BIO_new_file(chain_pem_path.c_str(), "r"));
    if (!chain_bio) return false;
    STACK_OF(X509)* chain = sk_X509_new_null();
    if (chain == nullptr) return false;
    while (X509* x = PEM_read_bio_X509(chain_bio.get(), nullptr, nullptr, nullptr)) {
      if (sk_X509_push(chain, x) <= 0) {
        X509_free(x);
        break;
      }
    }
    ERR_clear_error();  // the read that ended the loop
    if (sk_X509_num(chain) == 0) {
      sk_X509_free(chain);
      return false;
    }
    sk_X509_pop_free(static_cast<STACK_OF(X509)*>(chain_), X509_free);
    chain_ = chain;
  }
  BioPtr key_bio(BIO_new_file(key_pem_path.c_str(), "r"));
  BioPtr cert_bio(BIO_new_file(cert_pem_path.c_str(), "r"));
  if (!key_bio || !cert_bio) return false;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr);
  X509* cert = PEM_read_bio_X509(cert_bio.get(), nullptr, nullptr, nullptr);
  if (key == nullptr || cert == nullptr) {
    EVP_PKEY_free(key);
    X509_free(cert);
    return false;
  }
  EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
  X509_free(static_cast<X509*>(cert_));
  key_ = key;
  cert_ = cert;
  return true;
}

std::string TokenSigner::Digest(const std::string& content, ImprintHash hash) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(content.data(), content.size(), md, &length, MdOf(hash), nullptr) != 1) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(md), length);
}

bool TokenSigner::Sign(const std::string& content, ImprintHash hash, std::string& der) const {
  der.clear();
  const std::string digest = Digest(content, hash);
  if (digest.empty()) return false;
  return SignDigest(digest, hash, der);
}

bool TokenSigner::SignDigest(const std::string& digest, ImprintHash hash, std::string& der) const {
  der.clear();
  if (key_ == nullptr || cert_ == nullptr || digest.empty()) return false;

  // The request: imprint, certificate wanted, no nonce.
  ReqPtr request(TS_REQ_new());
  ImprintPtr imprint(TS_MSG_IMPRINT_new());
  AlgorPtr algorithm(X509_ALGOR_new());
  if (!request || !imprint || !algorithm) return false;
  X509_ALGOR_set_md(algorithm.get(), MdOf(hash));
  if (TS_REQ_set_version(request.get(), 1) != 1 ||
      TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
      TS_MSG_IMPRINT_set_msg(imprint.get(),
                             reinterpret_cast<unsigned char*>(const_cast<char*>(digest.data())),
                             static_cast<int>(digest.size())) != 1 ||
      TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 ||
      TS_REQ_set_cert_req(request.get(), 1) != 1) {
    return false;
  }
  BioPtr request_bio(BIO_new(BIO_s_mem()));
  if (!request_bio || i2d_TS_REQ_bio(request_bio.get(), request.get()) != 1) return false;

  RespCtxPtr context(TS_RESP_CTX_new());
  ObjPtr policy(OBJ_txt2obj("1.2.3.4.1", 1));
  if (!context || !policy) return false;
  if (TS_RESP_CTX_set_signer_cert(context.get(), static_cast<X509*>(cert_)) != 1 ||
      TS_RESP_CTX_set_signer_key(context.get(), static_cast<EVP_PKEY*>(key_)) != 1 ||
      TS_RESP_CTX_set_signer_digest(context.get(), EVP_sha256()) != 1 ||
      TS_RESP_CTX_set_ess_cert_id_digest(context.get(), EVP_sha256()) != 1 ||
      TS_RESP_CTX_set_def_policy(context.get(), policy.get()) != 1 ||
      TS_RESP_CTX_add_md(context.get(), EVP_sha1()) != 1 ||
      TS_RESP_CTX_add_md(context.get(), EVP_sha256()) != 1 ||
      TS_RESP_CTX_add_md(context.get(), EVP_sha512()) != 1 ||
      TS_RESP_CTX_set_accuracy(context.get(), 1, 0, 0) != 1) {
    return false;
  }
  if (chain_ != nullptr &&
      TS_RESP_CTX_set_certs(context.get(), static_cast<STACK_OF(X509)*>(chain_)) != 1) {
    return false;
  }
  TS_RESP_CTX_set_serial_cb(context.get(), SerialCallback, nullptr);

  RespPtr response(TS_RESP_create_response(context.get(), request_bio.get()));
  if (!response) return false;
  TS_STATUS_INFO* status = TS_RESP_get_status_info(response.get());
  if (status == nullptr || ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(status)) != 0) return false;
  PKCS7* token = TS_RESP_get_token(response.get());
  if (token == nullptr) return false;
  unsigned char* bytes = nullptr;
  const int length = i2d_PKCS7(token, &bytes);
  if (length <= 0) return false;
  der.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  OPENSSL_free(bytes);
  return true;
}

std::string CertificateDerFromPem(const std::string& pem_path) {
  BioPtr bio(BIO_new_file(pem_path.c_str(), "r"));
  if (!bio) return std::string();
  X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
  if (cert == nullptr) return std::string();
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(cert, &bytes);
  X509_free(cert);
  if (length <= 0) return std::string();
  std::string der(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  OPENSSL_free(bytes);
  return der;
}

}  // namespace vrd::test
