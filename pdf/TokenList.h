// Integer lists as they travel between the PDF-scanning steps: text of
// tokens separated by spaces, and arrays of signed 32-bit integers.
//
// Token rules: only the space (0x20) separates; CR, LF, tab and every other
// byte (NUL included) belong to tokens. Leading, trailing and repeated spaces
// make no empty tokens. Lists of any length are handled whole.
//
// Decimal conversion of a token: leading whitespace (space, tab, LF, VT, FF,
// CR) is skipped, an optional sign is accepted, digits are read up to the
// first non-digit; no digits give 0; values beyond the signed 32-bit range
// are clamped to it.
//
// Nothing here throws: a list that cannot be stored is reported as a failed
// status, never as a partial result. The caller owns every output.
#ifndef VRD_PDF_TOKENLIST_H_
#define VRD_PDF_TOKENLIST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/ByteString.h"

namespace vrd {

// Number of tokens of the text (0 for empty text or spaces only).
[[nodiscard]] int32_t CountTokens(const ByteString& list) noexcept;

// Decimal conversion of count bytes at text (see above).
[[nodiscard]] int32_t DecimalValue(const char* text, size_t count) noexcept;
[[nodiscard]] int32_t DecimalValue(const ByteString& text) noexcept;

// Token number index (from 0) as text; empty when there is no such token.
ByteString TokenAt(const ByteString& list, int32_t index) noexcept;
// Decimal value of token number index; 0 when there is no such token.
[[nodiscard]] int32_t TokenValue(const ByteString& list, int32_t index) noexcept;

// Every token's decimal value, in order, into values (replaced). False, with
// values empty, when the array cannot be stored.
[[nodiscard]] bool SplitIntegers(const ByteString& list, std::vector<int32_t>& values) noexcept;

// values[0..count-1] clamped to int32, each written as "%d " (decimal and one
// space), into out (replaced). False, out unchanged, when it cannot be stored.
[[nodiscard]] bool FormatIntegerList(const int64_t* values, size_t count, ByteString& out) noexcept;

// std::vector growth without exceptions: false (vector unchanged) when the
// storage cannot be obtained.
template <typename T>
[[nodiscard]] bool ResizeList(std::vector<T>& list, size_t count) noexcept {
  try {
    list.resize(count);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace vrd

#endif  // VRD_PDF_TOKENLIST_H_
