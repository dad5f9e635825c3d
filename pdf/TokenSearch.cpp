#include "pdf/TokenSearch.h"

#include <cstring>

namespace vrd {
namespace {

constexpr int32_t kAbsent = -1;

// The single forward pass. Examines positions start .. limit - 1 (limit
// already clamped to the haystack); returns the index of the match's last
// byte or -1. While no byte is matched, memchr jumps to the next byte equal
// to the needle's first one: exactly the positions the byte-wise scan would
// pass over without effect, since a mismatch with k = 0 changes nothing.
int64_t ScanForMatch(const unsigned char* needle, int64_t needle_length, const unsigned char* hay,
                     int64_t start, int64_t limit) {
  if (needle_length <= 0) return kAbsent;
  if (start < 0) start = 0;
  int64_t k = 0;
  int64_t p = start;
  while (p < limit) {
    if (k == 0) {
      const void* hit = memchr(hay + p, needle[0], static_cast<size_t>(limit - p));
      if (hit == nullptr) return kAbsent;
      p = static_cast<const unsigned char*>(hit) - hay;
      k = 1;
    } else if (hay[p] == needle[k]) {
      ++k;
    } else {
      // No back-up: the byte at p is not tried again as a first byte.
      k = 0;
    }
    if (k == needle_length) return p;
    ++p;
  }
  return kAbsent;
}

int64_t FindEnd64(const unsigned char* needle, int64_t needle_length, int64_t start,
                  const ByteString& haystack) {
  const int64_t length = haystack.GetLength();
  if (start >= length) return kAbsent;
  return ScanForMatch(needle, needle_length, haystack.GetBytes(), start, length);
}

int64_t FindEndWithin64(const unsigned char* needle, int64_t needle_length, int64_t start,
                        int64_t window, const ByteString& haystack) {
  const int64_t length = haystack.GetLength();
  if (start >= length || window <= 0) return kAbsent;
  int64_t limit = start + window;
  if (limit > length) limit = length;
  return ScanForMatch(needle, needle_length, haystack.GetBytes(), start, limit);
}

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}

int64_t TextLength(const char* text) {
  return text == nullptr ? 0 : static_cast<int64_t>(strlen(text));
}

int32_t StartOf(int64_t end, int64_t needle_length) {
  return end < 0 ? kAbsent : static_cast<int32_t>(end - needle_length + 1);
}

int32_t SectionWalk(const unsigned char* needle, int64_t needle_length, const int32_t* offsets,
                    int32_t count, const ByteString& haystack) {
  if (offsets == nullptr || count <= 0 || needle_length <= 0) return kAbsent;
  for (int32_t i = count - 1; i >= 0; --i) {
    const int64_t window = SectionLength(offsets, count, i, haystack.GetLength());
    const int64_t e = FindEndWithin64(needle, needle_length, offsets[i], window, haystack);
    if (e > 0) return StartOf(e, needle_length);
  }
  return kAbsent;
}

}  // namespace

int32_t ClampPosition(int64_t position) noexcept {
  if (position > INT32_MAX) return INT32_MAX;
  if (position < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(position);
}

int32_t FindTokenEnd(const ByteString& needle, int32_t start, const ByteString& haystack) noexcept {
  return static_cast<int32_t>(FindEnd64(needle.GetBytes(), needle.GetLength(), start, haystack));
}

int32_t FindTokenEnd(const char* needle, int32_t start, const ByteString& haystack) noexcept {
  return static_cast<int32_t>(FindEnd64(Bytes(needle), TextLength(needle), start, haystack));
}

int32_t FindTokenEndWithin(const ByteString& needle, int32_t start, int32_t window,
                           const ByteString& haystack) noexcept {
  return static_cast<int32_t>(
      FindEndWithin64(needle.GetBytes(), needle.GetLength(), start, window, haystack));
}

int32_t FindTokenEndWithin(const char* needle, int32_t start, int32_t window,
                           const ByteString& haystack) noexcept {
  return static_cast<int32_t>(
      FindEndWithin64(Bytes(needle), TextLength(needle), start, window, haystack));
}

int32_t FindTokenStart(const ByteString& needle, int32_t start,
                       const ByteString& haystack) noexcept {
  const int64_t n = needle.GetLength();
  return StartOf(FindEnd64(needle.GetBytes(), n, start, haystack), n);
}

int32_t FindTokenStart(const char* needle, int32_t start, const ByteString& haystack) noexcept {
  const int64_t n = TextLength(needle);
  return StartOf(FindEnd64(Bytes(needle), n, start, haystack), n);
}

ByteString ReadLine(int32_t start, int32_t end, const ByteString& haystack) noexcept {
  const int32_t length = haystack.GetLength();
  if (end > length) end = length;
  if (start < 0 || start >= end) return ByteString();
  const char* bytes = haystack.GetData();
  int32_t p = start;
  while (p < end && bytes[p] != '\r' && bytes[p] != '\n') ++p;
  return haystack.Mid(start, p - start);
}

int64_t SectionLength(const int32_t* offsets, int32_t count, int32_t i,
                      int32_t haystack_length) noexcept {
  if (offsets == nullptr || i < 0 || i >= count) return 0;
  const int64_t next = (i == count - 1) ? int64_t{haystack_length} : int64_t{offsets[i + 1]};
  return next - offsets[i];
}

int32_t FindTokenEndInSection(const char* needle, const int32_t* offsets, int32_t count, int32_t i,
                              const ByteString& haystack) noexcept {
  if (offsets == nullptr || i < 0 || i >= count) return kAbsent;
  const int64_t window = SectionLength(offsets, count, i, haystack.GetLength());
  return static_cast<int32_t>(
      FindEndWithin64(Bytes(needle), TextLength(needle), offsets[i], window, haystack));
}

int32_t FindInSections(const ByteString& needle, const int32_t* offsets, int32_t count,
                       const ByteString& haystack) noexcept {
  return SectionWalk(needle.GetBytes(), needle.GetLength(), offsets, count, haystack);
}

int32_t FindInSections(const char* needle, const int32_t* offsets, int32_t count,
                       const ByteString& haystack) noexcept {
  return SectionWalk(Bytes(needle), TextLength(needle), offsets, count, haystack);
}

}  // namespace vrd
