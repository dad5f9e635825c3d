#include "report/RevisionEnds.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "report/PdfBytes.h"

namespace vrd::report {
namespace {

constexpr char kEofMarker[] = "%%EOF";
constexpr size_t kEofMarkerLength = sizeof kEofMarker - 1;
static_assert(kRevisionEndLookahead == kEofMarkerLength + 2, "the marker and CR LF");
constexpr char kStartXref[] = "startxref";
constexpr size_t kStartXrefLength = sizeof kStartXref - 1;

// True when "startxref", whitespace, a decimal offset and whitespace end
// just before pos.
bool ClosesStartXref(const unsigned char* data, size_t pos) {
  const size_t floor = pos > kStartXrefWindow ? pos - kStartXrefWindow : 0;
  size_t i = pos;
  while (i > floor && IsPdfWhitespace(data[i - 1])) --i;
  const size_t digits_end = i;
  while (i > floor && data[i - 1] >= '0' && data[i - 1] <= '9') --i;
  if (i == digits_end) return false;
  const size_t digits_start = i;
  while (i > floor && IsPdfWhitespace(data[i - 1])) --i;
  if (i == digits_start || i < floor + kStartXrefLength) return false;
  return std::memcmp(data + i - kStartXrefLength, kStartXref, kStartXrefLength) == 0;
}

// The /L value of a linearization dictionary at the start of head, if any.
std::optional<int64_t> LinearizedLength(const unsigned char* head, size_t size) {
  const std::string text(reinterpret_cast<const char*>(head), std::min(size, kLinearizationWindow));
  const size_t dict = text.find("/Linearized");
  if (dict == std::string::npos) return std::nullopt;
  const size_t dict_end = text.find(">>", dict);
  for (size_t key = text.find("/L", dict + 1); key < dict_end; key = text.find("/L", key + 1)) {
    size_t at = key + 2;
    if (at >= text.size() || !IsPdfWhitespace(static_cast<unsigned char>(text[at]))) continue;
    while (at < text.size() && IsPdfWhitespace(static_cast<unsigned char>(text[at]))) ++at;
    int64_t length = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 18; ++at, ++digits) {
      length = length * 10 + (text[at] - '0');
    }
    if (digits == 0) return std::nullopt;
    return length;
  }
  return std::nullopt;
}

// The first position in [from, to) where "%%" starts (its second '%' may lie
// at to, when limit allows), or null. Over long binary streams a '%' comes
// every 256 bytes or so and "%%" every 65536: sixteen positions are tried at
// once where SSE2 is there, else each '%' that memchr finds.
const unsigned char* FindPercentPair(const unsigned char* from, const unsigned char* to,
                                     const unsigned char* limit) {
  const unsigned char* p = from;
#if defined(__SSE2__)
  const __m128i percent = _mm_set1_epi8('%');
  for (; p + 17 <= limit && p < to; p += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const int mask = _mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(here, percent), _mm_cmpeq_epi8(next, percent)));
    if (mask != 0) {
      const unsigned char* hit = p + __builtin_ctz(static_cast<unsigned>(mask));
      return hit < to ? hit : nullptr;
    }
  }
#endif
  while (p < to) {
    const auto* hit =
        static_cast<const unsigned char*>(std::memchr(p, '%', static_cast<size_t>(to - p)));
    if (hit == nullptr) return nullptr;
    if (hit + 1 < limit && hit[1] == '%') return hit;
    p = hit + 1;
  }
  return nullptr;
}

}  // namespace

// A linearized file closes its first-page cross-reference section with a
// "%%EOF" of its own near the start; that section and the main one at the
// end make one revision, so its end is dropped.
void MergeLinearizedFirstPage(const unsigned char* head, size_t size,
                              std::vector<RevisionEnd>* ends) {
  const std::optional<int64_t> length = LinearizedLength(head, size);
  if (!length || ends->size() < 2 || (*ends)[1].eof_end > *length) return;
  ends->erase(ends->begin());
}

size_t ScanRevisionEnds(const unsigned char* data, size_t size, size_t from, size_t to,
                        int64_t offset, std::vector<RevisionEnd>* ends) {
  const unsigned char* cursor = data + from;
  const unsigned char* const end = data + to;
  while (cursor < end) {
    const unsigned char* hit = FindPercentPair(cursor, end, data + size);
    if (hit == nullptr) break;
    const size_t pos = static_cast<size_t>(hit - data);
    cursor = data + pos + 1;
    if (size - pos < kEofMarkerLength ||
        std::memcmp(data + pos, kEofMarker, kEofMarkerLength) != 0) {
      continue;
    }
    cursor = data + pos + kEofMarkerLength;
    if (!ClosesStartXref(data, pos)) continue;
    RevisionEnd revision;
    revision.eof_end = offset + static_cast<int64_t>(pos + kEofMarkerLength);
    size_t line_end = pos + kEofMarkerLength;
    if (line_end < size && data[line_end] == '\r') ++line_end;
    if (line_end < size && data[line_end] == '\n') ++line_end;
    revision.line_end = offset + static_cast<int64_t>(line_end);
    ends->push_back(revision);
  }
  return static_cast<size_t>(cursor - data);
}

std::vector<RevisionEnd> FindRevisionEnds(const unsigned char* data, size_t size) {
  std::vector<RevisionEnd> ends;
  (void)ScanRevisionEnds(data, size, 0, size, 0, &ends);
  MergeLinearizedFirstPage(data, size, &ends);
  return ends;
}

int RevisionOfOffset(const std::vector<RevisionEnd>& ends, int64_t offset) {
  for (size_t i = 0; i < ends.size(); ++i) {
    if (offset < ends[i].eof_end) return static_cast<int>(i);
  }
  return ends.empty() ? 0 : static_cast<int>(ends.size()) - 1;
}

}  // namespace vrd::report
