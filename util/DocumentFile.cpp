#include "util/DocumentFile.h"

namespace vrd {

DocumentFile::~DocumentFile() {
  if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) CloseHandle(handle_);
}

int DocumentFile::Open(const char* path) noexcept {
  if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  size_ = 0;
  if (path == nullptr || path[0] == '\0') return kLoadNoPath;
  HANDLE opened = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE || opened == nullptr) return kLoadCannotOpen;
  handle_ = opened;

  // The high half is asked for too: a file of 2 GiB or more does not fit a
  // ByteString and must not load as a wrapped-around prefix.
  DWORD size_high = 0;
  const DWORD size_low = GetFileSize(handle_, &size_high);
  if (size_low == INVALID_FILE_SIZE || size_high != 0 ||
      size_low > static_cast<DWORD>(INT32_MAX - 1)) {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return kLoadNoSize;
  }
  size_ = size_low;
  return kLoadOk;
}

int DocumentFile::ReadAt(int64_t position, void* destination, size_t count) noexcept {
  if (handle_ == INVALID_HANDLE_VALUE || handle_ == nullptr || position < 0 || position > size_ ||
      count > static_cast<size_t>(size_ - position)) {
    return kLoadReadFailed;
  }
  if (count == 0) return kLoadOk;
  LONG position_high = 0;
  if (SetFilePointer(handle_, static_cast<LONG>(position), &position_high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != 0) {
    return kLoadReadFailed;
  }
  DWORD got = 0;
  if (!ReadFile(handle_, destination, static_cast<DWORD>(count), &got, nullptr)) {
    return kLoadReadFailed;
  }
  return got == count ? kLoadOk : kLoadShortRead;
}

}  // namespace vrd
