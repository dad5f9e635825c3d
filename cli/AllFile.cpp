#include "cli/AllFile.h"

#include "api/ComputedDigest.h"
#include "api/ResultCodes.h"
#include "api/VerifyDocumentFile.h"
#include "cli/TsVerifyCore.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd {
namespace cli {

report::TrustSettings AllTrustSettings(const std::vector<ByteString>& extra_roots,
                                       bool system_roots) {
  report::TrustSettings settings;
  for (const ByteString& root : extra_roots) {
    settings.extra_roots.emplace_back(root.GetData(), static_cast<size_t>(root.GetLength()));
  }
  settings.system_roots = system_roots;
  return settings;
}

report::ReportOptions AllReportOptions(const Options& options) {
  report::ReportOptions report;
  if (options.max_inflate != 0) report.limits.max_inflate = options.max_inflate;
  if (options.max_seconds != 0) report.limits.max_seconds = options.max_seconds;
  report.validation.model =
      options.strict ? report::ValidationModel::kStrict : report::ValidationModel::kPointInTime;
  report.validation.at = options.at;
  return report;
}

AllResult ReportFile(const std::string& path, const report::TrustSources& trust,
                     const std::shared_future<bool>& trust_ready,
                     const std::vector<ByteString>& extra_roots,
                     const report::ReportOptions& options) {
  AllResult result;
  DocumentFile file;
  if (file.Open(path.c_str()) != kLoadOk) {
    result.library_code = FileUnreadable;
    result.report.error = "the file cannot be read";
    return result;
  }
  ByteString whole;
  const bool loaded =
      file.size() <= FileReadPlan{}.load_whole_up_to && LoadFile(file, whole) == kLoadOk;
  // The library's digest of the signed content serves the report's
  // time-stamp over the same bytes: a large document is hashed once.
  ComputedDigest computed;
  result.library_code =
      VerifyOpenFile(file, loaded ? &whole : nullptr, extra_roots, &computed).code;
  if (!trust_ready.get()) return result;
  const report::ReportStatus status =
      loaded ? report::BuildReport(whole.GetBytes(), static_cast<size_t>(whole.GetLength()), trust,
                                   &result.report, &computed, options)
             : report::BuildReportFromFile(file, trust, &result.report, &computed, options);
  result.opened = status == report::ReportStatus::kOk;
  return result;
}

}  // namespace cli
}  // namespace vrd
