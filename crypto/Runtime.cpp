#include "crypto/Runtime.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/provider.h>

#include <cstddef>
#include <iterator>

#include "crypto/DigestAlgorithms.h"

namespace vrd::tk {
namespace {

struct Runtime {
  OSSL_LIB_CTX* library = nullptr;
  OSSL_PROVIDER* provider = nullptr;
  EVP_MD* digests[std::size(kDigestAlgorithms)] = {};  // the usual ones, by table index
};

Runtime* MakeRuntime() noexcept {
  // Leaked on purpose: see the header.
  static Runtime runtime;
  // OpenSSL's own initialisation would otherwise read openssl.cnf (or
  // OPENSSL_CONF) into the default context on the first object look-up. A
  // host that initialised OpenSSL already keeps its configuration: the
  // option only takes effect when nothing has initialised OpenSSL yet.
  if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) {
    ERR_clear_error();
    return &runtime;
  }
  runtime.library = OSSL_LIB_CTX_new();
  if (runtime.library != nullptr) {
    runtime.provider = OSSL_PROVIDER_load(runtime.library, "default");
    if (runtime.provider == nullptr) {
      OSSL_LIB_CTX_free(runtime.library);
      runtime.library = nullptr;
    }
  }
  for (size_t i = 0; runtime.library != nullptr && i < std::size(kDigestAlgorithms); ++i) {
    const DigestAlgorithm& algorithm = kDigestAlgorithms[i];
    if (algorithm.usual) {
      runtime.digests[i] = EVP_MD_fetch(runtime.library, OBJ_nid2sn(algorithm.nid), nullptr);
    }
  }
  ERR_clear_error();
  return &runtime;
}

const Runtime& GetRuntime() noexcept {
  static const Runtime* const runtime = MakeRuntime();
  return *runtime;
}

}  // namespace

OSSL_LIB_CTX* LibraryContext() noexcept { return GetRuntime().library; }

const EVP_MD* FetchedDigest(int nid) noexcept {
  const DigestAlgorithm* algorithm = FindDigestByNid(nid);
  if (algorithm == nullptr || !algorithm->usual) return nullptr;
  return GetRuntime().digests[algorithm - kDigestAlgorithms];
}

}  // namespace vrd::tk
