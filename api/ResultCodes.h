// Result codes of the two exported verification functions. 0 is success;
// every failure has a value from 2101 to 2110 (2102 is never returned).
#ifndef VRD_API_RESULTCODES_H_
#define VRD_API_RESULTCODES_H_

namespace vrd {

enum ResultCode : int {
  ResultOk = 0,
  DigestMismatch = 2101,
  UnsupportedAlgorithm = 2103,
  FileUnreadable = 2104,
  ToolkitSetupFailed = 2105,
  TokenUnreadable = 2106,
  SignerCertificateUnreadable = 2107,
  NoTimeStampToken = 2108,
  CertificateVerifyFailed = 2109,
  SignedDataInvalid = 2110,
};

}  // namespace vrd

#endif  // VRD_API_RESULTCODES_H_
