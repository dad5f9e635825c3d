// The pieces of the tsverify command that are worth testing on their own:
// command-line parsing, the names and meanings of the result codes, reading
// trusted roots from PEM files, text conversion and JSON output, and the
// verification of one file. main() in tsverify.cpp only wires them together.
//
// Everything here returns by value or through out-parameters; nothing keeps
// state between calls, so VerifyFile may run on several threads at once.
#ifndef VRD_CLI_TSVERIFYCORE_H_
#define VRD_CLI_TSVERIFYCORE_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "platform/Win32Compat.h"
#include "util/ByteString.h"

namespace vrd {

class DocumentFile;
struct ComputedDigest;

namespace cli {

struct Options {
  bool help = false;
  bool version = false;
  bool json = false;
  bool all = false;           // --all: every time-stamp, through the report module
  bool system_roots = false;  // --system-roots (with --all)
  int jobs = 1;
  // --max-inflate BYTES and --max-seconds S (with --all); 0: the report's
  // defaults (report/ReportTypes.h, ResourceLimits).
  uint64_t max_inflate = 0;
  double max_seconds = 0;
  // --model strict (else point-in-time), --at TIME (seconds since 1970; 0:
  // now) and --revocation FILE, with --all.
  bool strict = false;
  bool model_given = false;
  int64_t at = 0;
  std::vector<std::string> revocation_files;
  std::vector<std::string> trust_anchor_files;
  std::string files_from;  // empty: none; "-": standard input
  std::vector<std::string> files;
};

// Fills options from argv[1..argc-1]. Returns false with a one-line reason in
// error for a usage error (unknown option, missing or bad value, no files,
// files given together with --files-from). --files-from implies JSON output.
// With --help or --version no files are needed.
[[nodiscard]] bool ParseCommandLine(int argc, const char* const* argv, Options& options,
                                    std::string& error);

// The usage text for --help.
const char* UsageText();

// The text for --version: "tsverify <project version>" and, on a second line,
// the crypto library the toolkit runs on, as the toolkit reports it.
std::string VersionText();

// "ResultOk", "DigestMismatch", ... and a one-sentence meaning; "Unknown" and
// an empty-ish meaning for codes outside the table.
const char* ResultName(int code);
const char* ResultMeaning(int code);

// Appends the DER of every "CERTIFICATE" block of a PEM text to roots. A text
// without PEM blocks that starts like a DER SEQUENCE is taken as one DER
// certificate. Returns false (roots unchanged) when nothing usable is found or
// a block's Base64 is malformed.
[[nodiscard]] bool ParsePemCertificates(const std::string& text, std::vector<ByteString>& roots);

// tsverify's exit statuses: every file verified; some file did not (or, with
// --all, had no time-stamp); a usage error or an unreadable input of its own.
constexpr int kExitVerified = 0;
constexpr int kExitNotVerified = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIndeterminate = 3;  // --all: none failed, some INDETERMINATE

// Upper bounds of what tsverify reads for its own inputs: a --trust-anchor
// file (sixteen PEM certificates take a few dozen kilobytes) and a
// --files-from list (millions of paths).
constexpr size_t kMaxTrustAnchorFileBytes = size_t{1} << 20;
constexpr size_t kMaxFileListBytes = size_t{256} << 20;

// Whole-file read into text (unchanged on failure); false when the file
// cannot be read, is a directory or a device (some never end: /dev/zero), or
// holds more than max_bytes. FIFOs are read (process substitution).
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string& text,
                                 size_t max_bytes = kMaxFileListBytes);
// The same for a stream read to its end (standard input).
[[nodiscard]] bool ReadWholeStream(std::istream& in, std::string& text, size_t max_bytes);

// UTF-16 (NUL-terminated, at most max_units read) to UTF-8; unpaired
// surrogates become U+FFFD.
std::string Utf16ToUtf8(const VrdWideChar* text, size_t max_units);

// A JSON string literal, quotes included: the text's valid UTF-8 passes
// through, invalid bytes become U+FFFD, quotes, backslashes and control
// characters are escaped.
std::string JsonString(const std::string& text);

struct FileResult {
  int code = 0;
  std::string gen_time;
  std::string hash_algorithm;
  std::string hashed_message;
  std::string subject_name;
  // The library's scanning messages for this file, in UTF-8, in the order
  // they were written (they never reach standard output themselves).
  std::vector<std::string> messages;
  // When the document stage failed: its outcome's name (ERR_NOT_XREF, ...)
  // and meaning; both empty otherwise.
  std::string reason;
  std::string reason_meaning;
};

// Verifies one file the way QVTSPdfSigVerifyF does, with extra trusted roots;
// the library's scanning messages are collected into the result.
FileResult VerifyFile(const std::string& path, const std::vector<ByteString>& extra_roots);
// The same for a file open already (util/DocumentFile.h); loaded, when not
// null, holds the whole file as LoadFile read it, and is read instead;
// computed, when not null, receives the digest to share
// (api/ComputedDigest.h).
FileResult VerifyOpenFile(DocumentFile& file, const ByteString* loaded,
                          const std::vector<ByteString>& extra_roots,
                          ComputedDigest* computed = nullptr);

// One JSON object, without the line feed; a "message" key (the messages,
// one per line) only when the library wrote any, a "reason" key only when
// result.reason is set.
std::string FormatJson(const std::string& path, const FileResult& result);
// The human-readable block for one file, ending with a line feed: a
// "reason:" line only when result.reason is set, each message on a line of
// its own.
std::string FormatText(const std::string& path, const FileResult& result);

// Paths from a list text: one per line, CR before LF dropped, empty lines skipped.
std::vector<std::string> SplitFileList(const std::string& text);

// The certificates of the --trust-anchor files (PEM, or one DER certificate)
// into roots. False with a one-line reason in error when a file cannot be
// read or holds no certificate, or when there are more roots than the
// library takes.
[[nodiscard]] bool LoadTrustAnchorFiles(const std::vector<std::string>& files,
                                        std::vector<ByteString>& roots, std::string& error);

// What a run reads before it verifies anything: the --trust-anchor roots
// (into roots) and the files, from the command line or the --files-from
// list (into files). False, with the reason printed on standard error, when
// one cannot be read or there are more roots than the library takes.
[[nodiscard]] bool LoadRunInputs(const Options& options, std::vector<ByteString>& roots,
                                 std::vector<std::string>& files);

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_TSVERIFYCORE_H_
