#include "report/QpdfCrypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <qpdf/QPDFCryptoImpl.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <stdexcept>
#include <string>
#include <utility>

#include "crypto/Holders.h"
#include "crypto/Runtime.h"

namespace vrd::report {
namespace {

constexpr size_t kRc4StateSize = 256;

[[noreturn]] void Fail(const char* what) {
  ERR_clear_error();
  throw std::runtime_error(std::string("crypto: ") + what);
}

void Check(int status, const char* what) {
  if (status != 1) Fail(what);
}

// AES in CBC and ECB mode for 128, 192 and 256-bit keys (FIPS 197), fetched
// from the report's context once per process and never freed, like the
// context itself.
struct AesCiphers {
  EVP_CIPHER* cbc[3] = {};
  EVP_CIPHER* ecb[3] = {};
};

const AesCiphers& Ciphers() {
  static const AesCiphers ciphers = [] {
    AesCiphers fetched;
    static const char* const kCbc[] = {"AES-128-CBC", "AES-192-CBC", "AES-256-CBC"};
    static const char* const kEcb[] = {"AES-128-ECB", "AES-192-ECB", "AES-256-ECB"};
    OSSL_LIB_CTX* library = tk::LibraryContext();
    for (int i = 0; library != nullptr && i < 3; ++i) {
      fetched.cbc[i] = EVP_CIPHER_fetch(library, kCbc[i], nullptr);
      fetched.ecb[i] = EVP_CIPHER_fetch(library, kEcb[i], nullptr);
    }
    ERR_clear_error();
    return fetched;
  }();
  return ciphers;
}

// qpdf asks for the key sizes of its security handlers; as its own OpenSSL
// provider does, any other size is taken as AES-128 over the key's first
// 16 bytes.
int AesIndex(size_t key_len) {
  if (key_len == 32) return 2;
  if (key_len == 24) return 1;
  return 0;
}
constexpr size_t kAes128KeyBytes = 16;

}  // namespace

class OpenSslCrypto final : public QPDFCryptoImpl {
 public:
  OpenSslCrypto() : digest_(EVP_MD_CTX_new()), cipher_(EVP_CIPHER_CTX_new()) {
    if (digest_ == nullptr || cipher_ == nullptr) Fail("no memory");
  }

  void provideRandomData(unsigned char* data, size_t len) override {
    Check(RAND_bytes_ex(tk::LibraryContext(), data, len, 0), "no random data");
  }

  void MD5_init() override { StartDigest(NID_md5); }
  void MD5_update(unsigned char const* data, size_t len) override { Update(data, len); }
  void MD5_finalize() override { Finish(); }
  void MD5_digest(MD5_Digest digest) override {
    if (digest_length_ != sizeof(MD5_Digest)) Fail("no MD5 digest");
    std::memcpy(digest, digest_bytes_, sizeof(MD5_Digest));
  }

  void SHA2_init(int bits) override {
    if (bits == 256) return StartDigest(NID_sha256);
    if (bits == 384) return StartDigest(NID_sha384);
    if (bits == 512) return StartDigest(NID_sha512);
    Fail("unsupported SHA-2 size");
  }
  void SHA2_update(unsigned char const* data, size_t len) override { Update(data, len); }
  void SHA2_finalize() override { Finish(); }
  std::string SHA2_digest() override {
    return std::string(reinterpret_cast<const char*>(digest_bytes_), digest_length_);
  }

  // RC4 as PDF's standard security handler uses it; a key_len of -1 means a
  // NUL-terminated key.
  void RC4_init(unsigned char const* key_data, int key_len) override {
    const size_t length = key_len < 0 ? std::strlen(reinterpret_cast<const char*>(key_data))
                                      : static_cast<size_t>(key_len);
    if (length == 0) Fail("empty RC4 key");
    for (size_t i = 0; i < kRc4StateSize; ++i) rc4_[i] = static_cast<unsigned char>(i);
    unsigned char j = 0;
    for (size_t i = 0; i < kRc4StateSize; ++i) {
      j = static_cast<unsigned char>(j + rc4_[i] + key_data[i % length]);
      std::swap(rc4_[i], rc4_[j]);
    }
    rc4_x_ = 0;
    rc4_y_ = 0;
  }
  void RC4_process(unsigned char const* in_data, size_t len, unsigned char* out_data) override {
    unsigned char* out = out_data != nullptr ? out_data : const_cast<unsigned char*>(in_data);
    for (size_t i = 0; i < len; ++i) {
      rc4_x_ = static_cast<unsigned char>(rc4_x_ + 1);
      rc4_y_ = static_cast<unsigned char>(rc4_y_ + rc4_[rc4_x_]);
      std::swap(rc4_[rc4_x_], rc4_[rc4_y_]);
      out[i] = in_data[i] ^ rc4_[static_cast<unsigned char>(rc4_[rc4_x_] + rc4_[rc4_y_])];
    }
  }
  void RC4_finalize() override {}

  // One 16-byte block per rijndael_process; in CBC mode cbc_block is the
  // initialisation vector and OpenSSL carries the chain from block to block.
  void rijndael_init(bool encrypt, unsigned char const* key_data, size_t key_len, bool cbc_mode,
                     unsigned char* cbc_block) override {
    const int index = AesIndex(key_len);
    const EVP_CIPHER* cipher = cbc_mode ? Ciphers().cbc[index] : Ciphers().ecb[index];
    if (cipher == nullptr) Fail("no AES");
    if (index == 0 && key_len < kAes128KeyBytes) Fail("short AES key");
    Check(EVP_CIPHER_CTX_reset(cipher_.get()), "AES reset");
    Check(EVP_CipherInit_ex2(cipher_.get(), cipher, key_data, cbc_mode ? cbc_block : nullptr,
                             encrypt ? 1 : 0, nullptr),
          "AES init");
    Check(EVP_CIPHER_CTX_set_padding(cipher_.get(), 0), "AES padding");
  }
  void rijndael_process(unsigned char* in_data, unsigned char* out_data) override {
    int length = static_cast<int>(rijndael_buf_size);
    Check(EVP_CipherUpdate(cipher_.get(), out_data, &length, in_data, length), "AES block");
  }
  void rijndael_finalize() override {}

 private:
  void StartDigest(int nid) {
    const EVP_MD* md = tk::FetchedDigest(nid);
    if (md == nullptr) Fail("no digest");
    digest_length_ = 0;
    Check(EVP_DigestInit_ex2(digest_.get(), md, nullptr), "digest init");
  }
  void Update(unsigned char const* data, size_t len) {
    Check(EVP_DigestUpdate(digest_.get(), data, len), "digest update");
  }
  void Finish() {
    unsigned int length = 0;
    Check(EVP_DigestFinal_ex(digest_.get(), digest_bytes_, &length), "digest final");
    digest_length_ = length;
  }

  tk::DigestCtxPtr digest_;
  unsigned char digest_bytes_[EVP_MAX_MD_SIZE] = {};
  size_t digest_length_ = 0;
  tk::CipherCtxPtr cipher_;
  unsigned char rc4_[kRc4StateSize] = {};
  unsigned char rc4_x_ = 0;
  unsigned char rc4_y_ = 0;
};

}  // namespace vrd::report

#if defined(VRD_QPDF_STATIC)
// qpdf 11 declares registerImpl for any provider but defines it for its own
// only; as a member, this specialisation reaches the registry through
// getInstance, which a static qpdf has and a shared one does not export.
template <>
void QPDFCryptoProvider::registerImpl<vrd::report::OpenSslCrypto>(std::string const& name) {
  getInstance().m->providers[name] = std::make_shared<vrd::report::OpenSslCrypto>;
}
#endif

namespace vrd::report {

void InstallQpdfCrypto() {
  static std::once_flag once;
  std::call_once(once, [] {
#if defined(VRD_QPDF_STATIC)
    QPDFCryptoProvider::registerImpl<OpenSslCrypto>(kQpdfCryptoProvider);
    QPDFCryptoProvider::setDefaultProvider(kQpdfCryptoProvider);
#endif
  });
}

}  // namespace vrd::report
