// How `tsverify --all` prints one file: every RFC 3161 time-stamp the
// report (report/Report.h) found in it, next to the exported functions' own
// verdict on the same file ("library"). Text: one block per time-stamp under
// the file's line; JSON: one object per file and line with a "timestamps"
// array. Formatting only; the run itself is the --all module's
// (cli/AllModule.cpp).
#ifndef VRD_CLI_ALLREPORT_H_
#define VRD_CLI_ALLREPORT_H_

#include <string>
#include <vector>

#include "cli/TsVerifyCore.h"
#include "report/Report.h"

namespace vrd {
namespace cli {

struct AllResult {
  bool opened = false;   // the file was read and qpdf opened it
  int library_code = 0;  // what QVTSPdfSigVerifyF says of the same file
  report::DocumentReport report;
  // At least one time-stamp, and every one verified.
  [[nodiscard]] bool Verified() const;
  // The file's exit status with --all: kExitVerified when it has time-stamps
  // and every one is PASSED, kExitIndeterminate when none is FAILED but some
  // are INDETERMINATE, kExitNotVerified otherwise.
  [[nodiscard]] int ExitStatus() const;
};

// The exit status of a run from two of its files' (FAILED over
// INDETERMINATE over PASSED).
[[nodiscard]] int WorseExitStatus(int a, int b);

std::string FormatAllJson(const std::string& path, const AllResult& result);
std::string FormatAllText(const std::string& path, const AllResult& result);

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_ALLREPORT_H_
