// VORiroriBase: what the hash facade classes share - the translation of a
// facade algorithm identifier into an ECSP algorithm identifier, and a
// one-line diagnostic log kept inside the object.
//
// Contract:
//  - Objects are owned by their creator (the pipeline keeps one on its stack)
//    and are never copied. Used by one thread at a time.
//  - logText() is empty until the first failure is logged and then always
//    holds exactly the latest line; successes never change it.
//  - className() is set by the concrete class; methodName() is "" after
//    construction and names the public operation last entered.
#ifndef VRD_SRC_VORIRORI_VORIRORIBASE_H_
#define VRD_SRC_VORIRORI_VORIRORIBASE_H_

#include <cstdint>

#include "util/ByteString.h"

namespace vrd {

// Facade algorithm identifiers of the two digests a time-stamp token may name
// (FIPS 180-4 SHA-256 and SHA-512), and the ECSP identifiers they map to.
constexpr int kFacadeSha256 = 1012;
constexpr int kFacadeSha512 = 1014;
constexpr int kEcspSha256 = 1500;
constexpr int kEcspSha512 = 1700;
// The ECSP identifiers of the engine's other three algorithms (RFC 1321 MD5,
// FIPS 180-4 SHA-1, TTAS.KO-12.0011/R2 HAS-160), which the document report
// uses for imprints that name them.
constexpr int kEcspMd5 = 1200;
constexpr int kEcspSha1 = 1400;
constexpr int kEcspHas160 = 1800;

class VORiroriBase {
 public:
  virtual ~VORiroriBase();
  VORiroriBase(const VORiroriBase&) = delete;
  VORiroriBase& operator=(const VORiroriBase&) = delete;

  // The ECSP identifier of one of the 66 facade identifiers (1012 -> 1500
  // SHA-256, 1014 -> 1700 SHA-512, ...). Any other value gives -1 and logs
  // "The AlgID(<algorithm>) is not supported." as the line's label.
  [[nodiscard]] int getECSP_AlgID(int algorithm) noexcept;

  // Replaces logText by "[<file>:<line>]<className>::<operation>-<label>(<value>)"
  // where <file> is sourcePath after its last '/' or '\'; a non-empty detail
  // is appended after a comma. detail may be the current logText itself.
  void writeLog(const char* sourcePath, int line, const char* className, const char* operation,
                const char* label, int value, const char* detail) noexcept;

  const ByteString& logText() const noexcept { return logText_; }
  const char* className() const noexcept { return className_; }
  const char* methodName() const noexcept { return methodName_; }

 protected:
  explicit VORiroriBase(const char* className) noexcept : className_(className) {}

  int32_t reserved_ = 0;  // Kept for layout compatibility; never read or changed.
  ByteString logText_;
  const char* className_;
  const char* methodName_ = "";
};

}  // namespace vrd

#endif  // VRD_SRC_VORIRORI_VORIRORIBASE_H_
