// libFuzzer target: a CRL or OCSP response (report/Revocation.h) as the
// long-term validation reads it, own DER index included, judged for the
// test authority's certificate and its issuer (tests/data/ltv/pki). Besides
// the sanitizers' checks it asserts the status's contract: a revoked
// status has its decider, and every ignored item says why.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report/Revocation.h"

namespace {

X509* ReadCertificate(const char* name) {
  const std::string path = std::string(VRD_SOURCE_DIR "/tests/data/ltv/pki/") + name;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) abort();
  X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (cert == nullptr) abort();
  return cert;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static X509* const authority = ReadCertificate("tsa-revoked-early.pem");
  static X509* const issuer = ReadCertificate("inter.pem");
  vrd::report::RevocationSet items;
  items.Add(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
  const vrd::report::CertificateStatus status = items.StatusOf(authority, issuer, 1748736000);
  if (status.status == vrd::report::RevocationStatus::kRevoked && status.decided_by.empty()) {
    abort();
  }
  for (const vrd::report::IgnoredRevocationItem& item : status.ignored) {
    if (item.why.empty()) abort();
  }
  return 0;
}
