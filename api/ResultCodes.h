// Result codes of the two exported verification functions. 0 is success;
// every failure has a value from 2101 to 2110 (2102 is never returned). The
// values are the public constants of vrd/tsverify.h, so the two cannot drift.
#ifndef VRD_API_RESULTCODES_H_
#define VRD_API_RESULTCODES_H_

#include "vrd/tsverify.h"

namespace vrd {

enum ResultCode : int {
  ResultOk = VRD_TSV_OK,
  DigestMismatch = VRD_TSV_DIGEST_MISMATCH,
  UnsupportedAlgorithm = VRD_TSV_UNSUPPORTED_ALGORITHM,
  FileUnreadable = VRD_TSV_FILE_UNREADABLE,
  ToolkitSetupFailed = VRD_TSV_TOOLKIT_SETUP_FAILED,
  TokenUnreadable = VRD_TSV_TOKEN_UNREADABLE,
  SignerCertificateUnreadable = VRD_TSV_SIGNER_CERTIFICATE_UNREADABLE,
  NoTimeStampToken = VRD_TSV_NO_TIME_STAMP_TOKEN,
  CertificateVerifyFailed = VRD_TSV_CERTIFICATE_VERIFY_FAILED,
  SignedDataInvalid = VRD_TSV_SIGNED_DATA_INVALID,
};

// The published values are part of the interface: callers compiled against an
// older header must keep getting the same numbers.
static_assert(ResultOk == 0 && DigestMismatch == 2101 && UnsupportedAlgorithm == 2103 &&
                  FileUnreadable == 2104 && ToolkitSetupFailed == 2105 && TokenUnreadable == 2106 &&
                  SignerCertificateUnreadable == 2107 && NoTimeStampToken == 2108 &&
                  CertificateVerifyFailed == 2109 && SignedDataInvalid == 2110,
              "published result codes changed");

}  // namespace vrd

#endif  // VRD_API_RESULTCODES_H_
