// The --all module's entry points for callers in other languages (the Python
// package in python/vrd loads them with ctypes): the report of one file as
// `tsverify --all --json` prints it, and the document stage's outcome name
// that tsverify shows as "reason". Each name carries the interface version,
// like kAllModuleEntry (cli/AllModule.h). No exception leaves them.
#ifndef VRD_CLI_REPORTENTRY_H_
#define VRD_CLI_REPORTENTRY_H_

#include <stdint.h>

#if defined(_WIN32)
#define VRD_REPORT_API __declspec(dllexport)
#else
#define VRD_REPORT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What VrdTsverifyReportJson1 returns. */
enum {
  VRD_REPORT_OK = 0,      /* *text: the JSON object, without a line feed */
  VRD_REPORT_USAGE = 1,   /* *text: why the arguments cannot be used */
  VRD_REPORT_FAILURE = 2, /* *text: null; out of memory or threads */
};

/*
 * The report of the file at path: the same object, keys and values as the
 * line `tsverify --all --json [--trust-anchor F]... [--system-roots] path`
 * prints. anchor_files names anchor_count PEM files of extra trusted roots.
 * The trust sources of each distinct setting (the anchor files' names, in
 * order, and system_roots) are loaded on first use and kept for the
 * process's lifetime; calls may run on any number of threads at once. *text
 * is the caller's, to be released with VrdTsverifyFreeText1.
 */
VRD_REPORT_API int VrdTsverifyReportJson1(const char* path, const char* const* anchor_files,
                                          int anchor_count, int system_roots, char** text);

/* Releases a text VrdTsverifyReportJson1 returned; null is ignored. */
VRD_REPORT_API void VrdTsverifyFreeText1(char* text);

/*
 * The document stage's outcome for the file at path (when path is not null)
 * or the size bytes at data, as QVTSPdfSigVerifyF and QVTSPdfSigVerifyD
 * would meet it: "OK" when the stage passed, else its name ("ERR_NOT_XREF",
 * ...). The scanning messages of the stage are not written. A static text;
 * null when the call failed (out of memory).
 */
VRD_REPORT_API const char* VrdTsverifyDocumentOutcome1(const char* path, const unsigned char* data,
                                                       int32_t size);

#ifdef __cplusplus
}
#endif

#endif  // VRD_CLI_REPORTENTRY_H_
