/*
 * vrd/tsverify.h - the public C interface of the vrd time-stamp verifier.
 *
 * Two functions verify the RFC 3161 time-stamp token carried in the signature
 * of a PDF document: QVTSPdfSigVerifyF reads the document from a path,
 * QVTSPdfSigVerifyD takes it from memory. Both return one of the VRD_TSV_*
 * result codes below and, for the codes marked "outputs written", fill four
 * caller-owned text buffers.
 *
 * This header is self-contained: it includes only <stdint.h> (C99 and later,
 * C++) and compiles as C89, C99, C11 and C++98 or later.
 *
 * Ownership and threads: the caller owns the path, the input bytes and the
 * four output buffers. The library copies the input, keeps no pointer to
 * anything of the caller's and no state between calls; calls may run
 * concurrently from any number of threads.
 *
 * Output buffers: each must hold VRD_TSV_TEXT_UNITS (512) UTF-16 code units,
 * the terminating NUL included. The unit type is VrdTsvChar:
 *  - Windows: wchar_t (UTF-16). The texts are converted from the process's
 *    ANSI code page.
 *  - elsewhere: char16_t in C++11 and later, uint16_t in C and older C++
 *    (same size and representation, so the two declarations link to the same
 *    function). The texts are converted from UTF-8.
 *
 * Calling convention: __stdcall on Windows; the functions are imported from
 * VIDEREDEve_Z_64.dll (ordinals 1 and 2). Elsewhere the platform's C calling
 * convention; link with -lVIDEREDEve_Z_64.
 */
#ifndef VRD_TSVERIFY_H_
#define VRD_TSVERIFY_H_

#if defined(_MSC_VER) && _MSC_VER < 1600
typedef __int32 int32_t;
typedef unsigned __int16 uint16_t;
#else
#include <stdint.h>
#endif

/* Result codes. 0 is success; 2102 is never returned. */
#define VRD_TSV_OK 0
/* The content was changed after time-stamping (outputs written). */
#define VRD_TSV_DIGEST_MISMATCH 2101
/* The token's imprint algorithm is neither SHA-256 nor SHA-512. */
#define VRD_TSV_UNSUPPORTED_ALGORITHM 2103
/* QVTSPdfSigVerifyF only: the file cannot be read. */
#define VRD_TSV_FILE_UNREADABLE 2104
/* The crypto toolkit or a trust anchor could not be set up (outputs written
 * when the failure came after the token was read). */
#define VRD_TSV_TOOLKIT_SETUP_FAILED 2105
/* The time-stamp token cannot be read from the signature. */
#define VRD_TSV_TOKEN_UNREADABLE 2106
/* The authority's certificate cannot be loaded or named (outputs written). */
#define VRD_TSV_SIGNER_CERTIFICATE_UNREADABLE 2107
/* The document has no usable signature structure. */
#define VRD_TSV_NO_TIME_STAMP_TOKEN 2108
/* The authority's certificate does not chain to a built-in trust anchor
 * (outputs written). */
#define VRD_TSV_CERTIFICATE_VERIFY_FAILED 2109
/* The token is not valid CMS signed data. */
#define VRD_TSV_SIGNED_DATA_INVALID 2110

/* Capacity of each output buffer in UTF-16 units, terminating NUL included. */
#define VRD_TSV_TEXT_UNITS 512

#if defined(_WIN32)
#define VRD_TSV_CALL __stdcall
#if defined(VRD_TSV_BUILDING_LIBRARY)
#define VRD_TSV_API __declspec(dllexport)
#else
#define VRD_TSV_API __declspec(dllimport)
#endif
#else
#define VRD_TSV_CALL
#if defined(VRD_TSV_BUILDING_LIBRARY) && defined(__GNUC__)
#define VRD_TSV_API __attribute__((visibility("default")))
#else
#define VRD_TSV_API
#endif
#endif

#if defined(_WIN32)
typedef wchar_t VrdTsvChar;
#elif defined(__cplusplus) && __cplusplus >= 201103L
typedef char16_t VrdTsvChar;
#else
typedef uint16_t VrdTsvChar;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Verifies the PDF file at pdfPath (NUL-terminated; the ANSI code page on
 * Windows, bytes as given elsewhere). The four buffers receive, when written,
 * the token's generation time, the name of its hash algorithm ("SHA256" or
 * "SHA512"), its message imprint in hexadecimal and the subject name of the
 * authority's certificate. A file that cannot be read gives
 * VRD_TSV_FILE_UNREADABLE with the buffers untouched.
 */
VRD_TSV_API int VRD_TSV_CALL QVTSPdfSigVerifyF(const char* pdfPath, VrdTsvChar* genTime,
                                               VrdTsvChar* hashAlgorithm, VrdTsvChar* hashedMessage,
                                               VrdTsvChar* subjectName);

/*
 * The same for pdfLength bytes at pdfData. A null pointer or a length of 0 or
 * less is an empty document (VRD_TSV_NO_TIME_STAMP_TOKEN).
 */
VRD_TSV_API int VRD_TSV_CALL QVTSPdfSigVerifyD(const unsigned char* pdfData, int32_t pdfLength,
                                               VrdTsvChar* genTime, VrdTsvChar* hashAlgorithm,
                                               VrdTsvChar* hashedMessage, VrdTsvChar* subjectName);

#ifdef __cplusplus
}
#endif

#endif /* VRD_TSVERIFY_H_ */
