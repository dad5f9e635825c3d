// VerifyTimeStampToken: the one verification routine behind both exported
// functions. It takes the library's own copy of a PDF document, rebuilds the
// signed content and the RFC 3161 token, lets the crypto toolkit check the
// token's CMS signature and report its fields, recomputes the digest of the
// content, and verifies the time-stamping authority's certificate against the
// compiled-in trust anchors.
//
// Ownership: the caller owns the document (which the routine may change, see
// AssembleSignedContent) and the four output buffers. Everything the routine
// creates - toolkit context, toolkit binary strings, strings, the hash object -
// is released before it returns, on every path.
//
// Output buffers: kOutputUnits UTF-16 units each. They are either all left as
// they were (results 2103, 2105 from opening the toolkit, 2106, 2108, 2110) or
// all written: genTime, hashAlgorithm, hashedMessage and subjectName, each a
// NUL-terminated text of at most kOutputUnits - 1 units. A longer text is cut
// at a code-point boundary. A null buffer pointer is skipped. After a failed
// subject-name read subjectName holds the empty text.
#ifndef VRD_API_VERIFYTIMESTAMPTOKEN_H_
#define VRD_API_VERIFYTIMESTAMPTOKEN_H_

#include <cstddef>

#include "api/AssembleSignedContent.h"
#include "api/ComputedDigest.h"
#include "api/DocumentOutcome.h"
#include "platform/Win32Compat.h"
#include "util/ByteString.h"

namespace vrd {

struct FileContent;

constexpr int kOutputUnits = 512;

// Trusted roots beyond the built-in anchors (DER certificates), for private or
// test time-stamping authorities. They are consulted only when the built-in
// anchors do not verify the certificate, and are added to the same toolkit
// context after them. The exported functions never pass any.
struct ExtraTrustedRoots {
  const ByteString* certificates = nullptr;
  size_t count = 0;
};
constexpr size_t kMaxExtraTrustedRoots = 16;

// The four caller-owned output buffers, kOutputUnits units each; a null
// pointer is skipped.
struct OutputTexts {
  VrdWideChar* gen_time = nullptr;
  VrdWideChar* hash_algorithm = nullptr;
  VrdWideChar* hashed_message = nullptr;
  VrdWideChar* subject_name = nullptr;
};

// Returns the result code (api/ResultCodes.h). More than kMaxExtraTrustedRoots
// extra roots gives ToolkitSetupFailed before anything is done.
[[nodiscard]] int VerifyTimeStampToken(ByteString& document, const OutputTexts& out,
                                       const ExtraTrustedRoots& extra_roots = {});

// The same over a working document (api/AssembleSignedContent.h), so that a
// caller's bytes can be verified without a copy. When outcome is not null it
// receives the document stage's outcome (kAssembled when the stage passed,
// and also when the call ended before the stage ran).
// computed, when not null, receives the digest of the signed content when
// there is one to share (api/ComputedDigest.h).
[[nodiscard]] int VerifyWorkingDocument(WorkingDocument& document, const OutputTexts& out,
                                        const ExtraTrustedRoots& extra_roots = {},
                                        DocumentOutcome* outcome = nullptr,
                                        ComputedDigest* computed = nullptr);

// Whether extra_roots can be used: at most kMaxExtraTrustedRoots of them,
// and an array when there are any.
[[nodiscard]] bool ExtraRootsUsable(const ExtraTrustedRoots& extra_roots) noexcept;

// What follows the document stage once it has passed (VerifyWorkingDocument
// is the stage and then this): the token's CMS signature and fields, the
// digest of the signed content, the certificate. With a file
// (api/FileContent.h), the pieces that came without data are read from it as
// the digest goes; when the file cannot be read in full the result is
// FileUnreadable and the outputs are left as they were.
[[nodiscard]] int VerifyAssembledDocument(const SignedContent& signed_content,
                                          const ByteString& token_bytes, const OutputTexts& out,
                                          const ExtraTrustedRoots& extra_roots, FileContent* file,
                                          ComputedDigest* computed = nullptr);

// Converts a NUL-terminated ANSI text of at most 1024 bytes (NUL included;
// longer texts are read only that far) and stores at most kOutputUnits - 1
// units of it plus a NUL in out, never splitting a surrogate pair. A null out
// is left alone.
void WriteOutputText(const char* text, VrdWideChar* out) noexcept;

}  // namespace vrd

#endif  // VRD_API_VERIFYTIMESTAMPTOKEN_H_
