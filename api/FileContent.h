// FileContent: the signed content of a large document that was not loaded
// whole, read from its file as the digest goes.
//
// The document stage ran over a view holding only the file's tail (from
// tail_start to the end); the pieces of the signed content that lie before
// the tail came without data (api/AssembleSignedContent.h). FileContentParts
// hands the pieces to the digest engine in order, those in memory as they
// are and the others read from the file one buffer at a time (a buffer that
// stays in the processor's cache while it is hashed). Once the last piece is
// out it also reads, and drops, every byte of the file that neither the tail
// nor a piece covered, so that the content counts as available only when
// the whole file could be read, as when it is loaded whole.
//
// The file belongs to the caller and stays open while the parts are used.
#ifndef VRD_API_FILECONTENT_H_
#define VRD_API_FILECONTENT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "api/AssembleSignedContent.h"
#include "src/VORirori/ECSP.h"
#include "util/DocumentFile.h"

namespace vrd {

struct FileContent {
  DocumentFile* file = nullptr;
  int64_t tail_start = 0;   // the tail, from here to the end, was read already
  size_t buffer_bytes = 0;  // the read buffer (a default size when 0)
  bool digest_ran = false;  // set once the parts were handed to a digest
};

// Reads, and drops, every byte of the file before the tail: true when all
// of it could be read. For a verification that ended before its digest.
[[nodiscard]] bool ReadBeforeTail(FileContent& content) noexcept;

class FileContentParts final : public EcspPartSource {
 public:
  FileContentParts(const SignedContent& signed_content, FileContent& content) noexcept;
  FileContentParts(const FileContentParts&) = delete;
  FileContentParts& operator=(const FileContentParts&) = delete;

  // kBytes, kEnd, or kUnavailable when a read failed, the file ended early
  // or there was no storage for the buffer.
  [[nodiscard]] Part Next(ByteSpan& bytes) noexcept override;

 private:
  struct Stretch {
    int64_t start;
    int64_t end;
  };
  [[nodiscard]] Part ReadInto(int64_t position, int64_t end, ByteSpan& bytes) noexcept;
  [[nodiscard]] bool ReadUncovered() noexcept;

  const SignedContent& signed_content_;
  FileContent& content_;
  std::vector<unsigned char> buffer_;
  std::vector<Stretch> read_;  // what the file has given so far
  size_t piece_ = 0;           // the piece being handed out
  int64_t piece_done_ = 0;     // its bytes handed out so far
  bool finished_ = false;
};

}  // namespace vrd

#endif  // VRD_API_FILECONTENT_H_
