// Bounded byte searches over a raw PDF document. Nothing here parses PDF
// syntax: every structure is found by forward scans for fixed byte sequences,
// and callers compute positions straight from the results (match end + 1,
// match start - 1, ...), so which byte a result designates is the contract.
//
// Contract shared by the searches:
//  - Positions are signed 32-bit indexes from 0; -1 means absent. A position
//    below 0 or at or beyond the haystack's length holds no byte and never
//    takes part in a match. Internally every sum is computed in 64 bits.
//  - One forward pass, one comparison per position, case-sensitive raw bytes.
//    After a partial match fails, the scan does not back up: the failing byte
//    is not compared again with the needle's first byte, so 'aab' is absent
//    from 'aaab' and "%%EOF" from '%%%EOF'. Documents already stamped depend
//    on exactly this behaviour.
//  - An empty needle is never found.
// These are the format's 32-bit interface over DocumentView (pdf/DocumentView.h),
// which does the scanning. All functions only read their arguments.
#ifndef VRD_PDF_TOKENSEARCH_H_
#define VRD_PDF_TOKENSEARCH_H_

#include <cstdint>

#include "util/ByteString.h"

namespace vrd {

// Index of the last byte of the first match scanning forward from start.
[[nodiscard]] int32_t FindTokenEnd(const ByteString& needle, int32_t start,
                                   const ByteString& haystack) noexcept;
[[nodiscard]] int32_t FindTokenEnd(const char* needle, int32_t start,
                                   const ByteString& haystack) noexcept;

// As FindTokenEnd, but only positions start .. start + window - 1 are
// examined (positions below 0 count toward the window but hold no byte), so
// the match lies wholly inside the window. A window of 0 or less gives -1.
[[nodiscard]] int32_t FindTokenEndWithin(const ByteString& needle, int32_t start, int32_t window,
                                         const ByteString& haystack) noexcept;
[[nodiscard]] int32_t FindTokenEndWithin(const char* needle, int32_t start, int32_t window,
                                         const ByteString& haystack) noexcept;

// Index of the first byte of the match FindTokenEnd finds.
[[nodiscard]] int32_t FindTokenStart(const ByteString& needle, int32_t start,
                                     const ByteString& haystack) noexcept;
[[nodiscard]] int32_t FindTokenStart(const char* needle, int32_t start,
                                     const ByteString& haystack) noexcept;

// The object-section walk. With offsets off[0..count-1] in table order,
// section i < count-1 starts at off[i] and is off[i+1] - off[i] bytes long
// (nothing when that is 0 or negative); the last section runs from
// off[count-1] to the end. Sections are visited from the last to the first
// with FindTokenEndWithin; the first section whose match ends at a position
// greater than 0 gives the index of that match's first byte. -1 if none.
[[nodiscard]] int32_t FindInSections(const ByteString& needle, const int32_t* offsets,
                                     int32_t count, const ByteString& haystack) noexcept;
[[nodiscard]] int32_t FindInSections(const char* needle, const int32_t* offsets, int32_t count,
                                     const ByteString& haystack) noexcept;

}  // namespace vrd

#endif  // VRD_PDF_TOKENSEARCH_H_
