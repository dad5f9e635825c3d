// The library's exported interface: two C functions that verify the RFC 3161
// time-stamp token of a PDF document, one reading the document from a file,
// the other from the caller's memory. Each returns the result code of
// api/ResultCodes.h (0, 2101, 2103 to 2110).
//
// Ownership: the caller owns the path, the input bytes and the four output
// buffers (at least 512 UTF-16 units each: wchar_t on Windows, char16_t
// elsewhere). The library copies the input, keeps no pointer to anything of
// the caller's, and keeps no state between calls; calls may run concurrently.
//
// Memory exhaustion has no code of its own: a document that cannot be held
// gives 2104, as when LoadFile runs out of memory, and any other resource
// failure that escapes the verification gives 2105.
#ifndef VRD_API_EXPORTS_H_
#define VRD_API_EXPORTS_H_

#include <stdint.h>

#include "platform/Win32Compat.h"

#if defined(_WIN32)
#define VRD_CALL __stdcall
#define VRD_EXPORT
#else
#define VRD_CALL
#define VRD_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// pdfPath: NUL-terminated path in the ANSI code page. A file that cannot be
// read gives 2104 with the buffers untouched.
VRD_EXPORT int VRD_CALL QVTSPdfSigVerifyF(const char* pdfPath, VrdWideChar* genTime,
                                          VrdWideChar* hashAlgorithm, VrdWideChar* hashedMessage,
                                          VrdWideChar* subjectName);

// pdfData, pdfLength: the document; a null pointer or a length of 0 or less
// is an empty document (2108).
VRD_EXPORT int VRD_CALL QVTSPdfSigVerifyD(const unsigned char* pdfData, int32_t pdfLength,
                                          VrdWideChar* genTime, VrdWideChar* hashAlgorithm,
                                          VrdWideChar* hashedMessage, VrdWideChar* subjectName);

#ifdef __cplusplus
}
#endif

#endif  // VRD_API_EXPORTS_H_
