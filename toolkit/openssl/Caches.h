// Per-thread caches of what does not change between verifications: parsed
// certificates, keyed by their DER bytes, and X509 stores, keyed by the
// exact list of trusted certificate objects they hold.
//
// Each thread has its own caches, so a lookup takes no lock and no cached
// OpenSSL object is ever handed to two threads by the cache itself: OpenSSL
// 3.0 fills some fields of a certificate lazily on first use (its extension
// flags), which ThreadSanitizer shows racing when one object is used by two
// threads at once. Both are
// bounded (kCachedCertificates and kCachedStores per thread) and evict the
// least recently used entry; they are released when the thread ends (on
// Windows by the DLL's entry point, see ReleaseThreadCaches). A hit
// gives exactly what a fresh parse or a fresh store would give: the key is
// the whole input, and a store is only shared by calls that install the very
// same roots.
//
// Ownership: every function returns a new reference (the caller's holder
// releases it); the caches keep their own.
#ifndef VRD_TOOLKIT_OPENSSL_CACHES_H_
#define VRD_TOOLKIT_OPENSSL_CACHES_H_

#include <cstddef>
#include <string_view>

#include "crypto/Holders.h"

namespace vrd::tk {

// Per-thread bounds: the anchors of one verification, the certificates of a
// few authorities and their chains, and the stores for a few root sets.
constexpr size_t kCachedCertificates = 64;
constexpr size_t kCachedStores = 8;

// The certificate cached under exactly these DER bytes, or null.
CertPtr LookUpCertificate(std::string_view der) noexcept;
// Caches cert (which must be the parse of exactly der) for later look-ups on
// this thread. Failures to cache are silent: the next look-up parses again.
void KeepCertificate(std::string_view der, X509* cert) noexcept;

// A store whose trusted certificates are exactly those of roots (null or
// empty: none), made on the first request on this thread and shared by the
// later ones with the same certificate objects. Null when memory is short.
StorePtr StoreForRoots(const STACK_OF(X509) * roots) noexcept;

#if defined(_WIN32)
// The DLL's entry point releases the calling thread's caches when the thread
// ends, and every thread's when the DLL is unloaded (no thread may be inside
// the toolkit then). Elsewhere the caches are released when their thread
// ends.
void ReleaseThreadCaches() noexcept;
void ReleaseAllCaches() noexcept;
#endif

}  // namespace vrd::tk

#endif  // VRD_TOOLKIT_OPENSSL_CACHES_H_
