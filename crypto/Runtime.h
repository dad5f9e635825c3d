// The toolkit's own OpenSSL library context, shared by every QVTK_ context
// of the process, and the usual digest algorithms (crypto/DigestAlgorithms.h)
// fetched from it once. Each library that links vrd_crypto (the toolkit's
// shared library, the report module) has a context of its own, made alike.
//
// The context is made on first use, with OpenSSL's built-in default provider
// loaded explicitly and no configuration file read: neither openssl.cnf nor
// OPENSSL_CONF nor any other environment variable reaches it, and the
// toolkit never fetches from the host's default library context, so a host
// that set up OpenSSL its own way (other providers, properties, policies)
// gets the same results as one that did nothing. Everything the toolkit
// decodes, fetches or verifies goes through this context.
//
// OpenSSL 3 reads its configuration into the default context the first time
// anything initialises the library. When the toolkit is first, it asks for
// initialisation without the configuration file (OPENSSL_INIT_NO_LOAD_CONFIG);
// a host that initialised OpenSSL before keeps what it loaded, and one that
// wants its configuration after us loads it explicitly
// (OSSL_LIB_CTX_load_config or CONF_modules_load_file).
//
// Ownership: the context and the fetched algorithms live for the rest of the
// process and are never freed (certificates cached by threads may still
// refer to them while the process ends). They are immutable once made, so
// any thread may use them without a lock.
#ifndef VRD_CRYPTO_RUNTIME_H_
#define VRD_CRYPTO_RUNTIME_H_

#include <openssl/evp.h>
#include <openssl/types.h>

namespace vrd::tk {

// The toolkit's library context, or null when OpenSSL could not set it up
// (no memory, or no default provider).
OSSL_LIB_CTX* LibraryContext() noexcept;

// The digest of the given NID, one of the usual digests (MD5, SHA-1,
// SHA-224, SHA-256, SHA-384, SHA-512), fetched from the toolkit's context, or
// null for any other NID or when the context is missing. No look-up happens
// after the first call.
const EVP_MD* FetchedDigest(int nid) noexcept;

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_RUNTIME_H_
