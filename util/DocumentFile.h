// DocumentFile: an open document file, read at chosen positions. It opens a
// file the way LoadFile does (read-only, existing regular files only, below
// 2 GiB) and keeps the handle until it is destroyed, so that a caller can
// read just the parts of a large document it needs.
//
// The file is not locked: another process may change it between two reads,
// and each read sees the file as it is then (a file cut short meanwhile
// gives kLoadShortRead, never a partial result).
#ifndef VRD_UTIL_DOCUMENTFILE_H_
#define VRD_UTIL_DOCUMENTFILE_H_

#include <cstddef>
#include <cstdint>

#include "platform/Win32Compat.h"
#include "util/LoadFile.h"

namespace vrd {

class DocumentFile {
 public:
  DocumentFile() noexcept = default;
  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  // kLoadOk with the file open and its size known, or kLoadNoPath,
  // kLoadCannotOpen or kLoadNoSize (the codes of LoadFile) with nothing
  // open. A file that is already open is closed first.
  [[nodiscard]] int Open(const char* path) noexcept;
  // The size found by Open (0 when nothing is open).
  [[nodiscard]] int64_t size() const noexcept { return size_; }
  // Reads exactly count bytes from position into destination: kLoadOk,
  // kLoadReadFailed (nothing open, a position outside the file, or the read
  // failed) or kLoadShortRead (the file ended first).
  [[nodiscard]] int ReadAt(int64_t position, void* destination, size_t count) noexcept;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  int64_t size_ = 0;
};

}  // namespace vrd

#endif  // VRD_UTIL_DOCUMENTFILE_H_
