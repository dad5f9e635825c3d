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

#include "report/Budget.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd::report {
namespace {

// Bytes read from a file at a time: by the long passes (hashing, the
// revision-end scan) and by qpdf's input source.
constexpr size_t kReadBuffer = size_t{256} << 10;
// The file's bytes are cached in pages, shared by every open of the
// document (its earlier revisions read mostly the same bytes again).
constexpr size_t kPageSize = size_t{16} << 10;
constexpr size_t kMaxPages = 512;
// The bytes searched at a time for the end of a line.
constexpr size_t kLineScan = 4096;
// What one call of qpdf's on the input source costs, in bytes of parsing.
constexpr size_t kCallCost = 16;
constexpr size_t kScanChunk = size_t{1} << 20;

std::shared_ptr<QPDFLogger> SilentLogger() {
  std::shared_ptr<QPDFLogger> logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

// qpdf's view of the first limit bytes of the document. Every byte qpdf
// reads or scans is charged to the document's budget; once the budget is
// exhausted the source reads as the end of the document, which ends every
// loop of qpdf's (recovery's rescans among them) at once.
class Source final : public InputSource {
 public:
  Source(DocumentInput& input, int64_t limit, std::string name, DocumentBudget* budget)
      : input_(input), limit_(limit), name_(std::move(name)), budget_(budget) {}

  qpdf_offset_t findAndSkipNextEOL() override {
    qpdf_offset_t found = limit_;
    while (position_ < limit_) {
      size_t available = 0;
      const unsigned char* bytes = Bytes(position_, &available);
      if (bytes == nullptr) break;
      available = std::min(available, kLineScan);  // lines are short: look a little ahead
      const void* cr = std::memchr(bytes, '\r', available);
      const void* lf = std::memchr(bytes, '\n', available);
      const void* first = cr == nullptr ? lf : lf == nullptr ? cr : std::min(cr, lf);
      const size_t scanned =
          first == nullptr ? available : static_cast<const unsigned char*>(first) - bytes;
      if (!Charge(scanned)) break;
      if (first == nullptr) {
        position_ += static_cast<int64_t>(available);
        continue;
      }
      found = position_ + static_cast<int64_t>(scanned);
      break;
    }
    if (found == limit_) {
      position_ = limit_;
      last_offset = limit_;
      return limit_;
    }
    position_ = found + 1;
    size_t available = 0;
    while (position_ < limit_) {
      const unsigned char* next = Bytes(position_, &available);
      if (next == nullptr || (*next != '\r' && *next != '\n')) break;
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
      size_t available = 0;
      const unsigned char* bytes = Bytes(position_, &available);
      const size_t count = std::min(length - done, available);
      if (bytes == nullptr || !Charge(count)) break;
      std::memcpy(out + done, bytes, count);
      done += count;
      position_ += static_cast<int64_t>(count);
    }
    return done;
  }

  void unreadCh(char) override {
    if (position_ > 0) --position_;
  }

 private:
  // The bytes from position (below limit_) that can be read at once, their
  // count in *available; null once the budget is exhausted.
  const unsigned char* Bytes(int64_t position, size_t* available) {
    if (budget_ != nullptr && budget_->exhausted()) return nullptr;
    const unsigned char* bytes = input_.BytesAt(position, available);
    *available =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(*available), limit_ - position));
    return bytes;
  }
  // Charges the bytes a call used, and a little for the call itself.
  bool Charge(size_t bytes) {
    return budget_ == nullptr || budget_->ChargeParsing(std::max(bytes, kCallCost));
  }

  DocumentInput& input_;
  int64_t limit_;
  std::string name_;
  DocumentBudget* budget_;
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

bool DocumentInput::Contains(int64_t begin, int64_t end, std::string_view needle) {
  begin = std::max<int64_t>(begin, 0);
  end = std::min(end, size_);
  if (needle.empty() || end - begin < static_cast<int64_t>(needle.size())) return false;
  // The last needle.size() - 1 bytes of one read lead the next, so that a
  // match across two reads is found.
  std::string carry;
  for (int64_t at = begin; at < end;) {
    ByteSpan bytes;
    if (!Next(at, static_cast<size_t>(end - at), &bytes) || bytes.length == 0) return false;
    const std::string_view read(reinterpret_cast<const char*>(bytes.data), bytes.length);
    carry.append(read.substr(0, needle.size() - 1));
    if (carry.find(needle) != std::string::npos || read.find(needle) != std::string_view::npos) {
      return true;
    }
    carry.assign(read.substr(read.size() - std::min(read.size(), needle.size() - 1)));
    at += static_cast<int64_t>(bytes.length);
  }
  return false;
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
  pdf->processInputSource(std::make_shared<Source>(*this, prefix, description, budget_));
}

const unsigned char* DocumentInput::BytesAt(int64_t position, size_t* available) {
  if (file_ == nullptr) {
    *available = static_cast<size_t>(size_ - position);
    return data_ + position;
  }
  const int64_t page = position / static_cast<int64_t>(kPageSize);
  Page* slot = nullptr;
  const auto found = page_slot_.find(page);
  if (found != page_slot_.end()) {
    slot = &pages_[found->second];
  } else {
    size_t index = pages_.size();
    if (index < kMaxPages) {
      pages_.emplace_back();
      pages_.back().bytes.resize(kPageSize);
    } else {
      index = static_cast<size_t>(
          std::min_element(pages_.begin(), pages_.end(),
                           [](const Page& a, const Page& b) { return a.used < b.used; }) -
          pages_.begin());
      page_slot_.erase(pages_[index].page);
    }
    slot = &pages_[index];
    const int64_t start = page * static_cast<int64_t>(kPageSize);
    slot->page = page;
    slot->length = static_cast<size_t>(std::min<int64_t>(kPageSize, size_ - start));
    if (file_->ReadAt(start, slot->bytes.data(), slot->length) != kLoadOk) {
      slot->page = -1;
      slot->used = 0;
      throw std::runtime_error("the file cannot be read");
    }
    page_slot_[page] = index;
  }
  slot->used = ++page_clock_;
  const size_t offset =
      static_cast<size_t>(position - slot->page * static_cast<int64_t>(kPageSize));
  *available = slot->length - offset;
  return slot->bytes.data() + offset;
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
