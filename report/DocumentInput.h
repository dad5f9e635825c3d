// The document's bytes as the report reads them: all in memory, or from a
// file that is already open (util/DocumentFile.h) and read as needed, a
// buffer at a time, so that a large file is never held whole. The same
// object hands qpdf the document, or the prefix of it that ends an earlier
// revision, through an input source of its own (no second open of the file,
// no copy of a prefix), and finds the revision ends.
//
// Ownership: borrows the bytes or the open file, which must outlive it and
// every QPDF object opened through it. Not for use by two threads at once.
#ifndef VRD_REPORT_DOCUMENTINPUT_H_
#define VRD_REPORT_DOCUMENTINPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "report/RevisionEnds.h"
#include "report/TokenReport.h"
#include "util/ByteSpan.h"

class QPDF;

namespace vrd {
class DocumentFile;
}

namespace vrd::report {

class DocumentBudget;

class DocumentInput final : public RangeReader {
 public:
  DocumentInput(const unsigned char* data, size_t size) noexcept;
  explicit DocumentInput(DocumentFile& file) noexcept;

  [[nodiscard]] int64_t size() const noexcept { return size_; }

  // The count bytes from offset (inside the document), or false.
  [[nodiscard]] bool ReadExactly(int64_t offset, size_t count, std::string* out);

  // Whether the bytes from begin to end hold needle, read in place (no copy).
  [[nodiscard]] bool Contains(int64_t begin, int64_t end, std::string_view needle);

  // RangeReader: at most a read buffer's worth from a file.
  bool Next(int64_t offset, size_t wanted, ByteSpan* bytes) override;

  // Charges qpdf's reading of the document to budget (report/Budget.h), for
  // every Open from now on; null: no budget.
  void SetBudget(DocumentBudget* budget) noexcept { budget_ = budget; }

  // The bytes from position (inside the document) that can be read at once,
  // their count in *available (at least 1); valid until the next call. A
  // file is read a page at a time, through a cache of recent pages. Throws
  // std::runtime_error when the file cannot be read (for qpdf's input
  // source, whose caller catches qpdf's exceptions).
  const unsigned char* BytesAt(int64_t position, size_t* available);

  // Opens the document's first prefix bytes in pdf, quietly, with qpdf's
  // recovery of damaged cross-reference data on or off (recovery rescans the
  // file, and costs far more than a plain open on hostile input). qpdf's
  // exceptions reach the caller, which catches them at its edge with qpdf.
  void Open(QPDF* pdf, const char* description, int64_t prefix, bool recover = true);

  // The revision ends (report/RevisionEnds.h); false when the file could
  // not be read.
  [[nodiscard]] bool FindRevisionEnds(std::vector<RevisionEnd>* ends);

 private:
  const unsigned char* data_ = nullptr;
  DocumentFile* file_ = nullptr;
  int64_t size_ = 0;
  std::vector<unsigned char> buffer_;
  DocumentBudget* budget_ = nullptr;
  struct Page {
    int64_t page = -1;
    size_t length = 0;
    uint64_t used = 0;
    std::vector<unsigned char> bytes;
  };
  std::vector<Page> pages_;
  std::unordered_map<int64_t, size_t> page_slot_;
  uint64_t page_clock_ = 0;
};

}  // namespace vrd::report

#endif  // VRD_REPORT_DOCUMENTINPUT_H_
