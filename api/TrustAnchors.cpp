#include "api/TrustAnchors.h"

#include <cstring>

#include "api/ResultCodes.h"

namespace vrd {

int InstallTrustAnchorsAndVerify(QVTK_CTX ctx, const QVTK_BINSTR* certificate, QVTK_BINSTR* strings,
                                 int result) noexcept {
  if (strings == nullptr) return ToolkitSetupFailed;
  QVTK_BINSTR* const texts = strings;
  QVTK_BINSTR* const ca_pubs = strings + kMaxTrustedRoots;
  QVTK_BINSTR* const decoded = strings + kMaxTrustedRoots + 1;

  // A failed store or decoding shows up as a failed installation below.
  for (size_t i = 0; i < kTrustedRootCount; ++i) {
    const char* text = kTrustedRoots[i].base64;
    (void)QVTK_BINSTR_SetData(text, static_cast<int32_t>(std::strlen(text)), &texts[i]);
  }
  (void)QVTK_BINSTR_SetData(kCaPubs.base64, static_cast<int32_t>(std::strlen(kCaPubs.base64)),
                            ca_pubs);
  for (size_t i = 0; i < kTrustedRootCount; ++i) {
    (void)QVTK_BASE64_Decode(ctx, &texts[i], &decoded[i]);
  }
  (void)QVTK_BASE64_Decode(ctx, ca_pubs, ca_pubs);

  for (size_t i = 0; i < kTrustedRootCount; ++i) {
    if (QVTK_CERT_AddTrustedCert(ctx, &decoded[i]) != 0) return ToolkitSetupFailed;
  }
  if (QVTK_CERT_SetCaPubs(ctx, ca_pubs) != 0) return ToolkitSetupFailed;
  if (QVTK_CERT_SetVerifyEnv1(ctx, 1, 0, 1, 0) != 0) return ToolkitSetupFailed;

  const int verified = QVTK_CERT_Verify(ctx, certificate, 1, 0, 0, nullptr, nullptr);
  if (verified != QVTK_OK && verified != QVTK_CERT_EXPIRED_SINCE_TSA) {
    return CertificateVerifyFailed;
  }
  return result;
}

}  // namespace vrd
