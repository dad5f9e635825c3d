#include "util/LoadFile.h"

#include <cstdint>
#include <cstring>

#include "platform/Win32Compat.h"
#include "util/Memory.h"

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

class WipedBlock {
 public:
  WipedBlock(void* p, size_t size) noexcept : p_(p), size_(size) {}
  ~WipedBlock() {
    if (p_ != nullptr) {
      SecureZero(p_, size_);
      FreeBlock(p_);
    }
  }
  WipedBlock(const WipedBlock&) = delete;
  WipedBlock& operator=(const WipedBlock&) = delete;

 private:
  void* p_;
  size_t size_;
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

  const size_t block_size = static_cast<size_t>(size) + 1;
  char* block = static_cast<char*>(AllocBlock(block_size));
  if (block == nullptr) return kLoadNoMemory;
  WipedBlock wipe(block, block_size);
  std::memset(block, 0, block_size);

  DWORD got = 0;
  if (!ReadFile(file.get(), block, size, &got, nullptr)) return kLoadReadFailed;
  if (got != size) return kLoadShortRead;
  if (out.SetData(block, static_cast<int>(size)) != ByteString::kOk) return kLoadNoMemory;
  return kLoadOk;
}

}  // namespace vrd
