#include "platform/Win32Compat.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "platform/Utf8.h"

namespace {

thread_local DWORD last_error = 0;

struct PosixHandle {
  int fd;
};

PosixHandle* FromHandle(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<PosixHandle*>(h);
}

DWORD ErrnoToWin32(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

// Only regular files are documents. A FIFO, socket, device or directory is
// refused before anything is read from it, so nothing can block or stream
// without end.
bool IsDocumentFile(const struct stat& st) { return S_ISREG(st.st_mode); }

}  // namespace

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file) {
  (void)security;
  (void)flags_and_attributes;
  (void)template_file;
  if (file_name == nullptr || desired_access != GENERIC_READ ||
      creation_disposition != OPEN_EXISTING) {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  (void)share_mode;  // not enforced: see the header
  // A device is not even opened (opening some has effects of its own); the
  // type is checked again on the descriptor, which is what gets read.
  struct stat st;
  if (stat(file_name, &st) == 0 && !IsDocumentFile(st)) {
    last_error = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  // O_NONBLOCK: opening a FIFO without a writer, or a device, must not wait.
  // O_NOCTTY: a terminal never becomes our controlling terminal.
  const int fd = open(file_name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    last_error = ErrnoToWin32(errno);
    return INVALID_HANDLE_VALUE;
  }
  if (fstat(fd, &st) != 0 || !IsDocumentFile(st)) {
    close(fd);
    last_error = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  // Reads of a regular file never block; the flag is cleared all the same so
  // the descriptor behaves like an ordinary one.
  const int status_flags = fcntl(fd, F_GETFL);
  if (status_flags < 0 || fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) != 0) {
    close(fd);
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  PosixHandle* h = new (std::nothrow) PosixHandle{fd};
  if (h == nullptr) {
    close(fd);
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  last_error = 0;
  return h;
}

DWORD GetFileSize(HANDLE file, LPDWORD file_size_high) {
  PosixHandle* h = FromHandle(file);
  struct stat st;
  if (h == nullptr || fstat(h->fd, &st) != 0 || st.st_size < 0) {
    last_error = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (file_size_high != nullptr) *file_size_high = static_cast<DWORD>(size >> 32);
  last_error = 0;
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD move_method) {
  PosixHandle* h = FromHandle(file);
  const int64_t high = distance_high != nullptr ? *distance_high : 0;
  const int64_t target =
      static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | static_cast<uint32_t>(distance));
  if (h == nullptr || move_method != FILE_BEGIN || target < 0) {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  const off_t reached = lseek(h->fd, static_cast<off_t>(target), SEEK_SET);
  if (reached < 0) {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  const auto position = static_cast<uint64_t>(reached);
  if (distance_high != nullptr) *distance_high = static_cast<LONG>(position >> 32);
  last_error = 0;
  return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              LPOVERLAPPED overlapped) {
  PosixHandle* h = FromHandle(file);
  if (bytes_read != nullptr) *bytes_read = 0;
  if (h == nullptr || overlapped != nullptr || (buffer == nullptr && bytes_to_read != 0)) {
    last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  unsigned char* out = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < bytes_to_read) {
    const ssize_t got = read(h->fd, out + done, bytes_to_read - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      last_error = ERROR_READ_FAULT;
      if (bytes_read != nullptr) *bytes_read = done;
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  if (bytes_read != nullptr) *bytes_read = done;
  last_error = 0;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  PosixHandle* h = FromHandle(object);
  if (h == nullptr) {
    last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  const int rc = close(h->fd);
  delete h;
  last_error = rc == 0 ? 0 : ERROR_INVALID_HANDLE;
  return rc == 0 ? TRUE : FALSE;
}

DWORD GetLastError() { return last_error; }

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* multi_byte, int multi_byte_count,
                        LPWSTR wide, int wide_count) {
  if (code_page != CP_ACP || flags != 0 || multi_byte == nullptr || multi_byte_count == 0 ||
      multi_byte_count < -1 || wide_count < 0 || (wide == nullptr && wide_count != 0)) {
    last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const size_t n =
      multi_byte_count == -1 ? std::strlen(multi_byte) + 1 : static_cast<size_t>(multi_byte_count);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(multi_byte);
  size_t units = 0;  // units produced (or needed)
  size_t i = 0;
  while (i < n) {
    size_t taken = 1;
    const char32_t cp = vrd::DecodeUtf8Sequence(s + i, n - i, &taken);
    i += taken;
    char16_t pair[2];
    size_t count = 1;
    if (cp >= 0x10000) {
      pair[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      pair[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      count = 2;
    } else {
      pair[0] = static_cast<char16_t>(cp);
    }
    if (wide_count != 0) {
      if (units + count > static_cast<size_t>(wide_count)) {
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      for (size_t k = 0; k < count; ++k) wide[units + k] = pair[k];
    }
    units += count;
    if (units > 0x7FFFFFFF) {
      last_error = ERROR_INVALID_PARAMETER;
      return 0;
    }
  }
  last_error = 0;
  return static_cast<int>(units);
}
