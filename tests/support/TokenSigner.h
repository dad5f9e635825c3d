// TokenSigner: a test-only RFC 3161 time-stamping authority in process, over
// OpenSSL's TS API. It signs tokens (DER CMS SignedData around a TSTInfo)
// for a given message imprint with a TSA key and certificate read from PEM
// files, so that tests and benchmarks can stamp documents they generate.
//
// The signer owns its OpenSSL objects and frees them in its destructor; every
// method reports failure through its return value and leaves the outputs
// empty. Not for concurrent use of one object (make one per thread).
#ifndef VRD_TESTS_SUPPORT_TOKENSIGNER_H_
#define VRD_TESTS_SUPPORT_TOKENSIGNER_H_

#include <string>

namespace vrd::test {

enum class ImprintHash { kSha1, kSha256, kSha512 };

class TokenSigner {
 public:
  TokenSigner() = default;
  ~TokenSigner();
  TokenSigner(const TokenSigner&) = delete;
  TokenSigner& operator=(const TokenSigner&) = delete;

  // Reads the TSA's private key and certificate (PEM), and optionally the
  // certificates (PEM) of its issuing CAs, which every token then carries
  // for chain building. False on any error.
  [[nodiscard]] bool Load(const std::string& key_pem_path, const std::string& cert_pem_path,
                          const std::string& chain_pem_path = std::string());

  // A token whose message imprint is hash(content), with the signer
  // certificate included and an ESS signing-certificate attribute.
  [[nodiscard]] bool Sign(const std::string& content, ImprintHash hash, std::string& der) const;

  // The same for an imprint computed elsewhere (raw digest bytes of hash),
  // for contents too large to hold twice.
  [[nodiscard]] bool SignDigest(const std::string& digest, ImprintHash hash,
                                std::string& der) const;

  // The hash of content, as raw bytes.
  static std::string Digest(const std::string& content, ImprintHash hash);

 private:
  void* key_ = nullptr;    // EVP_PKEY
  void* cert_ = nullptr;   // X509
  void* chain_ = nullptr;  // STACK_OF(X509), or null
};

// The DER of the first certificate in a PEM file, or empty.
std::string CertificateDerFromPem(const std::string& pem_path);

}  // namespace vrd::test

#endif  // VRD_TESTS_SUPPORT_TOKENSIGNER_H_
