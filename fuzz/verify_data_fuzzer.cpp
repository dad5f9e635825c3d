// libFuzzer target: the whole verification through QVTSPdfSigVerifyD over the
// OpenSSL-backed toolkit. The seeds are validly stamped documents, so that
// mutations reach the toolkit stages (CMS, token information, certificate
// loading and verification), not only the document scan.
//
// Besides the sanitizers' checks it asserts the exported contract: a known
// result code (never 2102 or 2104), the four outputs untouched exactly for
// the codes that stop before the digest comparison and NUL-terminated within
// their 512 units otherwise. A document that got as far as certificate
// verification is verified again with the test authorities' roots added (as
// tsverify --trust-anchor does): the outputs must be the same, and the code
// may only move among the post-digest results.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "cli/TsVerifyCore.h"

namespace {

constexpr VrdWideChar kSentinel = 0x3C3C;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<vrd::ByteString>* test_roots = nullptr;

struct Outputs {
  VrdWideChar buffers[4][vrd::kOutputUnits];
  Outputs() {
    for (auto& buffer : buffers) {
      for (VrdWideChar& unit : buffer) unit = kSentinel;
    }
  }
  bool Untouched() const {
    for (const auto& buffer : buffers) {
      for (VrdWideChar unit : buffer) {
        if (unit != kSentinel) return false;
      }
    }
    return true;
  }
  bool Terminated() const {
    for (const auto& buffer : buffers) {
      bool found = false;
      for (VrdWideChar unit : buffer) found = found || unit == 0;
      if (!found) return false;
    }
    return true;
  }
  bool SameTexts(const Outputs& other) const {
    for (int b = 0; b < 4; ++b) {
      for (int i = 0; i < vrd::kOutputUnits; ++i) {
        if (buffers[b][i] != other.buffers[b][i]) return false;
        if (buffers[b][i] == 0) break;
      }
    }
    return true;
  }
};

bool StopsBeforeDigest(int code) {
  return code == vrd::UnsupportedAlgorithm || code == vrd::TokenUnreadable ||
         code == vrd::NoTimeStampToken || code == vrd::SignedDataInvalid;
}

bool AfterDigest(int code) {
  return code == vrd::ResultOk || code == vrd::DigestMismatch ||
         code == vrd::SignerCertificateUnreadable || code == vrd::CertificateVerifyFailed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // PDF scanning reports failures on standard output; keep the fuzzer's own
  // output (on standard error) readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  test_roots = new std::vector<vrd::ByteString>;
  for (const char* file : {"/tests/data/pki/root.pem", "/samples/sample-root.pem"}) {
    std::string pem;
    Check(vrd::cli::ReadWholeFile(std::string(VRD_SOURCE_DIR) + file, pem));
    Check(vrd::cli::ParsePemCertificates(pem, *test_roots));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  Outputs out;
  const int code = QVTSPdfSigVerifyD(data, static_cast<int32_t>(size), out.buffers[0],
                                     out.buffers[1], out.buffers[2], out.buffers[3]);
  Check(StopsBeforeDigest(code) || AfterDigest(code) || code == vrd::ToolkitSetupFailed);
  if (StopsBeforeDigest(code)) Check(out.Untouched());
  if (AfterDigest(code)) Check(!out.Untouched() && out.Terminated());
  if (code != vrd::CertificateVerifyFailed) return 0;

  vrd::ByteString document;
  Check(document.SetData(data, static_cast<int>(size)) == vrd::ByteString::kOk);
  vrd::ExtraTrustedRoots roots;
  roots.certificates = test_roots->data();
  roots.count = test_roots->size();
  Outputs trusted;
  const int trusted_code = vrd::VerifyTimeStampToken(
      document, {trusted.buffers[0], trusted.buffers[1], trusted.buffers[2], trusted.buffers[3]},
      roots);
  Check(AfterDigest(trusted_code) || trusted_code == vrd::ToolkitSetupFailed);
  Check(trusted.SameTexts(out));
  return 0;
}
