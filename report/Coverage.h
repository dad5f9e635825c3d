// The coverage judgement of the report: whether a signature's /ByteRange
// names bytes of the file, whether it covers the whole file or the whole of
// its revision, and whether its one gap is exactly the /Contents string.
#ifndef VRD_REPORT_COVERAGE_H_
#define VRD_REPORT_COVERAGE_H_

#include <string>
#include <vector>

#include "report/DocumentInput.h"
#include "report/ReportTypes.h"
#include "report/RevisionEnds.h"
#include "report/TokenReport.h"

namespace vrd::report {

// Checks ts->byte_range and fills the coverage fields and the revision
// numbers; ranges receives the pairs when they are usable, gap the bytes
// between them when there is one gap (empty when they cannot be read).
void JudgeCoverage(DocumentInput* input, const std::vector<RevisionEnd>& ends, TimeStampReport* ts,
                   ByteRanges* ranges, std::string* gap);

}  // namespace vrd::report

#endif  // VRD_REPORT_COVERAGE_H_
