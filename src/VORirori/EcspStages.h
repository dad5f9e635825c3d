// The three stages of the ECSP engine and the algorithm selection behind
// them, over a caller-provided working record. Internal to the engine:
// ECSP_DigestData and ECSP_DigestPieces (ECSP.h) are the interface; only
// the engine and its tests include this header. Each returns 0, or 1 with
// ctx->status set to the failing status.
#ifndef VRD_SRC_VORIRORI_ECSPSTAGES_H_
#define VRD_SRC_VORIRORI_ECSPSTAGES_H_

#include "src/VORirori/ECSP.h"

namespace vrd {

[[nodiscard]] int ECSP_SelectDigest(ECSP_CTX* ctx, int algorithm) noexcept;
[[nodiscard]] int ECSP_DigestInit(ECSP_CTX* ctx, int algorithm) noexcept;
[[nodiscard]] int ECSP_DigestUpdate(ECSP_CTX* ctx, const unsigned char* input,
                                    int inputLength) noexcept;
[[nodiscard]] int ECSP_DigestFinal(ECSP_CTX* ctx, unsigned char* output,
                                   int* outputLength) noexcept;

}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_ECSPSTAGES_H_
