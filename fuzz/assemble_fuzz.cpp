// libFuzzer target: signed content assembly over arbitrary document bytes.
// Besides the sanitizers' checks it asserts the stage's contract: one of the
// three results, outputs untouched on failure, token bytes ending in the
// four zero bytes that follow the DER encoding, and the stage over the
// caller's bytes as they lie (the QVTSPdfSigVerifyD path) giving the same
// result and the same hashed bytes without ever writing them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/AssembleSignedContent.h"

namespace {

constexpr char kUntouched[] = "untouched";

bool Holds(const vrd::ByteString& s, const char* text) {
  const size_t n = strlen(text);
  return static_cast<size_t>(s.GetLength()) == n && memcmp(s.GetData(), text, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // PDF scanning reports failures on standard output; keep the fuzzer's
  // own output (on standard error) readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  vrd::ByteString document;
  if (document.SetData(data, static_cast<int>(size)) != vrd::ByteString::kOk) return 0;
  vrd::ByteString content(kUntouched);
  vrd::ByteString token(kUntouched);
  const int rc = vrd::AssembleSignedContent(document, content, token);
  if (rc == vrd::ResultOk) {
    const int n = token.GetLength();
    if (n < 4) abort();
    for (int i = n - 4; i < n; ++i) {
      if (token.GetData()[i] != 0) abort();
    }
  } else if (rc == vrd::TokenUnreadable || rc == vrd::NoTimeStampToken) {
    if (!Holds(content, kUntouched) || !Holds(token, kUntouched)) abort();
  } else {
    abort();
  }
  if (document.GetLength() != static_cast<int>(size)) abort();

  const std::string before(reinterpret_cast<const char*>(data), size);
  vrd::WorkingDocument borrowed(data, static_cast<int32_t>(size));
  vrd::SignedContent pieces;
  vrd::ByteString borrowed_token;
  const vrd::DocumentOutcome outcome = vrd::AssembleDocument(borrowed, pieces, borrowed_token);
  if (vrd::ResultCodeOf(outcome) != rc) abort();
  if (before.compare(0, size, reinterpret_cast<const char*>(data), size) != 0) abort();
  if (rc == vrd::ResultOk) {
    std::string joined;
    for (const vrd::ByteSpan& piece : pieces.pieces) {
      joined.append(reinterpret_cast<const char*>(piece.data), piece.length);
    }
    if (joined != std::string(content.GetData(), static_cast<size_t>(content.GetLength()))) abort();
    if (!(borrowed_token == token)) abort();
  }
  return 0;
}
