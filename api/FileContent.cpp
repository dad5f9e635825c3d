#include "api/FileContent.h"

#include <algorithm>

#include "pdf/TokenList.h"

namespace vrd {
namespace {

// Large enough that a read costs little beside the hashing of its bytes,
// small enough to stay in the processor's second-level cache meanwhile.
constexpr size_t kDefaultBufferBytes = size_t{256} << 10;

bool EnsureBuffer(std::vector<unsigned char>& buffer, size_t wanted) noexcept {
  const size_t bytes = wanted == 0 ? kDefaultBufferBytes : wanted;
  return buffer.size() == bytes || ResizeList(buffer, bytes);
}

// Reads start .. end - 1 a buffer at a time and drops the bytes.
bool ReadAndDrop(DocumentFile& file, int64_t start, int64_t end,
                 std::vector<unsigned char>& buffer) noexcept {
  for (int64_t position = start; position < end;) {
    const auto count =
        static_cast<size_t>(std::min<int64_t>(end - position, static_cast<int64_t>(buffer.size())));
    if (file.ReadAt(position, buffer.data(), count) != kLoadOk) return false;
    position += static_cast<int64_t>(count);
  }
  return true;
}

}  // namespace

bool ReadBeforeTail(FileContent& content) noexcept {
  if (content.file == nullptr) return false;
  std::vector<unsigned char> buffer;
  if (!EnsureBuffer(buffer, content.buffer_bytes)) return false;
  return ReadAndDrop(*content.file, 0, content.tail_start, buffer);
}

FileContentParts::FileContentParts(const SignedContent& signed_content,
                                   FileContent& content) noexcept
    : signed_content_(signed_content), content_(content) {}

EcspPartSource::Part FileContentParts::Next(ByteSpan& bytes) noexcept {
  if (finished_) return Part::kEnd;
  const std::vector<ByteSpan>& pieces = signed_content_.pieces;
  while (piece_ < pieces.size()) {
    const ByteSpan& piece = pieces[piece_];
    // In memory (or nothing to read): handed over as it is.
    if (piece.data != nullptr || piece.length == 0 || piece_ >= signed_content_.positions.size()) {
      bytes = piece;
      ++piece_;
      return Part::kBytes;
    }
    const int64_t start = signed_content_.positions[piece_];
    const int64_t end = start + static_cast<int64_t>(piece.length);
    if (start + piece_done_ < end) return ReadInto(start + piece_done_, end, bytes);
    ++piece_;
    piece_done_ = 0;
  }
  if (!ReadUncovered()) return Part::kUnavailable;
  finished_ = true;
  return Part::kEnd;
}

EcspPartSource::Part FileContentParts::ReadInto(int64_t position, int64_t end,
                                                ByteSpan& bytes) noexcept {
  if (content_.file == nullptr || position < 0 || !EnsureBuffer(buffer_, content_.buffer_bytes)) {
    return Part::kUnavailable;
  }
  const auto count =
      static_cast<size_t>(std::min<int64_t>(end - position, static_cast<int64_t>(buffer_.size())));
  if (content_.file->ReadAt(position, buffer_.data(), count) != kLoadOk) return Part::kUnavailable;
  const int64_t read_end = position + static_cast<int64_t>(count);
  if (!read_.empty() && read_.back().end == position) {
    read_.back().end = read_end;
  } else {
    if (!ResizeList(read_, read_.size() + 1)) return Part::kUnavailable;
    read_.back() = Stretch{position, read_end};
  }
  bytes = ByteSpan{buffer_.data(), count};
  piece_done_ += static_cast<int64_t>(count);
  return Part::kBytes;
}

bool FileContentParts::ReadUncovered() noexcept {
  if (content_.file == nullptr || !EnsureBuffer(buffer_, content_.buffer_bytes)) return false;
  std::sort(read_.begin(), read_.end(),
            [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
  int64_t covered_to = 0;
  for (const Stretch& stretch : read_) {
    if (stretch.start > covered_to &&
        !ReadAndDrop(*content_.file, covered_to, std::min(stretch.start, content_.tail_start),
                     buffer_)) {
      return false;
    }
    covered_to = std::max(covered_to, stretch.end);
  }
  return ReadAndDrop(*content_.file, covered_to, content_.tail_start, buffer_);
}

}  // namespace vrd
