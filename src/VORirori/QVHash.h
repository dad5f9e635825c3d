// QVHash: the hash facade through which the verification pipeline digests
// the signed content. It translates a facade algorithm identifier (1012
// SHA-256, 1014 SHA-512, ...; see VORiroriBase::getECSP_AlgID), lets the ECSP
// engine compute the digest, optionally digests that digest again, and
// delivers the result in a ByteString.
//
// DigestPieces digests the concatenation of the pieces once (as DigestData
// with one iteration over the joined bytes, with the same codes and log
// lines) without joining them. DigestParts does the same over the parts a
// source hands out; when the source cannot supply them it returns 5
// (kContentUnavailable) with nothing logged and digest left as it was.
//
// Contract of DigestData:
//  - returns 0 (digest delivered), 1 (algorithm not in the identifier table),
//    4 (the first digest failed in the engine) or 3 (a repeated digest
//    failed). On any failure `digest` is left as it was and logText() holds
//    the line describing it (the engine's text behind a comma).
//  - the input is digested once; while fewer than `iterations` digests have
//    been done, the previous digest is digested again. iterations <= 1 gives
//    a single digest.
//  - the byte form refuses a null `data` and a negative `length` through the
//    engine (code 4); the string form never passes a null pointer.
//  - when the digest string cannot get storage for the result, the code is 4
//    with the engine's allocation-failure text, and the string is left empty.
//  - the object is used by one thread at a time and never copied.
#ifndef VRD_SRC_VORIRORI_QVHASH_H_
#define VRD_SRC_VORIRORI_QVHASH_H_

#include <cstddef>

#include "src/VORirori/ECSP.h"
#include "src/VORirori/VORiroriBase.h"
#include "util/ByteSpan.h"
#include "util/ByteString.h"

namespace vrd {

class QVHash : public VORiroriBase {
 public:
  QVHash();
  ~QVHash() override;

  [[nodiscard]] int DigestData(int algorithm, const ByteString& input, ByteString& digest,
                               int iterations) noexcept;
  [[nodiscard]] int DigestData(int algorithm, const void* data, int length, ByteString& digest,
                               int iterations) noexcept;
  [[nodiscard]] int DigestPieces(int algorithm, const ByteSpan* pieces, size_t count,
                                 ByteString& digest) noexcept;
  static constexpr int kContentUnavailable = 5;
  [[nodiscard]] int DigestParts(int algorithm, EcspPartSource& source, ByteString& digest) noexcept;

 private:
  // Names the operation under way and maps the facade identifier to the
  // engine's; a negative result (logged) for an identifier the facade refuses.
  [[nodiscard]] int BeginDigest(int algorithm) noexcept;
  // Copies a finished digest into digest and wipes the whole 256-byte digest
  // buffer; 0, or 4 (logged) when there is no storage for the result.
  [[nodiscard]] int StoreDigest(unsigned char* buffer, int length, ByteString& digest) noexcept;

  void* ownedBlock_ = nullptr;  // Never filled by this library; released if set.
};

}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_QVHASH_H_
