// Finding the last revision's cross-reference section and the signature's
// /ByteRange value in the object sections it delimits.
//
// Only a classic cross-reference table (ending at "trailer") is understood;
// /Prev links, trailer dictionaries and object syntax are not read. The
// cross-reference offsets list is text: one decimal integer per entry line,
// the entry's first field, each followed by one space ('0 15 123 '); an
// empty list means failure. The caller splits it into an int32 array
// (SplitIntegers, pdf/TokenList.h) for LocateByteRangeValue and the
// seal-impression search.
//
// Failures print their code-page-949 message (pdf/Messages.h) where one is
// defined. The document is only read; results belong to the caller.
#ifndef VRD_PDF_XREFLOCATE_H_
#define VRD_PDF_XREFLOCATE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "pdf/DocumentView.h"
#include "util/ByteString.h"

namespace vrd {

// The offsets list of the section named by the value after the last
// "startxref", which must begin within the document's last 30 bytes
// (message kStartxrefNotFound otherwise) and be followed by "%%EOF"
// (kEofNotFound). The value is the decimal text between them, less up to
// three CR/LF after the keyword and the CR/LF run before "%%EOF".
ByteString ReadLastXrefOffsets(const ByteString& document) noexcept;

// The offsets list of the section from start up to the byte before the next
// "trailer". Subsection headers (lines of exactly two tokens) declare the
// total T; entry lines (three or more tokens) give their first field, in
// order, stopping at T entries; only entries present are listed. Empty when
// start is negative, no "trailer" follows, nothing lies between, or T <= 0.
// Lines of any length are read whole.
ByteString CollectXrefOffsets(int32_t start, const ByteString& document) noexcept;

// The same offsets as an int32 array (each value the decimal conversion of
// its list item), for the document stage. False, offsets empty, when the
// list would be empty or cannot be stored.
[[nodiscard]] bool ReadLastXrefOffsetArray(const DocumentView& document,
                                           std::vector<int32_t>& offsets) noexcept;

// Position of the first digit of the "/ByteRange" array, searched with the
// object-section walk (FindInSections order, first "/ByteRange" per section
// only): a "[" among the ten bytes after the keyword moves the start to it,
// then up to ten spaces may precede the digit. -1 when no section qualifies.
[[nodiscard]] int32_t LocateByteRangeValue(const int32_t* offsets, int32_t count,
                                           const ByteString& document) noexcept;
[[nodiscard]] std::optional<int64_t> FindByteRangeValue(
    const DocumentView& document, const std::vector<int32_t>& offsets) noexcept;

}  // namespace vrd

#endif  // VRD_PDF_XREFLOCATE_H_
