// Revision ends of a PDF document, from its raw bytes: every "%%EOF" that
// closes a "startxref" section ends a revision, except in a linearized file,
// whose first-page section's "%%EOF" is not an end (the whole linearized
// original being one revision). Plain functions over borrowed bytes.
#ifndef VRD_REPORT_REVISIONENDS_H_
#define VRD_REPORT_REVISIONENDS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vrd::report {

struct RevisionEnd {
  int64_t eof_end = 0;   // just after "%%EOF"
  int64_t line_end = 0;  // after its end-of-line (LF, CR or CR LF), when there is one
};

// The revision ends of the size bytes at data, in file order.
std::vector<RevisionEnd> FindRevisionEnds(const unsigned char* data, size_t size);

// The same scan over a buffer that holds the document from position offset
// on: the ends whose "%" lies at buffer positions from .. to - 1 are
// appended to ends. The buffer must hold kStartXrefWindow bytes before from
// (or start the document) and kRevisionEndLookahead bytes after to (or end
// it). Returns where the scan of the next buffer must resume (past a marker
// that ran beyond to).
constexpr size_t kStartXrefWindow = 64;      // how far before "%%EOF" "startxref" may lie
constexpr size_t kRevisionEndLookahead = 7;  // "%%EOF" and CR LF
size_t ScanRevisionEnds(const unsigned char* data, size_t size, size_t from, size_t to,
                        int64_t offset, std::vector<RevisionEnd>* ends);

// Drops the first end when head (the document's first bytes) opens with a
// linearization dictionary whose /L reaches past the second end.
void MergeLinearizedFirstPage(const unsigned char* head, size_t size,
                              std::vector<RevisionEnd>* ends);
constexpr size_t kLinearizationWindow = 1024;  // ISO 32000-1 annex F.2: within the first 1024 bytes

// The revision (0-based) that holds byte offset; the last one for an offset
// beyond every end.
int RevisionOfOffset(const std::vector<RevisionEnd>& ends, int64_t offset);

}  // namespace vrd::report

#endif  // VRD_REPORT_REVISIONENDS_H_
