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

// Where a /Contents hex string lies, from its "<" to just after its ">",
// when it is known; begin == end when not.
struct ContentsSpan {
  int64_t begin = 0;
  int64_t end = 0;
};

// Checks ts->byte_range and fills the coverage fields and the revision
// numbers; ranges receives the pairs when they are usable, gap the bytes
// between them when there is one gap (empty when they cannot be read, and
// when the gap is exactly contents: it is then the /Contents string, and
// need not be read).
void JudgeCoverage(DocumentInput* input, const std::vector<RevisionEnd>& ends, TimeStampReport* ts,
                   ByteRanges* ranges, std::string* gap, ContentsSpan contents = {});

}  // namespace vrd::report

#endif  // VRD_REPORT_COVERAGE_H_
