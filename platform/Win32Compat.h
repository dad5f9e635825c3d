// The Windows services the library calls: file loading (CreateFileA,
// GetFileSize, SetFilePointer, ReadFile, CloseHandle) and the ANSI-to-UTF-16 conversion of the
// output texts (MultiByteToWideChar with CP_ACP).
//
// On Windows this header is <windows.h>. Elsewhere it declares POSIX stand-ins
// with the same names, argument lists and return conventions, so that the
// library's own code compiles unchanged on both. This header is the only place
// that switches on the platform.
//
// POSIX behaviour, where Windows has no exact counterpart:
//  - CreateFileA honours GENERIC_READ + OPEN_EXISTING only, and opens
//    regular files only: a directory, FIFO, socket or device is refused at
//    once (the open never blocks), GetLastError() then reports
//    ERROR_ACCESS_DENIED.
//  - Share modes are not enforced: POSIX has no mandatory counterpart, and
//    the one Linux mechanism that detects writers (file leases) answers with
//    a signal whose default action ends the process. A file that another
//    process holds open for writing is therefore opened and read.
//  - ReadFile on a regular file reads until the count or end of file, as a
//    synchronous Windows read does.
//  - The ANSI code page is UTF-8; invalid sequences become U+FFFD. A result
//    that does not fit the destination fills it and returns 0 with
//    ERROR_INSUFFICIENT_BUFFER.
#ifndef VRD_PLATFORM_WIN32COMPAT_H_
#define VRD_PLATFORM_WIN32COMPAT_H_

#if defined(_WIN32)
#include <windows.h>
typedef wchar_t VrdWideChar;
#else
#include <cstdint>

typedef char16_t VrdWideChar;

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int BOOL;
typedef uint32_t UINT;
typedef char16_t WCHAR;
typedef char16_t* LPWSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef LONG* PLONG;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFFu))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFFu))
#define FILE_BEGIN (0u)
#define GENERIC_READ (0x80000000u)
#define GENERIC_WRITE (0x40000000u)
#define FILE_SHARE_READ (0x00000001u)
#define FILE_SHARE_WRITE (0x00000002u)
#define OPEN_EXISTING (3u)
#define FILE_ATTRIBUTE_NORMAL (0x00000080u)
#define CP_ACP (0u)
#define ERROR_FILE_NOT_FOUND (2u)
#define ERROR_ACCESS_DENIED (5u)
#define ERROR_INVALID_HANDLE (6u)
#define ERROR_SHARING_VIOLATION (32u)
#define ERROR_INVALID_PARAMETER (87u)
#define ERROR_INSUFFICIENT_BUFFER (122u)
#define ERROR_READ_FAULT (30u)
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
DWORD GetFileSize(HANDLE file, LPDWORD file_size_high);
// FILE_BEGIN only; returns the low half of the new position, the high half
// through distance_high when it is not null.
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD move_method);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* multi_byte, int multi_byte_count,
                        LPWSTR wide, int wide_count);
#endif

#endif  // VRD_PLATFORM_WIN32COMPAT_H_
