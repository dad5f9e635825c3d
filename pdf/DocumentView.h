// DocumentView: a non-owning, read-only view of a PDF document's bytes, and
// the one place where positions in it are computed and checked.
//
// Positions inside are 64-bit, so sums such as "offset + length" or "match
// end - 16" never wrap; a position below 0 or at or beyond length() holds no
// byte. The document format stores positions as signed 32-bit integers;
// they enter as int32 values and leave through ClampToInt32 (util/Clamp.h).
// Absent results are std::nullopt, never -1. Nothing can read out of range:
// every byte access goes through ByteAt or a checked span.
//
// Searches: one forward pass, one comparison per position, case-sensitive
// raw bytes. After a partial match fails the scan does not back up (the
// failing byte is not compared again with the needle's first byte), so 'aab'
// is absent from 'aaab' and "%%EOF" from '%%%EOF'; stamped documents depend
// on exactly this. An empty needle is never found.
//
// A view may hold only the document's tail in memory (a large file read
// piecemeal): reading a position before the tail yields nothing, exactly as
// a position outside the document does, and is recorded in the caller's
// flag, so that whatever was worked out from such a view can be discarded
// and worked out again from the whole document. Asking for the length, or
// whether bytes are held, reads nothing.
//
// The bytes belong to whoever made the view and must outlive it unchanged.
#ifndef VRD_PDF_DOCUMENTVIEW_H_
#define VRD_PDF_DOCUMENTVIEW_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "util/ByteSpan.h"
#include "util/ByteString.h"

namespace vrd {

// The object sections that a cross-reference offsets array delimits: with
// offsets off[0..n-1] in table order, section i < n-1 begins at off[i] and is
// off[i+1] - off[i] bytes long (nothing when that is 0 or negative); the
// last section runs from off[n-1] to the end of the document.
struct ObjectSection {
  int64_t start = 0;
  int64_t length = 0;
};

class DocumentView {
 public:
  DocumentView() noexcept = default;
  // A null pointer or a length of 0 or less is an empty document.
  DocumentView(const unsigned char* bytes, int32_t length) noexcept;
  explicit DocumentView(const ByteString& document) noexcept;
  // A document of length bytes of which only those from tail_start on are in
  // memory, at tail; every read before tail_start sets *read_before_tail.
  // tail_start must lie in 0 .. length, and the flag must outlive the view.
  static DocumentView Tail(const unsigned char* tail, int64_t tail_start, int64_t length,
                           bool* read_before_tail) noexcept;

  [[nodiscard]] int64_t length() const noexcept { return length_; }
  [[nodiscard]] bool Holds(int64_t position) const noexcept {
    return position >= 0 && position < length_;
  }
  [[nodiscard]] std::optional<unsigned char> ByteAt(int64_t position) const noexcept;
  [[nodiscard]] bool ByteIs(int64_t position, unsigned char expected) const noexcept;
  [[nodiscard]] bool IsLineEnd(int64_t position) const noexcept;  // CR or LF
  // Whether the count bytes from start are all in memory (reads nothing).
  [[nodiscard]] bool InMemory(int64_t start, int64_t count) const noexcept;

  // The count bytes from start when all of them lie inside the document.
  [[nodiscard]] std::optional<ByteSpan> Span(int64_t start, int64_t count) const noexcept;
  // The same as a copy; an empty ByteString for count <= 0. nullopt when the
  // bytes are not all inside or the copy cannot be stored.
  [[nodiscard]] std::optional<ByteString> Copy(int64_t start, int64_t count) const noexcept;

  // Position of the last byte of the first match at or after start.
  [[nodiscard]] std::optional<int64_t> FindEnd(std::string_view needle,
                                               int64_t start) const noexcept;
  // As FindEnd, examining only positions start .. start + window - 1
  // (positions below 0 count toward the window but hold no byte), so the
  // match lies wholly inside the window. A window of 0 or less finds nothing.
  [[nodiscard]] std::optional<int64_t> FindEndWithin(std::string_view needle, int64_t start,
                                                     int64_t window) const noexcept;
  // Position of the first byte of the match FindEnd finds.
  [[nodiscard]] std::optional<int64_t> FindStart(std::string_view needle,
                                                 int64_t start) const noexcept;

  // Section index of the offsets (see ObjectSection); an index outside the
  // array gives an empty section.
  [[nodiscard]] ObjectSection Section(const std::vector<int32_t>& offsets,
                                      size_t index) const noexcept;
  // FindEndWithin over one section.
  [[nodiscard]] std::optional<int64_t> FindEndInSection(std::string_view needle,
                                                        const std::vector<int32_t>& offsets,
                                                        size_t index) const noexcept;
  // The section walk: sections from the last to the first; the first whose
  // match ends at a position greater than 0 gives the position of that
  // match's first byte (only the first match in a section counts).
  [[nodiscard]] std::optional<int64_t> FindInSections(
      std::string_view needle, const std::vector<int32_t>& offsets) const noexcept;

  // The bytes from start up to, not including, the first CR or LF before end
  // (end is limited to the document), or up to end when there is none.
  // Empty when start >= end or start lies outside the document.
  [[nodiscard]] ByteSpan LineAt(int64_t start, int64_t end) const noexcept;
  // start moved past at most max_count CR or LF bytes.
  [[nodiscard]] int64_t SkipLineEnds(int64_t start, int max_count) const noexcept;

 private:
  [[nodiscard]] std::optional<int64_t> Scan(std::string_view needle, int64_t start,
                                            int64_t limit) const noexcept;

  // Whether position lies before the tail; a read there is recorded.
  [[nodiscard]] bool BeforeTail(int64_t position) const noexcept;

  const unsigned char* bytes_ = nullptr;  // the byte at position tail_start_
  int64_t tail_start_ = 0;
  int64_t length_ = 0;
  bool* read_before_tail_ = nullptr;
};

}  // namespace vrd

#endif  // VRD_PDF_DOCUMENTVIEW_H_
