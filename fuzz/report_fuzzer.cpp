// libFuzzer target: the document report (report/Report.h) over arbitrary
// bytes, through qpdf and the token checks. Besides the sanitizers' checks it
// asserts the report's contract: an unopened document has a reason and no
// time-stamps, a usable /ByteRange lies inside the input, and nothing counts
// as verified without a matching imprint.
#include <cstdint>
#include <cstdlib>

#include "report/Report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  vrd::report::DocumentReport report;
  const vrd::report::TrustSettings trust;
  const vrd::report::ReportStatus status = vrd::report::BuildReport(data, size, trust, &report);
  if (status == vrd::report::ReportStatus::kNotOpened) {
    if (report.error.empty() || !report.timestamps.empty()) abort();
    return 0;
  }
  if (report.timestamps.size() > vrd::report::kMaxTimeStamps) abort();
  for (const vrd::report::TimeStampReport& ts : report.timestamps) {
    if (ts.byte_range_valid) {
      for (size_t i = 0; i + 1 < ts.byte_range.size(); i += 2) {
        if (ts.byte_range[i] < 0 || ts.byte_range[i + 1] < 0 ||
            static_cast<uint64_t>(ts.byte_range[i] + ts.byte_range[i + 1]) > size) {
          abort();
        }
      }
    }
    if (ts.Verified() && (ts.imprint != vrd::report::Verdict::kPass || !ts.problem.empty())) {
      abort();
    }
    if (ts.byte_range_valid && ts.revision < 1 && report.revisions > 0) abort();
  }
  return 0;
}
