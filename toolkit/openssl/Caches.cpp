#include "toolkit/openssl/Caches.h"

#include <new>
#include <string>

#include "toolkit/openssl/BoundedCache.h"

namespace vrd::tk {
namespace {

BoundedCache<CertPtr>& Certificates() noexcept {
  thread_local BoundedCache<CertPtr> cache(kCachedCertificates);
  return cache;
}

BoundedCache<StorePtr>& Stores() noexcept {
  thread_local BoundedCache<StorePtr> cache(kCachedStores);
  return cache;
}

// The store key: the addresses of the root objects, in order. The cached
// store holds a reference to each of them, so no other certificate can take
// one of these addresses while the entry lives.
bool RootsKey(const STACK_OF(X509) * roots, std::string* key) noexcept {
  try {
    const int count = roots != nullptr ? sk_X509_num(roots) : 0;
    key->reserve(static_cast<size_t>(count) * sizeof(X509*));
    for (int i = 0; i < count; ++i) {
      const X509* cert = sk_X509_value(roots, i);
      key->append(reinterpret_cast<const char*>(&cert), sizeof cert);
    }
    return true;
  } catch (...) {
    return false;
  }
}

StorePtr NewStore(const STACK_OF(X509) * roots) noexcept {
  StorePtr store(X509_STORE_new());
  if (store == nullptr) return nullptr;
  for (int i = 0; roots != nullptr && i < sk_X509_num(roots); ++i) {
    if (X509_STORE_add_cert(store.get(), sk_X509_value(roots, i)) != 1) return nullptr;
  }
  return store;
}

}  // namespace

CertPtr LookUpCertificate(std::string_view der) noexcept {
  CertPtr* cached = Certificates().Find(der);
  if (cached == nullptr || X509_up_ref(cached->get()) != 1) return nullptr;
  return CertPtr(cached->get());
}

void KeepCertificate(std::string_view der, X509* cert) noexcept {
  if (cert == nullptr || X509_up_ref(cert) != 1) return;
  CertPtr reference(cert);
  try {
    Certificates().Insert(der, std::move(reference));
  } catch (...) {
    // Not cached; reference releases the extra count.
  }
}

StorePtr StoreForRoots(const STACK_OF(X509) * roots) noexcept {
  std::string key;
  if (!RootsKey(roots, &key)) return NewStore(roots);
  StorePtr* cached = Stores().Find(key);
  if (cached == nullptr) {
    StorePtr fresh = NewStore(roots);
    if (fresh == nullptr) return nullptr;
    try {
      cached = &Stores().Insert(key, std::move(fresh));
    } catch (...) {
      return fresh;  // still usable, only not shared
    }
  }
  if (X509_STORE_up_ref(cached->get()) != 1) return nullptr;
  return StorePtr(cached->get());
}

}  // namespace vrd::tk
