// libFuzzer target: the --files-from list reader (SplitFileList) over
// arbitrary list text. Besides the sanitizers' checks it asserts the
// contract against a line-by-line reference walk: the paths are the list's
// non-empty lines in order, one carriage return before the line feed (or the
// end) dropped; none is empty or holds a line feed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/TsVerifyCore.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> paths = vrd::cli::SplitFileList(text);
  // The reference: walk the lines one by one (a line ends at a line feed or
  // at the end of the text), drop one carriage return at a line's end, skip
  // what is then empty.
  size_t next = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\n') ++end;
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    if (stop > start) {
      Check(next < paths.size());
      Check(paths[next].size() == stop - start);
      Check(text.compare(start, stop - start, paths[next]) == 0);
      ++next;
    }
    start = end + 1;
  }
  Check(next == paths.size());
  for (const std::string& path : paths)
    Check(!path.empty() && path.find('\n') == std::string::npos);
  return 0;
}
