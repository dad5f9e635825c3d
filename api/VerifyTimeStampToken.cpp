#include "api/VerifyTimeStampToken.h"

#include <cstdint>
#include <cstring>

#include "api/AssembleSignedContent.h"
#include "api/FileContent.h"
#include "api/ResultCodes.h"
#include "api/TrustAnchors.h"
#include "src/VORirori/QVHash.h"
#include "toolkit/qvtk.h"

namespace vrd {

namespace {

// Capacity of every text buffer handed to the toolkit, NUL included.
constexpr int kTextCapacity = 1024;

// Every byte of an ANSI text yields at most one UTF-16 unit (a four-byte
// UTF-8 sequence yields two), so a text that fits the toolkit's buffers
// converts into this many units, terminator included.
constexpr int kWideScratchUnits = kTextCapacity;

bool IsHighSurrogate(VrdWideChar unit) {
  const auto value = static_cast<uint32_t>(unit);
  return value >= 0xD800u && value <= 0xDBFFu;
}

// The toolkit objects of one call, created in the order the call needs them
// and released in the order the toolkit expects: anchor, extra-root and
// certificate strings while the context is still open, then the context, then
// the token and the signed-data output.
class ToolkitObjects {
 public:
  explicit ToolkitObjects(size_t extra_root_count) noexcept : extra_root_count_(extra_root_count) {
    (void)QVTK_BINSTR_Create(&token);
    (void)QVTK_BINSTR_Create(&certificate);
    (void)QVTK_BINSTR_Create(&signed_data_output);
    for (QVTK_BINSTR& anchor : anchors) (void)QVTK_BINSTR_Create(&anchor);
    for (size_t i = 0; i < extra_root_count_; ++i) (void)QVTK_BINSTR_Create(&extra_roots[i]);
  }
  ToolkitObjects(const ToolkitObjects&) = delete;
  ToolkitObjects& operator=(const ToolkitObjects&) = delete;

  ~ToolkitObjects() {
    for (QVTK_BINSTR& anchor : anchors) (void)QVTK_BINSTR_Delete(&anchor);
    for (size_t i = 0; i < extra_root_count_; ++i) (void)QVTK_BINSTR_Delete(&extra_roots[i]);
    (void)QVTK_BINSTR_Delete(&certificate);
    if (initialized_ && context != nullptr) (void)QVTK_API_Finish(&context);
    (void)QVTK_BINSTR_Delete(&token);
    (void)QVTK_BINSTR_Delete(&signed_data_output);
  }

  [[nodiscard]] int OpenContext() noexcept {
    const int status = QVTK_API_Init(&context, ".");
    initialized_ = status == QVTK_OK;
    return status;
  }

  QVTK_CTX context = nullptr;
  QVTK_BINSTR token{};
  QVTK_BINSTR certificate{};
  QVTK_BINSTR signed_data_output{};
  QVTK_BINSTR anchors[kTrustAnchorStrings]{};
  QVTK_BINSTR extra_roots[kMaxExtraTrustedRoots]{};

 private:
  size_t extra_root_count_;
  bool initialized_ = false;
};

// The six TSTInfo texts of QVTK_TSP_GetTokenInfo, in its argument order.
struct TokenTexts {
  char policy[kTextCapacity];
  char algorithm[kTextCapacity];
  char imprint[kTextCapacity];
  char serial[kTextCapacity];
  char gen_time[kTextCapacity];
  char tsa_name[kTextCapacity];
};

// The built-in anchors did not verify the certificate: add the caller's roots
// to the same context and verify once more. prior is the result the anchors
// stage started from (0, 2101 or 2107).
int VerifyWithExtraRoots(ToolkitObjects& objects, const ExtraTrustedRoots& roots, int prior) {
  for (size_t i = 0; i < roots.count; ++i) {
    const ByteString& der = roots.certificates[i];
    (void)QVTK_BINSTR_SetData(der.GetBytes(), der.GetLength(), &objects.extra_roots[i]);
    if (QVTK_CERT_AddTrustedCert(objects.context, &objects.extra_roots[i]) != QVTK_OK) {
      return ToolkitSetupFailed;
    }
  }
  const int verified =
      QVTK_CERT_Verify(objects.context, &objects.certificate, 1, 0, 0, nullptr, nullptr);
  if (verified == QVTK_OK || verified == QVTK_CERT_EXPIRED_SINCE_TSA) return prior;
  return CertificateVerifyFailed;
}

}  // namespace

void WriteOutputText(const char* text, VrdWideChar* out) noexcept {
  if (out == nullptr) return;
  char bounded[kTextCapacity];
  const size_t length = text == nullptr ? 0 : strnlen(text, kTextCapacity - 1);
  if (length > 0) std::memcpy(bounded, text, length);
  bounded[length] = '\0';

  VrdWideChar wide[kWideScratchUnits];
  const int converted = MultiByteToWideChar(CP_ACP, 0, bounded, -1, wide, kWideScratchUnits);
  // converted counts the terminator; 0 means the conversion failed.
  size_t units = converted > 0 ? static_cast<size_t>(converted) - 1 : 0;
  if (units > static_cast<size_t>(kOutputUnits - 1)) {
    units = kOutputUnits - 1;
    if (IsHighSurrogate(wide[units - 1])) --units;
  }
  for (size_t i = 0; i < units; ++i) out[i] = wide[i];
  out[units] = 0;
}

int VerifyTimeStampToken(ByteString& document, const OutputTexts& out,
                         const ExtraTrustedRoots& extra_roots) {
  WorkingDocument working(document);
  return VerifyWorkingDocument(working, out, extra_roots);
}

int VerifyWorkingDocument(WorkingDocument& document, const OutputTexts& out,
                          const ExtraTrustedRoots& extra_roots, DocumentOutcome* outcome,
                          ComputedDigest* computed) {
  if (outcome != nullptr) *outcome = DocumentOutcome::kAssembled;
  if (!ExtraRootsUsable(extra_roots)) return ToolkitSetupFailed;

  SignedContent signed_content;
  ByteString token_bytes;
  const DocumentOutcome assembled = AssembleDocument(document, signed_content, token_bytes);
  if (outcome != nullptr) *outcome = assembled;
  if (assembled != DocumentOutcome::kAssembled) return ResultCodeOf(assembled);
  // Bytes the template was written over are not the file's.
  return VerifyAssembledDocument(signed_content, token_bytes, out, extra_roots, nullptr,
                                 document.written() ? nullptr : computed);
}

namespace {

// The digest and what it covers, when every piece is a stretch of the file.
void ShareDigest(const SignedContent& content, const char* algorithm, const ByteString& digest,
                 ComputedDigest* computed) noexcept {
  try {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (size_t i = 0; i < content.pieces.size(); ++i) {
      if (content.positions[i] == SignedContent::kAddedLineFeed) return;
      ranges.emplace_back(content.positions[i], static_cast<int64_t>(content.pieces[i].length));
    }
    computed->ranges = MergedRanges(ranges);
    computed->algorithm = algorithm;
    computed->digest.assign(digest.GetBytes(), digest.GetBytes() + digest.GetLength());
    computed->valid = true;
  } catch (...) {
    computed->valid = false;  // no memory: nothing shared
  }
}

}  // namespace

bool ExtraRootsUsable(const ExtraTrustedRoots& extra_roots) noexcept {
  return extra_roots.count <= kMaxExtraTrustedRoots &&
         (extra_roots.count == 0 || extra_roots.certificates != nullptr);
}

int VerifyAssembledDocument(const SignedContent& signed_content, const ByteString& token_bytes,
                            const OutputTexts& out, const ExtraTrustedRoots& extra_roots,
                            FileContent* file, ComputedDigest* computed) {
  if (!ExtraRootsUsable(extra_roots)) return ToolkitSetupFailed;
  QVHash hash;
  ToolkitObjects objects(extra_roots.count);
  (void)QVTK_BINSTR_SetData(token_bytes.GetBytes(), token_bytes.GetLength(), &objects.token);

  if (objects.OpenContext() != QVTK_OK) return ToolkitSetupFailed;

  int32_t content_type = 0;
  if (QVTK_CMS_ProcessSignedData(objects.context, 0, &objects.token, &objects.signed_data_output,
                                 &content_type) != QVTK_OK) {
    return SignedDataInvalid;
  }

  TokenTexts texts{};
  if (QVTK_TSP_GetTokenInfo(objects.context, &objects.token, kTextCapacity, texts.policy,
                            texts.algorithm, texts.imprint, texts.serial, texts.gen_time,
                            texts.tsa_name, &objects.certificate) != QVTK_OK) {
    return TokenUnreadable;
  }
  // Never read past the buffers, whatever the toolkit left in them.
  texts.algorithm[kTextCapacity - 1] = '\0';
  texts.imprint[kTextCapacity - 1] = '\0';
  texts.gen_time[kTextCapacity - 1] = '\0';

  int algorithm = 0;
  if (std::strcmp(texts.algorithm, "SHA256") == 0) {
    algorithm = kFacadeSha256;
  } else if (std::strcmp(texts.algorithm, "SHA512") == 0) {
    algorithm = kFacadeSha512;
  } else {
    return UnsupportedAlgorithm;
  }

  int result = ResultOk;

  ByteString imprint;
  (void)imprint.SetData(texts.imprint, static_cast<int>(std::strlen(texts.imprint)));
  ByteString digest;
  int digest_status = 0;
  if (file != nullptr) {
    FileContentParts parts(signed_content, *file);
    digest_status = hash.DigestParts(algorithm, parts, digest);
    file->digest_ran = true;
    // The whole file could not be read: as if it had not loaded.
    if (digest_status == QVHash::kContentUnavailable) return FileUnreadable;
  } else {
    digest_status = hash.DigestPieces(algorithm, signed_content.pieces.data(),
                                      signed_content.pieces.size(), digest);
  }
  if (computed != nullptr && digest_status == 0) {
    ShareDigest(signed_content, texts.algorithm, digest, computed);
  }
  const ByteString digest_text = digest.HexEncode();
  // A digest that could not be computed must never pass for a match, not even
  // against an empty imprint text.
  if (digest_status != 0 || digest_text.GetLength() == 0 || digest_text != imprint) {
    result = DigestMismatch;
  }

  if (QVTK_CERT_Load(objects.context, &objects.certificate) != QVTK_OK) {
    result = SignerCertificateUnreadable;
  }
  char subject[kTextCapacity] = {};
  if (QVTK_CERT_GetSubjectName(objects.context, kTextCapacity, subject) != QVTK_OK) {
    result = SignerCertificateUnreadable;
    subject[0] = '\0';
  }
  subject[kTextCapacity - 1] = '\0';

  WriteOutputText(texts.gen_time, out.gen_time);
  WriteOutputText(texts.algorithm, out.hash_algorithm);
  WriteOutputText(texts.imprint, out.hashed_message);
  WriteOutputText(subject, out.subject_name);

  (void)QVTK_CERT_Unload(objects.context);

  const int before_anchors = result;
  result =
      InstallTrustAnchorsAndVerify(objects.context, &objects.certificate, objects.anchors, result);
  if (result == CertificateVerifyFailed && extra_roots.count > 0) {
    result = VerifyWithExtraRoots(objects, extra_roots, before_anchors);
  }
  return result;
}

}  // namespace vrd
