#include "report/Coverage.h"

#include "report/PdfBytes.h"

namespace vrd::report {

void JudgeCoverage(DocumentInput* input, const std::vector<RevisionEnd>& ends, TimeStampReport* ts,
                   ByteRanges* ranges, std::string* gap, ContentsSpan contents) {
  const auto size = static_cast<size_t>(input->size());
  gap->clear();
  const std::vector<int64_t>& br = ts->byte_range;
  ranges->clear();
  if (br.empty() || br.size() % 2 != 0) return;
  int64_t previous_end = 0;
  for (size_t i = 0; i < br.size(); i += 2) {
    const int64_t offset = br[i];
    const int64_t length = br[i + 1];
    if (offset < previous_end || length < 0 || offset > static_cast<int64_t>(size) ||
        length > static_cast<int64_t>(size) - offset) {
      ranges->clear();
      return;
    }
    ranges->emplace_back(offset, length);
    previous_end = offset + length;
  }
  ts->byte_range_valid = true;
  const int64_t covered_end = previous_end;
  const bool from_start = br[0] == 0;
  const bool one_gap = ranges->size() == 2;
  ts->covers_whole_file = from_start && one_gap && covered_end == static_cast<int64_t>(size);
  ts->revision = static_cast<int>(ends.size());
  for (size_t i = 0; i < ends.size(); ++i) {
    if (covered_end <= ends[i].line_end) {
      ts->revision = static_cast<int>(i) + 1;
      break;
    }
  }
  if (ts->revision == 0) ts->revision = 1;
  if (!ends.empty()) {
    const RevisionEnd& end = ends[static_cast<size_t>(ts->revision - 1)];
    ts->covers_whole_revision =
        from_start && one_gap && covered_end >= end.eof_end && covered_end <= end.line_end;
  }
  ts->later_revisions = ends.empty() ? 0 : static_cast<int>(ends.size()) - ts->revision;
  if (one_gap) {
    const int64_t gap_start = (*ranges)[0].first + (*ranges)[0].second;
    const int64_t gap_end = (*ranges)[1].first;
    if (contents.begin < contents.end && gap_start == contents.begin && gap_end == contents.end) {
      ts->gap_is_contents = true;
      return;
    }
    if (!input->ReadExactly(gap_start, static_cast<size_t>(gap_end - gap_start), gap)) {
      gap->clear();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(gap->data());
    const size_t length = gap->size();
    bool hex = length >= 2 && bytes[0] == '<' && bytes[length - 1] == '>';
    for (size_t i = 1; hex && i + 1 < length; ++i) {
      hex = IsHexDigit(bytes[i]) || IsPdfWhitespace(bytes[i]);
    }
    ts->gap_is_contents = hex;
  }
}

}  // namespace vrd::report
