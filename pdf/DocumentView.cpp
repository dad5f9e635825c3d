#include "pdf/DocumentView.h"

#include <cstring>

namespace vrd {

DocumentView::DocumentView(const unsigned char* bytes, int32_t length) noexcept {
  if (bytes == nullptr || length <= 0) return;
  bytes_ = bytes;
  length_ = length;
}

DocumentView::DocumentView(const ByteString& document) noexcept
    : DocumentView(document.GetBytes(), document.GetLength()) {}

DocumentView DocumentView::Tail(const unsigned char* tail, int64_t tail_start, int64_t length,
                                bool* read_before_tail) noexcept {
  DocumentView view;
  if (length <= 0 || tail_start < 0 || tail_start > length || read_before_tail == nullptr ||
      (tail == nullptr && tail_start < length)) {
    return view;
  }
  view.bytes_ = tail;
  view.tail_start_ = tail_start;
  view.length_ = length;
  view.read_before_tail_ = read_before_tail;
  return view;
}

bool DocumentView::BeforeTail(int64_t position) const noexcept {
  if (position >= tail_start_) return false;
  if (read_before_tail_ != nullptr) *read_before_tail_ = true;
  return true;
}

bool DocumentView::InMemory(int64_t start, int64_t count) const noexcept {
  return start >= tail_start_ && count >= 0 && start <= length_ && count <= length_ - start;
}

std::optional<unsigned char> DocumentView::ByteAt(int64_t position) const noexcept {
  if (!Holds(position) || BeforeTail(position)) return std::nullopt;
  return bytes_[position - tail_start_];
}

bool DocumentView::ByteIs(int64_t position, unsigned char expected) const noexcept {
  const std::optional<unsigned char> byte = ByteAt(position);
  return byte && *byte == expected;
}

bool DocumentView::IsLineEnd(int64_t position) const noexcept {
  return ByteIs(position, '\r') || ByteIs(position, '\n');
}

std::optional<ByteSpan> DocumentView::Span(int64_t start, int64_t count) const noexcept {
  if (start < 0 || count < 0 || start > length_ || count > length_ - start) return std::nullopt;
  if (count == 0 && start < tail_start_) return ByteSpan{bytes_, 0};
  if (BeforeTail(start)) return std::nullopt;
  return ByteSpan{bytes_ + (start - tail_start_), static_cast<size_t>(count)};
}

std::optional<ByteString> DocumentView::Copy(int64_t start, int64_t count) const noexcept {
  if (count <= 0) return ByteString();
  const std::optional<ByteSpan> span = Span(start, count);
  if (!span) return std::nullopt;
  ByteString copy;
  if (copy.SetData(span->data, static_cast<int>(span->length)) != ByteString::kOk) {
    return std::nullopt;
  }
  return copy;
}

// While no needle byte is matched, memchr jumps to the next byte equal to
// the needle's first one: exactly the positions a byte-wise scan would pass
// over without effect.
std::optional<int64_t> DocumentView::Scan(std::string_view needle, int64_t start,
                                          int64_t limit) const noexcept {
  if (needle.empty()) return std::nullopt;
  const auto* wanted = reinterpret_cast<const unsigned char*>(needle.data());
  const auto needle_length = static_cast<int64_t>(needle.size());
  const int64_t first = start < 0 ? 0 : start;
  if (first < limit && BeforeTail(first)) return std::nullopt;
  // Positions from here on are all in memory, position p at bytes_[p - tail_start_].
  int64_t matched = 0;
  for (int64_t position = first; position < limit; ++position) {
    const unsigned char* here = bytes_ + (position - tail_start_);
    if (matched == 0) {
      const void* hit = memchr(here, wanted[0], static_cast<size_t>(limit - position));
      if (hit == nullptr) return std::nullopt;
      position += static_cast<const unsigned char*>(hit) - here;
      matched = 1;
    } else if (*here == wanted[matched]) {
      ++matched;
    } else {
      matched = 0;  // no back-up
    }
    if (matched == needle_length) return position;
  }
  return std::nullopt;
}

std::optional<int64_t> DocumentView::FindEnd(std::string_view needle,
                                             int64_t start) const noexcept {
  if (start >= length_) return std::nullopt;
  return Scan(needle, start, length_);
}

std::optional<int64_t> DocumentView::FindEndWithin(std::string_view needle, int64_t start,
                                                   int64_t window) const noexcept {
  if (start >= length_ || window <= 0) return std::nullopt;
  const int64_t window_end = window > length_ - start ? length_ : start + window;
  return Scan(needle, start, window_end);
}

std::optional<int64_t> DocumentView::FindStart(std::string_view needle,
                                               int64_t start) const noexcept {
  const std::optional<int64_t> match_end = FindEnd(needle, start);
  if (!match_end) return std::nullopt;
  return *match_end - static_cast<int64_t>(needle.size()) + 1;
}

ObjectSection DocumentView::Section(const std::vector<int32_t>& offsets,
                                    size_t index) const noexcept {
  if (index >= offsets.size()) return {};
  const int64_t next = index + 1 == offsets.size() ? length_ : int64_t{offsets[index + 1]};
  return {offsets[index], next - offsets[index]};
}

std::optional<int64_t> DocumentView::FindEndInSection(std::string_view needle,
                                                      const std::vector<int32_t>& offsets,
                                                      size_t index) const noexcept {
  if (index >= offsets.size()) return std::nullopt;
  const ObjectSection section = Section(offsets, index);
  return FindEndWithin(needle, section.start, section.length);
}

std::optional<int64_t> DocumentView::FindInSections(
    std::string_view needle, const std::vector<int32_t>& offsets) const noexcept {
  for (size_t index = offsets.size(); index-- > 0;) {
    const std::optional<int64_t> match_end = FindEndInSection(needle, offsets, index);
    if (match_end && *match_end > 0) return *match_end + 1 - static_cast<int64_t>(needle.size());
  }
  return std::nullopt;
}

ByteSpan DocumentView::LineAt(int64_t start, int64_t end) const noexcept {
  if (end > length_) end = length_;
  if (start < 0 || start >= end || BeforeTail(start)) return {};
  int64_t line_end = start;
  while (line_end < end && !IsLineEnd(line_end)) ++line_end;
  return {bytes_ + (start - tail_start_), static_cast<size_t>(line_end - start)};
}

int64_t DocumentView::SkipLineEnds(int64_t start, int max_count) const noexcept {
  int64_t position = start;
  for (int skipped = 0; skipped < max_count && IsLineEnd(position); ++skipped) ++position;
  return position;
}

}  // namespace vrd
