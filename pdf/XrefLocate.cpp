#include "pdf/XrefLocate.h"

#include <string_view>

#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "util/Clamp.h"

namespace vrd {
namespace {

constexpr int64_t kStartxrefTail = 30;      // "startxref" must begin this close to the end
constexpr int kLineEndsAfterStartxref = 3;  // CR/LF bytes skipped before the number
constexpr int kBracketLookahead = 10;       // bytes after "/ByteRange" searched for "["
constexpr int kDigitLookahead = 10;         // bytes after that searched for the first digit
constexpr std::string_view kStartxref = "startxref";
constexpr std::string_view kEndOfFile = "%%EOF";
constexpr std::string_view kTrailer = "trailer";
constexpr std::string_view kByteRangeKey = "/ByteRange";

// The first up-to-three tokens of one line; count stops at 3.
struct LineShape {
  int count = 0;
  std::string_view first;
  std::string_view second;
};

LineShape ShapeOf(ByteSpan line) {
  const std::string_view text(reinterpret_cast<const char*>(line.data), line.length);
  LineShape shape;
  size_t cursor = 0;
  while (cursor < text.size() && shape.count < 3) {
    while (cursor < text.size() && text[cursor] == ' ') ++cursor;
    if (cursor == text.size()) break;
    const size_t token_start = cursor;
    while (cursor < text.size() && text[cursor] != ' ') ++cursor;
    const std::string_view token = text.substr(token_start, cursor - token_start);
    if (shape.count == 0) shape.first = token;
    if (shape.count == 1) shape.second = token;
    ++shape.count;
  }
  return shape;
}

int32_t DecimalValueOf(std::string_view token) { return DecimalValue(token.data(), token.size()); }

// The line walk over [section_start, section_end): visit(shape) for each
// line until it returns false.
template <typename Visit>
void WalkLines(const DocumentView& document, int64_t section_start, int64_t section_end,
               Visit visit) {
  int64_t cursor = section_start;
  while (cursor < section_end) {
    if (document.IsLineEnd(cursor)) {
      ++cursor;
      continue;
    }
    const ByteSpan line = document.LineAt(cursor, section_end);
    if (line.length == 0) return;  // nothing readable here: the section ends
    if (!visit(ShapeOf(line))) return;
    cursor += static_cast<int64_t>(line.length);
  }
}

// The value after the last "startxref": its decimal text, which ends at the
// CR/LF run before "%%EOF". nullopt (message written) when either keyword
// is missing.
std::optional<int32_t> ReadStartxrefValue(const DocumentView& document) {
  const int64_t tail_start =
      document.length() > kStartxrefTail ? document.length() - kStartxrefTail : 0;
  const std::optional<int64_t> keyword_end = document.FindEnd(kStartxref, tail_start);
  if (!keyword_end) {
    WritePdfMessage(PdfMessage::kStartxrefNotFound);
    return std::nullopt;
  }
  const int64_t number_start = document.SkipLineEnds(*keyword_end + 1, kLineEndsAfterStartxref);
  const std::optional<int64_t> eof_start = document.FindStart(kEndOfFile, number_start);
  if (!eof_start) {
    WritePdfMessage(PdfMessage::kEofNotFound);
    return std::nullopt;
  }
  int64_t number_end = *eof_start;
  while (number_end - 1 > *keyword_end && document.IsLineEnd(number_end - 1)) --number_end;
  const std::optional<ByteSpan> number = document.Span(number_start, number_end - number_start);
  if (!number || number->length == 0) return 0;
  return DecimalValue(reinterpret_cast<const char*>(number->data), number->length);
}

// The entries' first fields of the section [section_start, "trailer"), at
// most as many as the subsection headers declare.
bool CollectEntryOffsets(const DocumentView& document, int32_t section_start,
                         std::vector<int64_t>& entry_offsets) {
  entry_offsets.clear();
  // A negative position would start the line walk where no byte is.
  if (section_start < 0) return false;
  const std::optional<int64_t> trailer_start = document.FindStart(kTrailer, section_start);
  const int64_t section_end = trailer_start ? *trailer_start - 1 : -1;
  if (section_end < 0 || section_start >= section_end) return false;

  int64_t declared_entries = 0;
  int64_t entry_lines = 0;
  WalkLines(document, section_start, section_end, [&](const LineShape& line) {
    if (line.count == 2) declared_entries += DecimalValueOf(line.second);
    if (line.count >= 3) ++entry_lines;
    return true;
  });
  if (declared_entries <= 0) return false;

  // Never sized by the declared total: only the entries present are listed.
  const int64_t listed = declared_entries < entry_lines ? declared_entries : entry_lines;
  if (!ResizeList(entry_offsets, static_cast<size_t>(listed))) return false;
  size_t filled = 0;
  WalkLines(document, section_start, section_end, [&](const LineShape& line) {
    if (filled == entry_offsets.size()) return false;
    if (line.count >= 3) entry_offsets[filled++] = DecimalValueOf(line.first);
    return true;
  });
  entry_offsets.resize(filled);
  return true;
}

// The "/ByteRange" of one section: after the keyword, a "[" among the next
// ten bytes moves the start to it; then up to ten spaces before a digit.
std::optional<int64_t> ByteRangeValueAfter(const DocumentView& document, int64_t keyword_end) {
  int64_t bracket = keyword_end + 1;
  for (int step = 0; step < kBracketLookahead; ++step) {
    if (document.ByteIs(keyword_end + 1 + step, '[')) {
      bracket = keyword_end + 1 + step;
      break;
    }
  }
  for (int step = 1; step <= kDigitLookahead; ++step) {
    const std::optional<unsigned char> byte = document.ByteAt(bracket + step);
    if (!byte) return std::nullopt;
    if (*byte == ' ') continue;
    if (*byte >= '0' && *byte <= '9') return bracket + step;
    return std::nullopt;
  }
  return std::nullopt;
}

std::vector<int32_t> OffsetArrayOf(const int32_t* offsets, int32_t count, bool& stored) {
  std::vector<int32_t> array;
  stored = offsets != nullptr && count > 0 && ResizeList(array, static_cast<size_t>(count));
  for (size_t index = 0; stored && index < array.size(); ++index) array[index] = offsets[index];
  return array;
}

}  // namespace

bool ReadLastXrefOffsetArray(const DocumentView& document, std::vector<int32_t>& offsets) noexcept {
  offsets.clear();
  const std::optional<int32_t> section_start = ReadStartxrefValue(document);
  std::vector<int64_t> entry_offsets;
  if (!section_start || !CollectEntryOffsets(document, *section_start, entry_offsets)) return false;
  if (entry_offsets.empty() || !ResizeList(offsets, entry_offsets.size())) return false;
  // Each list item is "%d " of the int32 value: the array holds that value.
  for (size_t index = 0; index < entry_offsets.size(); ++index) {
    offsets[index] = ClampToInt32(entry_offsets[index]);
  }
  return true;
}

ByteString ReadLastXrefOffsets(const ByteString& document) noexcept {
  const DocumentView view(document);
  const std::optional<int32_t> section_start = ReadStartxrefValue(view);
  if (!section_start) return ByteString();
  return CollectXrefOffsets(*section_start, document);
}

ByteString CollectXrefOffsets(int32_t start, const ByteString& document) noexcept {
  std::vector<int64_t> entry_offsets;
  ByteString list;
  if (!CollectEntryOffsets(DocumentView(document), start, entry_offsets) ||
      !FormatIntegerList(entry_offsets.data(), entry_offsets.size(), list)) {
    return ByteString();
  }
  return list;
}

std::optional<int64_t> FindByteRangeValue(const DocumentView& document,
                                          const std::vector<int32_t>& offsets) noexcept {
  for (size_t index = offsets.size(); index-- > 0;) {
    const std::optional<int64_t> keyword_end =
        document.FindEndInSection(kByteRangeKey, offsets, index);
    if (!keyword_end || *keyword_end <= 0) continue;
    const std::optional<int64_t> value = ByteRangeValueAfter(document, *keyword_end);
    if (value) return value;
  }
  return std::nullopt;
}

int32_t LocateByteRangeValue(const int32_t* offsets, int32_t count,
                             const ByteString& document) noexcept {
  bool stored = false;
  const std::vector<int32_t> offset_array = OffsetArrayOf(offsets, count, stored);
  if (!stored) return -1;
  const std::optional<int64_t> value = FindByteRangeValue(DocumentView(document), offset_array);
  return value ? ClampToInt32(*value) : -1;
}

}  // namespace vrd
