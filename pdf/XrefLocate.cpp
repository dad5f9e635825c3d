#include "pdf/XrefLocate.h"

#include <vector>

#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "pdf/TokenSearch.h"

namespace vrd {
namespace {

constexpr int32_t kStartxrefTail = 30;      // "startxref" must begin this close to the end
constexpr int kLineEndsAfterStartxref = 3;  // CR/LF bytes skipped before the number
constexpr int kBracketLookahead = 10;
constexpr int kDigitLookahead = 10;

bool IsLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }

// The first up-to-three tokens of one line; count stops at 3.
struct LineShape {
  int count = 0;
  const char* first = nullptr;
  size_t first_length = 0;
  const char* second = nullptr;
  size_t second_length = 0;
};

LineShape ShapeOf(const char* line, size_t length) {
  LineShape shape;
  size_t p = 0;
  while (p < length && shape.count < 3) {
    while (p < length && line[p] == ' ') ++p;
    if (p == length) break;
    const size_t begin = p;
    while (p < length && line[p] != ' ') ++p;
    if (shape.count == 0) {
      shape.first = line + begin;
      shape.first_length = p - begin;
    } else if (shape.count == 1) {
      shape.second = line + begin;
      shape.second_length = p - begin;
    }
    ++shape.count;
  }
  return shape;
}

// The line walk of the section [start, end): visit(shape) for each line.
template <typename Visit>
void WalkLines(const ByteString& document, int32_t start, int32_t end, Visit visit) {
  const char* bytes = document.GetData();
  int32_t p = start;
  while (p < end) {
    if (IsLineEnd(static_cast<unsigned char>(bytes[p]))) {
      ++p;
      continue;
    }
    int32_t q = p;
    while (q < end && !IsLineEnd(static_cast<unsigned char>(bytes[q]))) ++q;
    if (!visit(ShapeOf(bytes + p, static_cast<size_t>(q - p)))) return;
    p = q;
  }
}

}  // namespace

ByteString ReadLastXrefOffsets(const ByteString& document) noexcept {
  const int32_t length = document.GetLength();
  const unsigned char* bytes = document.GetBytes();
  const int32_t from = length > kStartxrefTail ? length - kStartxrefTail : 0;
  const int32_t b = FindTokenEnd("startxref", from, document);
  if (b < 0) {
    WritePdfMessage(PdfMessage::kStartxrefNotFound);
    return ByteString();
  }
  int64_t d = int64_t{b} + 1;
  for (int i = 0; i < kLineEndsAfterStartxref && d < length && IsLineEnd(bytes[d]); ++i) ++d;
  const int32_t e = FindTokenStart("%%EOF", ClampPosition(d), document);
  if (e < 0) {
    WritePdfMessage(PdfMessage::kEofNotFound);
    return ByteString();
  }
  int64_t r = 0;
  for (int64_t p = int64_t{e} - 1; p > b && IsLineEnd(bytes[p]); --p) ++r;
  const int64_t count = int64_t{e} - r - d;
  const int32_t x =
      count > 0 ? DecimalValue(document.GetData() + d, static_cast<size_t>(count)) : 0;
  return CollectXrefOffsets(x, document);
}

ByteString CollectXrefOffsets(int32_t start, const ByteString& document) noexcept {
  // A negative position would start the line walk where no byte is, and it
  // would never advance: such a document has no list.
  if (start < 0) return ByteString();
  const int32_t t = FindTokenStart("trailer", start, document);
  const int32_t end = t - 1;
  if (end < 0 || start >= end) return ByteString();

  int64_t declared = 0;
  int64_t entry_lines = 0;
  WalkLines(document, start, end, [&](const LineShape& line) {
    if (line.count == 2) declared += DecimalValue(line.second, line.second_length);
    if (line.count >= 3) ++entry_lines;
    return true;
  });
  if (declared <= 0) return ByteString();

  // Never sized by the declared total: only the entries present are listed.
  const int64_t listed = declared < entry_lines ? declared : entry_lines;
  std::vector<int64_t> values;
  if (!ResizeList(values, static_cast<size_t>(listed))) return ByteString();
  size_t filled = 0;
  WalkLines(document, start, end, [&](const LineShape& line) {
    if (filled == values.size()) return false;
    if (line.count >= 3) values[filled++] = DecimalValue(line.first, line.first_length);
    return true;
  });
  ByteString list;
  if (!FormatIntegerList(values.data(), filled, list)) return ByteString();
  return list;
}

int32_t LocateByteRangeValue(const int32_t* offsets, int32_t count,
                             const ByteString& document) noexcept {
  if (offsets == nullptr || count <= 0) return -1;
  const int64_t length = document.GetLength();
  const unsigned char* bytes = document.GetBytes();
  for (int32_t i = count - 1; i >= 0; --i) {
    const int32_t e = FindTokenEndInSection("/ByteRange", offsets, count, i, document);
    if (e <= 0) continue;
    int64_t q = int64_t{e} + 1;
    for (int k = 0; k < kBracketLookahead; ++k) {
      const int64_t p = int64_t{e} + 1 + k;
      if (p < length && bytes[p] == '[') {
        q = p;
        break;
      }
    }
    for (int k = 1; k <= kDigitLookahead; ++k) {
      const int64_t p = q + k;
      if (p >= length) break;
      if (bytes[p] == ' ') continue;
      if (bytes[p] >= '0' && bytes[p] <= '9') return static_cast<int32_t>(p);
      break;
    }
  }
  return -1;
}

}  // namespace vrd
