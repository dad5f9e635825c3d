#include "toolkit/openssl/Caches.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "crypto/BoundedCache.h"

namespace vrd::tk {
namespace {

struct ThreadCaches {
  BoundedCache<CertPtr> certificates{kCachedCertificates};
  BoundedCache<StorePtr> stores{kCachedStores};
};

#if defined(_WIN32)
// In the DLL a thread_local object with a destructor would keep the DLL
// loaded until the thread ends (the runtime's thread-exit list holds a
// reference to it) and run OpenSSL frees from that list at thread exit. So
// each thread's caches are a plain heap object, listed so that the DLL's
// entry point can release them when the thread ends or the DLL is unloaded;
// the list is only touched when a thread makes or drops its caches.
std::mutex registry_mutex;
std::vector<ThreadCaches*>* registry = nullptr;  // made with the first caches
thread_local ThreadCaches* this_thread_caches = nullptr;

ThreadCaches* Current() noexcept {
  if (this_thread_caches != nullptr) return this_thread_caches;
  try {
    auto caches = std::make_unique<ThreadCaches>();
    const std::lock_guard<std::mutex> lock(registry_mutex);
    if (registry == nullptr) registry = new std::vector<ThreadCaches*>();
    registry->push_back(caches.get());
    this_thread_caches = caches.release();
  } catch (...) {
    return nullptr;  // no caches on this thread: every call parses afresh
  }
  return this_thread_caches;
}
#else
ThreadCaches* Current() noexcept {
  try {
    thread_local ThreadCaches caches;
    return &caches;
  } catch (...) {
    return nullptr;
  }
}
#endif

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
  ThreadCaches* caches = Current();
  CertPtr* cached = caches != nullptr ? caches->certificates.Find(der) : nullptr;
  if (cached == nullptr || X509_up_ref(cached->get()) != 1) return nullptr;
  return CertPtr(cached->get());
}

void KeepCertificate(std::string_view der, X509* cert) noexcept {
  ThreadCaches* caches = Current();
  if (caches == nullptr || cert == nullptr || X509_up_ref(cert) != 1) return;
  CertPtr reference(cert);
  try {
    caches->certificates.Insert(der, std::move(reference));
  } catch (...) {
    // Not cached; reference releases the extra count.
  }
}

StorePtr StoreForRoots(const STACK_OF(X509) * roots) noexcept {
  ThreadCaches* caches = Current();
  std::string key;
  if (caches == nullptr || !RootsKey(roots, &key)) return NewStore(roots);
  StorePtr* cached = caches->stores.Find(key);
  if (cached == nullptr) {
    StorePtr fresh = NewStore(roots);
    if (fresh == nullptr) return nullptr;
    try {
      cached = &caches->stores.Insert(key, std::move(fresh));
    } catch (...) {
      return fresh;  // still usable, only not shared
    }
  }
  if (X509_STORE_up_ref(cached->get()) != 1) return nullptr;
  return StorePtr(cached->get());
}

#if defined(_WIN32)
void ReleaseThreadCaches() noexcept {
  ThreadCaches* caches = this_thread_caches;
  if (caches == nullptr) return;
  this_thread_caches = nullptr;
  {
    const std::lock_guard<std::mutex> lock(registry_mutex);
    registry->erase(std::remove(registry->begin(), registry->end(), caches), registry->end());
  }
  delete caches;
}

void ReleaseAllCaches() noexcept {
  const std::lock_guard<std::mutex> lock(registry_mutex);
  if (registry == nullptr) return;
  for (ThreadCaches* caches : *registry) delete caches;
  delete registry;
  registry = nullptr;
  this_thread_caches = nullptr;
}
#endif

}  // namespace vrd::tk
