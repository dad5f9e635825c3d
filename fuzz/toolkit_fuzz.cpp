// libFuzzer target: every toolkit operation that reads caller bytes, over
// arbitrary input. Besides the sanitizers' checks it asserts the contract:
// known return codes only, texts NUL-terminated within their capacity, and
// outputs filled exactly when the operation succeeds.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "toolkit/qvtk.h"

namespace {

constexpr int32_t kCapacity = 256;

bool Terminated(const char* text) { return std::memchr(text, '\0', kCapacity) != nullptr; }

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  QVTK_CTX ctx = nullptr;
  Check(QVTK_API_Init(&ctx, ".") == QVTK_OK);
  QVTK_BINSTR in;
  QVTK_BINSTR out;
  QVTK_BINSTR cert;
  Check(QVTK_BINSTR_Create(&in) == QVTK_OK && QVTK_BINSTR_Create(&out) == QVTK_OK &&
        QVTK_BINSTR_Create(&cert) == QVTK_OK);
  Check(QVTK_BINSTR_SetData(data, static_cast<int32_t>(size), &in) == QVTK_OK);

  int32_t type = -1;
  const int processed = QVTK_CMS_ProcessSignedData(ctx, 0, &in, &out, &type);
  Check(processed != QVTK_OK || type == 0 || type == 1);
  Check(processed == QVTK_OK || (processed >= 1001 && processed <= 1506));

  char t[6][kCapacity];
  const int info =
      QVTK_TSP_GetTokenInfo(ctx, &in, kCapacity, t[0], t[1], t[2], t[3], t[4], t[5], &cert);
  if (info == QVTK_OK) {
    for (const char* text : t) Check(Terminated(text));
    Check(cert.length > 0);
    Check(QVTK_CERT_Load(ctx, &cert) == QVTK_OK);
    char name[kCapacity];
    const int named = QVTK_CERT_GetSubjectName(ctx, kCapacity, name);
    Check(named != QVTK_OK || Terminated(name));
    const int verified = QVTK_CERT_Verify(ctx, &cert, 1, 0, 0, nullptr, nullptr);
    Check(verified != QVTK_OK);  // no roots installed: nothing can be trusted
  } else {
    Check(cert.length == 0);
  }

  // The same bytes as a certificate, a root, a CA set and Base64 text.
  if (QVTK_CERT_Load(ctx, &in) == QVTK_OK) {
    char name[kCapacity];
    const int named = QVTK_CERT_GetSubjectName(ctx, kCapacity, name);
    Check(named != QVTK_OK || Terminated(name));
  }
  (void)QVTK_CERT_AddTrustedCert(ctx, &in);
  (void)QVTK_CERT_SetCaPubs(ctx, &in);
  (void)QVTK_CERT_Verify(ctx, &in, 1, 0, 0, nullptr, nullptr);
  const int decoded = QVTK_BASE64_Decode(ctx, &in, &in);
  Check(decoded == QVTK_OK || decoded == QVTK_ERR_BASE64);
  Check(decoded != QVTK_OK || static_cast<size_t>(in.length) <= size / 4 * 3);
  char err[4096];
  Check(QVTK_API_GetErrInfo(ctx, sizeof err, err) == QVTK_OK);

  Check(QVTK_BINSTR_Delete(&in) == QVTK_OK && QVTK_BINSTR_Delete(&out) == QVTK_OK &&
        QVTK_BINSTR_Delete(&cert) == QVTK_OK);
  Check(QVTK_API_Finish(&ctx) == QVTK_OK && ctx == nullptr);
  return 0;
}
