// The compiled-in trust anchors and the certificate check that runs last in
// every verification: decode the anchor texts with the toolkit, install the
// roots and the CA certificate set into the call's toolkit context, set the
// verification environment and verify the time-stamping authority's
// certificate.
#ifndef VRD_API_TRUSTANCHORS_H_
#define VRD_API_TRUSTANCHORS_H_

#include <cstddef>

#include "toolkit/qvtk.h"

namespace vrd {

// One anchor: a single-line Base64 text (no PEM lines) of a DER certificate,
// or, for the last entry, of a DER SEQUENCE of CA certificates.
struct TrustAnchorText {
  const char* name;
  const char* base64;
};

// Roots, in installation order, then the CA set. kTrustAnchorStrings is the
// number of toolkit binary strings the stage needs (texts plus the decoded
// roots; the CA set is decoded in place).
extern const TrustAnchorText kTrustedRoots[];
extern const size_t kTrustedRootCount;
extern const TrustAnchorText kCaPubs;
constexpr size_t kMaxTrustedRoots = 6;
constexpr size_t kTrustAnchorStrings = 2 * kMaxTrustedRoots + 1;

// Runs the stage with strings created by the caller (kTrustAnchorStrings of
// them, released by the caller). Layout: strings[i] holds root text i and
// strings[kMaxTrustedRoots + 1 + i] its decoding (i < kTrustedRootCount);
// strings[kMaxTrustedRoots] holds the CA set, decoded in place. Slots of
// absent roots stay untouched. Null strings give ToolkitSetupFailed. Returns `result` unchanged, or
// ToolkitSetupFailed (2105) when a root, the CA set or the environment cannot
// be installed, or CertificateVerifyFailed (2109) when verification returns
// neither 0 nor 1518.
[[nodiscard]] int InstallTrustAnchorsAndVerify(QVTK_CTX ctx, const QVTK_BINSTR* certificate,
                                               QVTK_BINSTR* strings, int result) noexcept;

}  // namespace vrd

#endif  // VRD_API_TRUSTANCHORS_H_
