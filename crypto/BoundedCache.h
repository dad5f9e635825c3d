// BoundedCache: a small least-recently-used map from byte strings to values,
// for per-thread caches (parsed certificates, X509 stores).
//
// Not thread-safe: each thread keeps its own (the toolkit's Caches.h, the report's certificates),
// so lookups take no lock. The cache owns its keys and values; an evicted or replaced value is
// destroyed at once, so values that others may still use must be reference-counted handles (the
// OpenSSL holders of Holders.h are used with an up-ref before they are handed out). Lookups are
// linear: capacities are a few dozen entries.
#ifndef VRD_CRYPTO_BOUNDEDCACHE_H_
#define VRD_CRYPTO_BOUNDEDCACHE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrd::tk {

template <typename Value>
class BoundedCache {
 public:
  explicit BoundedCache(size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {
    entries_.reserve(capacity_);
  }
  BoundedCache(const BoundedCache&) = delete;
  BoundedCache& operator=(const BoundedCache&) = delete;

  // The value stored under key, or null. A hit makes the entry the most
  // recently used one.
  Value* Find(std::string_view key) noexcept {
    for (Entry& entry : entries_) {
      if (entry.key.size() == key.size() && std::string_view(entry.key) == key) {
        entry.last_use = ++clock_;
        return &entry.value;
      }
    }
    return nullptr;
  }

  // Stores value under key (a key already present has its value replaced);
  // when the cache is full the least recently used entry goes first.
  // Returns the stored value. When storing the key throws (no memory),
  // value is left with the caller.
  Value& Insert(std::string_view key, Value&& value) {
    if (Value* present = Find(key)) {
      *present = std::move(value);
      return *present;
    }
    if (entries_.size() < capacity_) {
      std::string owned_key(key);
      entries_.push_back(Entry{std::move(owned_key), std::move(value), ++clock_});
      return entries_.back().value;
    }
    Entry* oldest = &entries_.front();
    for (Entry& entry : entries_) {
      if (entry.last_use < oldest->last_use) oldest = &entry;
    }
    oldest->key.assign(key.data(), key.size());
    oldest->value = std::move(value);
    oldest->last_use = ++clock_;
    return oldest->value;
  }

  size_t size() const noexcept { return entries_.size(); }
  size_t capacity() const noexcept { return capacity_; }

 private:
  struct Entry {
    std::string key;
    Value value;
    uint64_t last_use;
  };
  size_t capacity_;
  uint64_t clock_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace vrd::tk

#endif  // VRD_CRYPTO_BOUNDEDCACHE_H_
