// libFuzzer target: the reader behind tsverify --trust-anchor (PEM blocks or
// one DER certificate, ParsePemCertificates) over arbitrary file contents,
// then, as tsverify does, the roots it accepted installed for the
// verification of a validly stamped document (samples/sample.pdf).
//
// Besides the sanitizers' checks it asserts the reader's contract: roots
// untouched on failure, at least one non-empty root added on success, a text
// without PEM blocks taken whole as DER; and that a verification with
// whatever roots still ends with one of the results after the digest check
// or 2105, its outputs written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "cli/TsVerifyCore.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr char kKept[] = "kept";

std::string* stamped_document = nullptr;

bool Holds(const vrd::ByteString& s, const std::string& bytes) {
  return static_cast<size_t>(s.GetLength()) == bytes.size() &&
         std::memcmp(s.GetData(), bytes.data(), bytes.size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  stamped_document = new std::string;
  Check(vrd::cli::ReadWholeFile(std::string(VRD_SOURCE_DIR) + "/samples/sample.pdf",
                                *stamped_document));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<vrd::ByteString> roots(1, vrd::ByteString(kKept));
  const bool parsed = vrd::cli::ParsePemCertificates(text, roots);
  Check(Holds(roots[0], kKept));
  if (!parsed) {
    Check(roots.size() == 1);
    return 0;
  }
  Check(roots.size() >= 2);
  for (size_t i = 1; i < roots.size(); ++i) Check(roots[i].GetLength() > 0);
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    Check(roots.size() == 2 && Holds(roots[1], text));
  }
  if (roots.size() - 1 > vrd::kMaxExtraTrustedRoots) return 0;

  vrd::ByteString document;
  Check(document.SetData(stamped_document->data(), static_cast<int>(stamped_document->size())) ==
        vrd::ByteString::kOk);
  vrd::ExtraTrustedRoots extra;
  extra.certificates = roots.data() + 1;
  extra.count = roots.size() - 1;
  VrdWideChar out[4][vrd::kOutputUnits] = {};
  const int code = vrd::VerifyTimeStampToken(document, {out[0], out[1], out[2], out[3]}, extra);
  Check(code == vrd::ResultOk || code == vrd::CertificateVerifyFailed ||
        code == vrd::ToolkitSetupFailed);
  Check(out[1][0] == 'S');  // "SHA256": the outputs were written
  return 0;
}
