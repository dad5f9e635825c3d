// ComputedDigest: the digest a verification computed over a document's
// signed content, handed to a caller that would digest the same bytes again
// (tsverify --all reports on the file the library has just verified). Not
// part of the exports.
//
// It is filled only when every hashed byte is the file's own and unchanged:
// no line feed added by the final line feed rule, no seal-impression
// template written over the document. The caller owns it.
#ifndef VRD_API_COMPUTEDDIGEST_H_
#define VRD_API_COMPUTEDDIGEST_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vrd {

struct ComputedDigest {
  bool valid = false;
  std::string algorithm;  // the toolkit's name: "SHA256" or "SHA512"
  // The hashed stretches of the file, (offset, length) in order, empty ones
  // left out and adjacent ones merged.
  std::vector<std::pair<int64_t, int64_t>> ranges;
  std::vector<unsigned char> digest;
};

// ranges in the form above: empty stretches left out, adjacent ones merged.
inline std::vector<std::pair<int64_t, int64_t>> MergedRanges(
    const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& [offset, length] : ranges) {
    if (length <= 0) continue;
    if (!merged.empty() && merged.back().first + merged.back().second == offset) {
      merged.back().second += length;
    } else {
      merged.emplace_back(offset, length);
    }
  }
  return merged;
}

}  // namespace vrd

#endif  // VRD_API_COMPUTEDDIGEST_H_
