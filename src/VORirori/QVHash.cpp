#include "src/VORirori/QVHash.h"

#include "src/VORirori/ECSP.h"
#include "util/Memory.h"

namespace vrd {
namespace {

constexpr int kDigestBufferSize = 256;
constexpr const char* kSourcePath = "src\\VORirori\\QVHash";

}  // namespace

QVHash::QVHash() : VORiroriBase("QVHash") {}

QVHash::~QVHash() {
  if (ownedBlock_ != nullptr) {
    FreeBlock(ownedBlock_);
    ownedBlock_ = nullptr;
  }
}

int QVHash::DigestData(int algorithm, const ByteString& input, ByteString& digest,
                       int iterations) noexcept {
  return DigestData(algorithm, input.GetData(), input.GetLength(), digest, iterations);
}

int QVHash::DigestData(int algorithm, const void* data, int length, ByteString& digest,
                       int iterations) noexcept {
  const int ecsp_algorithm = BeginDigest(algorithm);
  if (ecsp_algorithm < 0) return 1;

  unsigned char buffer[kDigestBufferSize];
  int buffer_length = kDigestBufferSize;
  int code = ECSP_DigestData(ecsp_algorithm, buffer, &buffer_length,
                             static_cast<const unsigned char*>(data), length);
  if (code != ECSP_OK) {
    writeLog(kSourcePath, 126, className_, "DigestData", "ECSP_DigestData", 4,
             ECSP_GetErrorText(code));
    return 4;
  }
  for (int done = 1; done < iterations; ++done) {
    code = ECSP_DigestData(ecsp_algorithm, buffer, &buffer_length, buffer, buffer_length);
    if (code != ECSP_OK) {
      SecureZero(buffer, sizeof(buffer));
      writeLog(kSourcePath, 120, className_, "DigestData", "ECSP_DigestData", 3,
               ECSP_GetErrorText(code));
      return 3;
    }
  }
  return StoreDigest(buffer, buffer_length, digest);
}

int QVHash::DigestPieces(int algorithm, const ByteSpan* pieces, size_t count,
                         ByteString& digest) noexcept {
  EcspPieceArray parts(pieces, count);
  return DigestParts(algorithm, parts, digest);
}

int QVHash::DigestParts(int algorithm, EcspPartSource& source, ByteString& digest) noexcept {
  const int ecsp_algorithm = BeginDigest(algorithm);
  if (ecsp_algorithm < 0) return 1;
  unsigned char buffer[kDigestBufferSize];
  int buffer_length = kDigestBufferSize;
  const int code = ECSP_DigestParts(ecsp_algorithm, buffer, &buffer_length, source);
  if (code == ECSP_CONTENT_UNAVAILABLE) return kContentUnavailable;
  if (code != ECSP_OK) {
    writeLog(kSourcePath, 126, className_, "DigestData", "ECSP_DigestData", 4,
             ECSP_GetErrorText(code));
    return 4;
  }
  return StoreDigest(buffer, buffer_length, digest);
}

int QVHash::BeginDigest(int algorithm) noexcept {
  methodName_ = "DigestData";
  const int ecsp_algorithm = getECSP_AlgID(algorithm);
  if (ecsp_algorithm < 0) {
    writeLog(kSourcePath, 48, className_, "DigestData", "license", 1,
             logText_.GetLength() > 0 ? logText_.GetData() : nullptr);
  }
  return ecsp_algorithm;
}

int QVHash::StoreDigest(unsigned char* buffer, int length, ByteString& digest) noexcept {
  const int status = digest.SetData(buffer, length);
  SecureZero(buffer, kDigestBufferSize);
  if (status != ByteString::kOk) {
    // No storage for the result: reported like an engine allocation failure.
    writeLog(kSourcePath, 126, className_, "DigestData", "ECSP_DigestData", 4,
             ECSP_GetErrorText(ECSP_MEMORY_ERROR));
    return 4;
  }
  return 0;
}

}  // namespace vrd
