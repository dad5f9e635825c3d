#include "util/LoadFile.h"

#include <cstdint>
#include <utility>

#include "platform/Win32Compat.h"

namespace vrd {
namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) noexcept : h_(h) {}
  ~FileHandle() {
    if (valid()) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const noexcept { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const noexcept { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

int LoadFile(const char* path, ByteString& out) noexcept {
  if (path == nullptr || path[0] == '\0') return kLoadNoPath;
  FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return kLoadCannotOpen;

  // The high half is asked for too: a file of 2 GiB or more does not fit a
  // ByteString and must not load as a wrapped-around prefix.
  DWORD size_high = 0;
  const DWORD size = GetFileSize(file.get(), &size_high);
  if (size == INVALID_FILE_SIZE || size_high != 0 || size > static_cast<DWORD>(INT32_MAX - 1)) {
    return kLoadNoSize;
  }
  if (size == 0) {
    (void)out.SetData(nullptr, 0);
    return kLoadOk;
  }

  // Read straight into a fresh string, handed to out only when complete, so
  // out keeps what it held on every failure and the bytes are copied once.
  ByteString loaded;
  char* block = loaded.PrepareContent(static_cast<int>(size));
  if (block == nullptr) return kLoadNoMemory;

  DWORD got = 0;
  if (!ReadFile(file.get(), block, size, &got, nullptr)) return kLoadReadFailed;
  if (got != size) return kLoadShortRead;
  out = std::move(loaded);
  return kLoadOk;
}

}  // namespace vrd
