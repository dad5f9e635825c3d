// `tsverify --all`: every RFC 3161 time-stamp of each file, from the report
// module (report/Report.h), next to the exported functions' own verdict on
// the same file ("library"). Text: one block per time-stamp under the file's
// line; JSON: one object per file and line with a "timestamps" array.
//
// Exit status of RunAll: 0 when every file has at least one time-stamp and
// every time-stamp verifies, 1 otherwise.
#ifndef VRD_CLI_ALLREPORT_H_
#define VRD_CLI_ALLREPORT_H_

#include <string>
#include <vector>

#include "cli/TsVerifyCore.h"
#include "report/Report.h"
#include "util/ByteString.h"

namespace vrd {
namespace cli {

struct AllResult {
  bool opened = false;   // the file was read and qpdf opened it
  int library_code = 0;  // what QVTSPdfSigVerifyD says of the same bytes
  report::DocumentReport report;
  // At least one time-stamp, and every one verified.
  [[nodiscard]] bool Verified() const;
};

// Reports on one file: the report over the file's bytes (mapped read-only)
// and, on a second thread, the library's verdict as VerifyFile gives it.
AllResult ReportFile(const std::string& path, const report::TrustSources& trust,
                     const std::vector<ByteString>& extra_roots);

std::string FormatAllJson(const std::string& path, const AllResult& result);
std::string FormatAllText(const std::string& path, const AllResult& result);

// Runs --all over files, printing each result in order; returns the exit status.
int RunAll(const Options& options, const std::vector<ByteString>& extra_roots,
           const std::vector<std::string>& files);

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_ALLREPORT_H_
