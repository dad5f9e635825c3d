#include "src/VORirori/ECSP.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "src/VORirori/EcspStages.h"
#include "util/Memory.h"

namespace vrd {
namespace {

// Operation triples, one per core. The engine has already refused negative
// lengths, so the conversion to the cores' unsigned count is exact.
#define VRD_ECSP_OPS(Name, member, Core, size)                                          \
  int Name##InitOp(ECSP_CTX* ctx) noexcept {                                            \
    Core##Init(&ctx->hash.member);                                                      \
    return 0;                                                                           \
  }                                                                                     \
  int Name##UpdateOp(ECSP_CTX* ctx, const unsigned char* data, int length) noexcept {   \
    Core##Update(&ctx->hash.member, data, static_cast<uint32_t>(length));               \
    return 0;                                                                           \
  }                                                                                     \
  int Name##FinalOp(ECSP_CTX* ctx, unsigned char* output, int* outputLength) noexcept { \
    Core##Final(&ctx->hash.member, output);                                             \
    *outputLength = size;                                                               \
    return 0;                                                                           \
  }

VRD_ECSP_OPS(Md5, md5, Md5, kMd5DigestSize)
VRD_ECSP_OPS(Sha1, sha1, Sha1, kSha1DigestSize)
VRD_ECSP_OPS(Sha256, sha256, Sha256, kSha256DigestSize)
VRD_ECSP_OPS(Sha512, sha512, Sha512, kSha512DigestSize)
VRD_ECSP_OPS(Has160, has160, Has160, kHas160DigestSize)

#undef VRD_ECSP_OPS

struct Algorithm {
  int digestSize;
  EcspInitOp init;
  EcspUpdateOp update;
  EcspFinalOp final;
};

constexpr Algorithm kMd5 = {kMd5DigestSize, Md5InitOp, Md5UpdateOp, Md5FinalOp};
constexpr Algorithm kSha1 = {kSha1DigestSize, Sha1InitOp, Sha1UpdateOp, Sha1FinalOp};
constexpr Algorithm kSha256 = {kSha256DigestSize, Sha256InitOp, Sha256UpdateOp, Sha256FinalOp};
constexpr Algorithm kSha512 = {kSha512DigestSize, Sha512InitOp, Sha512UpdateOp, Sha512FinalOp};
constexpr Algorithm kHas160 = {kHas160DigestSize, Has160InitOp, Has160UpdateOp, Has160FinalOp};

struct IdentifierRow {
  int id;
  const Algorithm* algorithm;
};

constexpr IdentifierRow kIdentifiers[] = {
    {1200, &kMd5},      {121201, &kMd5},    {121202, &kMd5},

    {1400, &kSha1},     {13101, &kSha1},    {13102, &kSha1},    {121400, &kSha1},
    {121401, &kSha1},   {121402, &kSha1},   {131401, &kSha1},   {131402, &kSha1},
    {141401, &kSha1},   {141402, &kSha1},   {141403, &kSha1},   {171401, &kSha1},
    {171402, &kSha1},   {171404, &kSha1},

    {1500, &kSha256},   {13202, &kSha256},  {121501, &kSha256}, {121502, &kSha256},
    {131501, &kSha256}, {131502, &kSha256}, {141501, &kSha256}, {141502, &kSha256},
    {171410, &kSha256}, {171411, &kSha256}, {171412, &kSha256},

    {1700, &kSha512},   {121701, &kSha512}, {121702, &kSha512}, {141702, &kSha512},

    {1800, &kHas160},   {141801, &kHas160}, {141802, &kHas160},
};

struct StatusRow {
  int status;
  const char* name;
  const char* text;
};

// Ends with a row whose name is null.
constexpr StatusRow kStatusTable[] = {
    {ECSP_OK, "ECSP_OK", "Successfully completed."},
    {ECSP_FAIL, "ECSP_FAIL", "Incompletely terminated."},
    {ECSP_INVALID_DATA, "ECSP_INVALID_DATA", "Invalid input or output data."},
    {ECSP_MEMORY_ERROR, "ECSP_MEMORY_ERROR", "Memory allocation failed."},
    {ECSP_NOT_ENOUGH_BUFFER, "ECSP_NOT_ENOUGH_BUFFER", "Output buffer is not enough."},
    {ECSP_INVALID_MODE, "ECSP_INVALID_MODE", "Invalid algorithm mode."},
    {ECSP_INVALID_ALGORITHM, "ECSP_INVALID_ALGORITHM", "Invalid algorithm identifier."},
    {ECSP_INVALID_KEY_POINTER, "ECSP_INVALID_KEY_POINTER", "Invalid key pointer."},
    {ECSP_INVALID_KEY, "ECSP_INVALID_KEY", "Invalid key value."},
    {ECSP_INVALID_DATA_POINTER, "ECSP_INVALID_DATA_POINTER",
     "Invalid input or output data pointer"},
    {ECSP_INVALID_INIT_VECTOR, "ECSP_INVALID_INIT_VECTOR", "Initial vector required."},
    {ECSP_STAGED_OPERATION_FAILED, "ECSP_STAGED_OPERATION_FAILED", "Staged operation failed."},
    {ECSP_INVALID_FILE_POINTER, "ECSP_INVALID_FILE_POINTER", "Invalid file pointer."},
    {ECSP_INVALID_CLASS, "ECSP_INVALID_CLASS", "Invalid class."},
    {ECSP_ASN1_OPERATION_FAILED, "ECSP_ASN1_OPERATION_FAILED", "ASN.1 parsing error."},
    {ECSP_INVALID_ENCRYPTED_DATA, "ECSP_INVALID_ENCRYPTED_DATA", "Invalid encrypted data."},
    {ECSP_INVALID_SIGNATURE, "ECSP_INVALID_SIGNATURE", "Invalid signature format."},
    {ECSP_VERIFY_FAIL, "ECSP_VERIFY_FAIL", "Verification of signature or MAC failed."},
    {0, nullptr, nullptr},
};

constexpr size_t kTextSize = 100;
constexpr size_t kStageWordSize = 20;

thread_local char tls_error_text[kTextSize];

// The working record of one call, wiped and released on every path.
class WorkingRecord {
 public:
  WorkingRecord() noexcept : ctx_(static_cast<ECSP_CTX*>(AllocBlock(sizeof(ECSP_CTX)))) {}
  ~WorkingRecord() {
    if (ctx_ == nullptr) return;
    SecureZero(ctx_, sizeof(ECSP_CTX));
    FreeBlock(ctx_);
  }
  WorkingRecord(const WorkingRecord&) = delete;
  WorkingRecord& operator=(const WorkingRecord&) = delete;
  ECSP_CTX* get() const noexcept { return ctx_; }

 private:
  ECSP_CTX* ctx_;
};

}  // namespace

int ECSP_SelectDigest(ECSP_CTX* ctx, int algorithm) noexcept {
  for (const IdentifierRow& row : kIdentifiers) {
    if (row.id != algorithm) continue;
    ctx->digestSize = row.algorithm->digestSize;
    ctx->initOp = row.algorithm->init;
    ctx->updateOp = row.algorithm->update;
    ctx->finalOp = row.algorithm->final;
    return 0;
  }
  ctx->status = ECSP_INVALID_ALGORITHM;
  return 1;
}

int ECSP_DigestInit(ECSP_CTX* ctx, int algorithm) noexcept {
  if (ECSP_SelectDigest(ctx, algorithm) != 0) return 1;
  if (ctx->initOp(ctx) != 0) {
    ctx->status = ECSP_STAGED_OPERATION_FAILED;
    return 1;
  }
  return 0;
}

int ECSP_DigestUpdate(ECSP_CTX* ctx, const unsigned char* input, int inputLength) noexcept {
  if (input == nullptr) {
    ctx->status = ECSP_INVALID_DATA_POINTER;
    return 1;
  }
  // A negative length would otherwise be absorbed as a count near 4 GiB.
  if (inputLength < 0) {
    ctx->status = ECSP_INVALID_DATA;
    return 1;
  }
  if (ctx->updateOp(ctx, input, inputLength) != 0) {
    ctx->status = ECSP_STAGED_OPERATION_FAILED;
    return 1;
  }
  return 0;
}

int ECSP_DigestFinal(ECSP_CTX* ctx, unsigned char* output, int* outputLength) noexcept {
  if (output == nullptr || outputLength == nullptr) {
    ctx->status = ECSP_INVALID_DATA_POINTER;
    return 1;
  }
  if (*outputLength < ctx->digestSize) {
    ctx->status = ECSP_NOT_ENOUGH_BUFFER;
    return 1;
  }
  if (ctx->finalOp(ctx, output, outputLength) != 0) {
    ctx->status = ECSP_STAGED_OPERATION_FAILED;
    return 1;
  }
  return 0;
}

int ECSP_DigestData(int algorithm, unsigned char* output, int* outputLength,
                    const unsigned char* input, int inputLength) noexcept {
  WorkingRecord record;
  ECSP_CTX* ctx = record.get();
  if (ctx == nullptr) return ECSP_MEMORY_ERROR;
  if (ECSP_DigestInit(ctx, algorithm) != 0) return ECSP_STAGE_INIT + ctx->status;
  if (ECSP_DigestUpdate(ctx, input, inputLength) != 0) return ECSP_STAGE_UPDATE + ctx->status;
  if (ECSP_DigestFinal(ctx, output, outputLength) != 0) return ECSP_STAGE_FINAL + ctx->status;
  return ECSP_OK;
}

EcspPartSource::Part EcspPieceArray::Next(ByteSpan& bytes) noexcept {
  if (next_ >= count_) return Part::kEnd;
  // A missing array reads as one part without bytes, which the update refuses.
  bytes = pieces_ == nullptr ? ByteSpan{} : pieces_[next_];
  next_ = pieces_ == nullptr ? count_ : next_ + 1;
  return Part::kBytes;
}

int ECSP_DigestParts(int algorithm, unsigned char* output, int* outputLength,
                     EcspPartSource& source) noexcept {
  WorkingRecord record;
  ECSP_CTX* ctx = record.get();
  if (ctx == nullptr) return ECSP_MEMORY_ERROR;
  if (ECSP_DigestInit(ctx, algorithm) != 0) return ECSP_STAGE_INIT + ctx->status;
  for (;;) {
    ByteSpan part;
    const EcspPartSource::Part next = source.Next(part);
    if (next == EcspPartSource::Part::kEnd) break;
    if (next == EcspPartSource::Part::kUnavailable) return ECSP_CONTENT_UNAVAILABLE;
    if (part.length > static_cast<size_t>(INT32_MAX)) return ECSP_STAGE_UPDATE + ECSP_INVALID_DATA;
    if (part.length == 0 && part.data != nullptr) continue;
    if (ECSP_DigestUpdate(ctx, part.data, static_cast<int>(part.length)) != 0) {
      return ECSP_STAGE_UPDATE + ctx->status;
    }
  }
  if (ECSP_DigestFinal(ctx, output, outputLength) != 0) return ECSP_STAGE_FINAL + ctx->status;
  return ECSP_OK;
}

int ECSP_DigestPieces(int algorithm, unsigned char* output, int* outputLength,
                      const ByteSpan* pieces, size_t pieceCount) noexcept {
  EcspPieceArray parts(pieces, pieceCount);
  return ECSP_DigestParts(algorithm, output, outputLength, parts);
}

const char* ECSP_GetErrorText(int code) noexcept {
  char text[kTextSize] = {};
  char stage[kStageWordSize] = {};
  const uint32_t stage_digit = (static_cast<uint32_t>(code) % 10000u) / 1000u;
  const char* stage_word = "";
  if (stage_digit == 1) {
    stage_word = "Init stage;";
  } else if (stage_digit == 2) {
    stage_word = "Update stage;";
  } else if (stage_digit == 3) {
    stage_word = "Final stage;";
  }
  std::snprintf(stage, sizeof(stage), "%s", stage_word);
  for (const StatusRow* row = kStatusTable; row->name != nullptr; ++row) {
    if (row->status != code % 1000) continue;
    std::snprintf(text, sizeof(text), "%s %s(%d)", stage, row->text, code);
    break;
  }
  std::memcpy(tls_error_text, text, kTextSize - 1);
  tls_error_text[kTextSize - 1] = '\0';
  return tls_error_text;
}

}  // namespace vrd
