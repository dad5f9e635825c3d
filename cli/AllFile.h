// What the --all module does for one file, shared by `tsverify --all`
// (cli/AllModule.cpp) and the module's entry for other languages
// (cli/ReportEntry.cpp): the trust settings of a run and the report of one
// file next to the library's verdict on it.
#ifndef VRD_CLI_ALLFILE_H_
#define VRD_CLI_ALLFILE_H_

#include <future>
#include <string>
#include <vector>

#include "cli/AllReport.h"
#include "report/Report.h"
#include "report/TokenReport.h"
#include "util/ByteString.h"

namespace vrd {
namespace cli {

// The report's trust settings for the --trust-anchor roots (DER) and
// --system-roots.
report::TrustSettings AllTrustSettings(const std::vector<ByteString>& extra_roots,
                                       bool system_roots);

// One file, opened once: the library's verdict (as QVTSPdfSigVerifyF gives
// it) and the report both read the same open file, and a document small
// enough for the library to load whole is read once, for both.
// trust_ready: true once the run's trust sources are loaded, false when they
// cannot be (the report is then not made). options: the report's resource
// budget and validation model.
AllResult ReportFile(const std::string& path, const report::TrustSources& trust,
                     const std::shared_future<bool>& trust_ready,
                     const std::vector<ByteString>& extra_roots,
                     const report::ReportOptions& options = report::ReportOptions());

// The report's options for --max-inflate, --max-seconds, --model and --at.
report::ReportOptions AllReportOptions(const Options& options);

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_ALLFILE_H_
