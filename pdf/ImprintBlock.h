// The seal-impression (stamp image) block. A signature dictionary may name,
// after its /ByteRange, an "ImprintInfo" array: tokens 7 and 8 are the object
// and generation number of a stream object whose stream data are hashed
// after the byte ranges, except for two holes whose starts (tokens 10 and
// 13, relative to the stream data) and lengths (tokens 11 and 14) the array
// gives. In an encrypted document the stream data are taken to be the 242
// bytes ending two bytes before "endstream", and the fixed template below is
// written over them in the verifier's working copy, so the template is what
// gets hashed there.
//
// Lists are space-separated decimal text (pdf/TokenList.h) of any length.
// BuildImprintHoles writes into the document only that template; everything
// else only reads. Messages go to standard output (pdf/Messages.h).
#ifndef VRD_PDF_IMPRINTBLOCK_H_
#define VRD_PDF_IMPRINTBLOCK_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "pdf/DocumentView.h"
#include "util/ByteString.h"

namespace vrd {

constexpr int32_t kSealTemplateSize = 242;
// The template: a content stream of 21 LF-terminated lines (no NUL inside).
extern const char kSealTemplate[kSealTemplateSize + 1];

// Finds the object "<token 7> <token 8> obj" with the object-section walk
// (FindInSections; message kImprintObjectMissing and an empty result when
// absent), then "stream" after it (kImprintStreamMissing, empty result).
// The document is encrypted when "/Encrypt" starts anywhere past position 0.
// With l the first byte of the following "endstream":
//   stream_start S = l - 243 when encrypted; otherwise the byte after
//     "stream" moved past at most ten CR/LF bytes;
//   stream_length N = (l - 1) - S (242 when encrypted): the byte right
//     before "endstream" is never stream data.
// Without "endstream": kImprintEndMissing, N left as the caller set it, no
// template write; the hole list is still produced. Encrypted with
// "endstream": the template overwrites S .. S + 241 when that lies wholly
// inside the document. Returns "%d %d %d %d": S + first relative start,
// first length, S + second relative start, second length (64-bit sums,
// clamped to int32). stream_start and stream_length are written only as
// described; the caller zeroes them first.
// What BuildImprintHoles finds, without writing anything: the document
// stage writes the template itself (into its working copy) when
// template_position is set, and appends (stream_start, stream_length or 0)
// to the range list. holes are the four hole-list values.
struct ImprintStream {
  int32_t stream_start = 0;
  std::optional<int32_t> stream_length;      // absent without "endstream"
  std::optional<int64_t> template_position;  // encrypted with "endstream"
  int32_t holes[4] = {};
};
[[nodiscard]] std::optional<ImprintStream> LocateImprintStream(
    const ByteString& imprint_info, const std::vector<int32_t>& offsets,
    const DocumentView& document) noexcept;

ByteString BuildImprintHoles(const ByteString& imprint_info, const int32_t* offsets, int32_t count,
                             ByteString& document, int32_t& stream_start,
                             int32_t& stream_length) noexcept;

// Splits the ranges of a range list around the holes. The list's n integers
// are (offset, length) pairs, followed by six zeros of working room. For
// each hole (start hs, length hl) in order, the pairs are scanned from the
// first: pairs (0, 0) and pairs at an index below signature_values (the signature's own
// byte ranges) are kept; a pair (o, len) with o < hs < o + len becomes
// (o, hs - o) followed by the new pair (hs + hl, o + len - hs - hl), later
// pairs moving up and the last pair of the working room falling off. A hole
// splits a given range at most once; the new pair is not scanned again for
// the same hole, and is dropped when no room is left for it. Returns all
// n + 6 entries as "%d " text (clamped to int32), or an empty text when it
// cannot be stored. A hole list of fewer than four integers applies only its
// complete holes; integers beyond four are ignored.
ByteString SplitRangesAtHoles(const ByteString& holes, const ByteString& ranges,
                              int32_t signature_values) noexcept;
// The same over arrays: ranges (replaced by the n + 6 values) and the hole
// values. False, ranges unchanged, when the working
// array cannot be stored.
[[nodiscard]] bool SplitRangeArrayAtHoles(const std::vector<int32_t>& holes,
                                          std::vector<int32_t>& ranges,
                                          int32_t signature_values) noexcept;

}  // namespace vrd

#endif  // VRD_PDF_IMPRINTBLOCK_H_
