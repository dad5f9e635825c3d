// The ECSP digest engine: computes a whole digest in one call over a per-call
// working record, in three stages (Init, Update, Final), and reports every
// failure as an ECSP status code, stage * 1000 + status (1 Init, 2 Update,
// 3 Final); a working record that cannot be obtained is the bare status 102.
//
// Ownership: the caller owns input, output and the output-length variable;
// ECSP_DigestData obtains its working record from the heap and releases it
// (wiped) before it returns. No other state is kept, except the text buffer of
// ECSP_GetErrorText, which is one per thread.
//
// Contract of ECSP_DigestData(algorithm, output, outputLength, input, inputLength):
//  - algorithm is one of the 35 accepted ECSP identifiers (MD5 1200, 121201,
//    121202; SHA-1 1400, 13101, 13102, 121400..121402, 131401, 131402,
//    141401..141403, 171401, 171402, 171404; SHA-256 1500, 13202, 121501,
//    121502, 131501, 131502, 141501, 141502, 171410..171412; SHA-512 1700,
//    121701, 121702, 141702; HAS-160 1800, 141801, 141802), else 1105.
//  - input must not be null (2108) and inputLength must not be negative (2101).
//  - output and outputLength must not be null (3108); *outputLength is the
//    capacity and must be at least the digest size (3103).
//  - on success the digest is written to output, *outputLength becomes the
//    digest size, and the result is 0; on failure neither is touched.
//  - input and output may be the same buffer.
#ifndef VRD_SRC_VORIRORI_ECSP_H_
#define VRD_SRC_VORIRORI_ECSP_H_

#include <cstddef>

#include "src/VORirori/HashCores.h"
#include "util/ByteSpan.h"

namespace vrd {

// Statuses, without the stage part.
enum EcspStatus : int {
  ECSP_OK = 0,
  ECSP_FAIL = 1,
  ECSP_INVALID_DATA = 101,
  ECSP_MEMORY_ERROR = 102,
  ECSP_NOT_ENOUGH_BUFFER = 103,
  ECSP_INVALID_MODE = 104,
  ECSP_INVALID_ALGORITHM = 105,
  ECSP_INVALID_KEY_POINTER = 106,
  ECSP_INVALID_KEY = 107,
  ECSP_INVALID_DATA_POINTER = 108,
  ECSP_INVALID_INIT_VECTOR = 109,
  ECSP_STAGED_OPERATION_FAILED = 110,
  ECSP_INVALID_FILE_POINTER = 111,
  ECSP_INVALID_CLASS = 112,
  ECSP_ASN1_OPERATION_FAILED = 113,
  ECSP_INVALID_ENCRYPTED_DATA = 114,
  ECSP_INVALID_SIGNATURE = 115,
  ECSP_VERIFY_FAIL = 116,
  // Not an engine status: the part source could not supply the content (see
  // ECSP_DigestParts). It has no text and no stage part.
  ECSP_CONTENT_UNAVAILABLE = -1,
};

// Stage parts of a status code.
enum EcspStage : int {
  ECSP_STAGE_INIT = 1000,
  ECSP_STAGE_UPDATE = 2000,
  ECSP_STAGE_FINAL = 3000,
};

struct ECSP_CTX;

// The three operations an algorithm contributes; each returns 0, or 1 on
// failure (the five cores never fail).
using EcspInitOp = int (*)(ECSP_CTX* ctx) noexcept;
using EcspUpdateOp = int (*)(ECSP_CTX* ctx, const unsigned char* data, int length) noexcept;
using EcspFinalOp = int (*)(ECSP_CTX* ctx, unsigned char* output, int* outputLength) noexcept;

// The working record: one type for every algorithm.
struct ECSP_CTX {
  int digestSize;
  union {
    Md5Context md5;
    Sha1Context sha1;
    Sha256Context sha256;
    Sha512Context sha512;
    Has160Context has160;
  } hash;
  EcspInitOp initOp;
  EcspUpdateOp updateOp;
  EcspFinalOp finalOp;
  int status;
};

// The whole digest; returns an ECSP status code (see the contract above).
[[nodiscard]] int ECSP_DigestData(int algorithm, unsigned char* output, int* outputLength,
                                  const unsigned char* input, int inputLength) noexcept;

// Content handed to the engine one part at a time, in order, by whoever
// holds it (pieces in memory, or a file read as the digest goes).
class EcspPartSource {
 public:
  enum class Part { kBytes, kEnd, kUnavailable };
  // The next part in bytes (kBytes; valid until the next call), the end of
  // the content (kEnd), or kUnavailable when the rest cannot be had.
  [[nodiscard]] virtual Part Next(ByteSpan& bytes) noexcept = 0;

 protected:
  ~EcspPartSource() = default;
};

// The digest of the parts a source hands out, joined: the same result as
// ECSP_DigestData over the joined bytes. No parts is the empty input. A part
// with a null pointer gives 2108, one longer than INT32_MAX bytes 2101 (parts
// of length 0 are passed over). A source that answers kUnavailable ends the
// digest with ECSP_CONTENT_UNAVAILABLE, output untouched.
[[nodiscard]] int ECSP_DigestParts(int algorithm, unsigned char* output, int* outputLength,
                                   EcspPartSource& source) noexcept;

// The parts of an array of pieces, in order.
class EcspPieceArray final : public EcspPartSource {
 public:
  EcspPieceArray(const ByteSpan* pieces, size_t count) noexcept : pieces_(pieces), count_(count) {}
  [[nodiscard]] Part Next(ByteSpan& bytes) noexcept override;

 private:
  const ByteSpan* pieces_;
  size_t count_;
  size_t next_ = 0;
};

// ECSP_DigestParts over the pieces; a null array with a count above 0 gives
// 2108.
[[nodiscard]] int ECSP_DigestPieces(int algorithm, unsigned char* output, int* outputLength,
                                    const ByteSpan* pieces, size_t pieceCount) noexcept;

// "<stage word> <message>(<code>)" for a status code, e.g.
// "Final stage; Output buffer is not enough.(3103)". The stage word is taken
// from the thousands digit of the code read as unsigned 32-bit ("Init stage;",
// "Update stage;", "Final stage;", else empty); the message from the status
// code % 1000. A code whose status is not in the table gives the empty text.
// The text lives in a buffer of the calling thread, valid until that
// thread's next call; other threads never see it.
const char* ECSP_GetErrorText(int code) noexcept;

}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_ECSP_H_
