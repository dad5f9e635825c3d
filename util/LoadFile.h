// LoadFile: read a whole file, named by a path in the ANSI code page, into a
// ByteString with the platform's file services (read-only, others may read
// but not write while it is open, existing files only).
//
// Codes: kLoadOk 0 (content in out; an empty file leaves out empty),
// kLoadNoPath 1 (null or empty path; nothing touched), kLoadCannotOpen 2,
// kLoadNoSize 3 (size unobtainable, or 2 GiB and more: beyond a ByteString),
// kLoadNoMemory 4, kLoadReadFailed 5, kLoadShortRead 6.
// out keeps what it held on every failure. The file is read in one call
// straight into the string's own block (one allocation, no second copy).
// The handle is closed on every path.
#ifndef VRD_UTIL_LOADFILE_H_
#define VRD_UTIL_LOADFILE_H_

#include "util/ByteString.h"

namespace vrd {

enum LoadFileCode : int {
  kLoadOk = 0,
  kLoadNoPath = 1,
  kLoadCannotOpen = 2,
  kLoadNoSize = 3,
  kLoadNoMemory = 4,
  kLoadReadFailed = 5,
  kLoadShortRead = 6,
};

[[nodiscard]] int LoadFile(const char* path, ByteString& out) noexcept;

// The same for a file that is open already (util/DocumentFile.h), read from
// its start whatever was read of it before: kLoadOk or codes 4 to 6.
class DocumentFile;
[[nodiscard]] int LoadFile(DocumentFile& file, ByteString& out) noexcept;

}  // namespace vrd

#endif  // VRD_UTIL_LOADFILE_H_
