#include "crypto/DigestAlgorithms.h"

namespace vrd::tk {

const DigestAlgorithm* FindDigestByOid(std::string_view oid) noexcept {
  for (const DigestAlgorithm& algorithm : kDigestAlgorithms) {
    if (oid == algorithm.oid) return &algorithm;
  }
  return nullptr;
}

const DigestAlgorithm* FindDigestByNid(int nid) noexcept {
  if (nid == NID_undef) return nullptr;
  for (const DigestAlgorithm& algorithm : kDigestAlgorithms) {
    if (nid == algorithm.nid) return &algorithm;
  }
  return nullptr;
}

}  // namespace vrd::tk
