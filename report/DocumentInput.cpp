#include "report/DocumentInput.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <qpdf/InputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <stdexcept>
#include <utility>

#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd::report {
namespace {

// Bytes read from a file at a time: by the long passes (hashing, the
// revision-end scan) and by qpdf's input source.
constexpr size_t kReadBuffer = size_t{256} << 10;
constexpr size_t kSourceWindow = size_t{64} << 10;
constexpr size_t kScanChunk = size_t{1} << 20;

std::shared_ptr<QPDFLogger> SilentLogger() {
  std::shared_ptr<QPDFLogger> logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

// qpdf's view of the first limit bytes of an open file, through a window
// of the file's bytes: qpdf reads a few bytes at a time and seeks often,
// and each of those would otherwise be a system call.
class FileSource final : public InputSource {
 public:
  FileSource(DocumentFile& file, int64_t limit, std::string name)
      : file_(file), limit_(limit), name_(std::move(name)), window_(kSourceWindow) {}

  qpdf_offset_t findAndSkipNextEOL() override {
    qpdf_offset_t found = limit_;
    while (position_ < limit_) {
      const unsigned char* bytes = At(position_);
      const size_t available = Available(position_);
      const void* cr = std::memchr(bytes, '\r', available);
      const void* lf = std::memchr(bytes, '\n', available);
      const void* first = cr == nullptr ? lf : lf == nullptr ? cr : std::min(cr, lf);
      if (first == nullptr) {
        position_ += static_cast<int64_t>(available);
        continue;
      }
      found = position_ + (static_cast<const unsigned char*>(first) - bytes);
      break;
    }
    if (found == limit_) {
      position_ = limit_;
      last_offset = limit_;
      return limit_;
    }
    position_ = found + 1;
    while (position_ < limit_) {
      const unsigned char next = *At(position_);
      if (next != '\r' && next != '\n') break;
      ++position_;
    }
    return found;
  }

  std::string const& getName() const override { return name_; }
  qpdf_offset_t tell() override { return position_; }

  void seek(qpdf_offset_t offset, int whence) override {
    int64_t target = offset;
    if (whence == SEEK_CUR) target += position_;
    if (whence == SEEK_END) target += limit_;
    if (target < 0) throw std::runtime_error(name_ + ": seek before the start of the document");
    position_ = target;
  }

  void rewind() override { position_ = 0; }

  size_t read(char* out, size_t length) override {
    last_offset = position_;
    size_t done = 0;
    while (done < length && position_ < limit_) {
      const size_t count = std::min(length - done, Available(position_));
      std::memcpy(out + done, At(position_), count);
      done += count;
      position_ += static_cast<int64_t>(count);
    }
    return done;
  }

  void unreadCh(char) override {
    if (position_ > 0) --position_;
  }

 private:
  // The window's bytes from position (inside the document), loaded when
  // the window does not hold it.
  const unsigned char* At(int64_t position) {
    if (position < window_start_ || position >= window_start_ + window_length_) {
      const int64_t length =
          std::min<int64_t>(static_cast<int64_t>(window_.size()), limit_ - position);
      if (file_.ReadAt(position, window_.data(), static_cast<size_t>(length)) != kLoadOk) {
        window_length_ = 0;
        throw std::runtime_error("the file cannot be read");
      }
      window_start_ = position;
      window_length_ = length;
    }
    return window_.data() + (position - window_start_);
  }
  size_t Available(int64_t position) {
    (void)At(position);
    return static_cast<size_t>(window_start_ + window_length_ - position);
  }

  DocumentFile& file_;
  int64_t limit_;
  std::string name_;
  std::vector<unsigned char> window_;
  int64_t window_start_ = 0;
  int64_t window_length_ = 0;
  int64_t position_ = 0;
};

}  // namespace

DocumentInput::DocumentInput(const unsigned char* data, size_t size) noexcept
    : data_(data), size_(static_cast<int64_t>(size)) {}

DocumentInput::DocumentInput(DocumentFile& file) noexcept : file_(&file), size_(file.size()) {}

bool DocumentInput::ReadExactly(int64_t offset, size_t count, std::string* out) {
  if (offset < 0 || offset > size_ || static_cast<int64_t>(count) > size_ - offset) return false;
  if (file_ == nullptr) {
    out->assign(reinterpret_cast<const char*>(data_) + offset, count);
    return true;
  }
  out->resize(count);
  return file_->ReadAt(offset, out->data(), count) == kLoadOk;
}

bool DocumentInput::Next(int64_t offset, size_t wanted, ByteSpan* bytes) {
  if (file_ == nullptr) {
    *bytes = ByteSpan{data_ + offset, wanted};
    return true;
  }
  const size_t count = std::min(wanted, kReadBuffer);
  buffer_.resize(kReadBuffer);
  if (file_->ReadAt(offset, buffer_.data(), count) != kLoadOk) return false;
  *bytes = ByteSpan{buffer_.data(), count};
  return true;
}

void DocumentInput::Open(QPDF* pdf, const char* description, int64_t prefix, bool recover) {
  pdf->setLogger(SilentLogger());
  pdf->setSuppressWarnings(true);
  pdf->setAttemptRecovery(recover);
  if (file_ == nullptr) {
    pdf->processMemoryFile(description, reinterpret_cast<const char*>(data_),
                           static_cast<size_t>(prefix));
    return;
  }
  pdf->processInputSource(std::make_shared<FileSource>(*file_, prefix, description));
}

bool DocumentInput::FindRevisionEnds(std::vector<RevisionEnd>* ends) {
  if (file_ == nullptr) {
    *ends = report::FindRevisionEnds(data_, static_cast<size_t>(size_));
    return true;
  }
  std::string head;
  std::string buffer;
  int64_t resume = 0;  // the first position still to be scanned
  for (int64_t chunk = 0; chunk < size_; chunk += static_cast<int64_t>(kScanChunk)) {
    const int64_t first = std::max<int64_t>(0, chunk - static_cast<int64_t>(kStartXrefWindow));
    const int64_t chunk_end = std::min<int64_t>(size_, chunk + static_cast<int64_t>(kScanChunk));
    const int64_t last =
        std::min<int64_t>(size_, chunk_end + static_cast<int64_t>(kRevisionEndLookahead));
    if (!ReadExactly(first, static_cast<size_t>(last - first), &buffer)) return false;
    const auto* data = reinterpret_cast<const unsigned char*>(buffer.data());
    const int64_t from = std::max(resume, chunk);
    if (from >= chunk_end) continue;
    resume = first + static_cast<int64_t>(
                         ScanRevisionEnds(data, buffer.size(), static_cast<size_t>(from - first),
                                          static_cast<size_t>(chunk_end - first), first, ends));
    if (chunk == 0) head.assign(buffer, 0, std::min(buffer.size(), kLinearizationWindow));
  }
  MergeLinearizedFirstPage(reinterpret_cast<const unsigned char*>(head.data()), head.size(), ends);
  return true;
}

}  // namespace vrd::report
