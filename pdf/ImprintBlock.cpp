#include "pdf/ImprintBlock.h"

#include <utility>
#include <vector>

#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "pdf/TokenSearch.h"

namespace vrd {

const char kSealTemplate[kSealTemplateSize + 1] =
    "q\n"
    "1 12 259.917 29.0435 re\n"
    "W* n\n"
    "q\n"
    "1 0 0 1 1 12 cm\n"
    "1 1 257.917 27.0435 re\n"
    "W n\n"
    "1 0 0 1 -1 -12 cm\n"
    "0 g\n"
    "1 i \n"
    "/RelativeColorimetric ri\n"
    "BT\n"
    "/T1_0 1 Tf\n"
    "6.3 0 0 6.3 07.8 28.4861 Tm\n"
    "( 2013/04/30\\r)Tj\n"
    "0 -1.052 TD\n"
    "(  10:31:57\\r)Tj\n"
    "T*\n"
    "(     KST )Tj\n"
    "ET\n"
    "Q Q \n";

namespace {

// ImprintInfo token numbers.
constexpr int32_t kObjectToken = 7;
constexpr int32_t kGenerationToken = 8;
constexpr int32_t kHole1StartToken = 10;
constexpr int32_t kHole1LengthToken = 11;
constexpr int32_t kHole2StartToken = 13;
constexpr int32_t kHole2LengthToken = 14;
constexpr int kStreamLineEndsSkipped = 10;
constexpr size_t kWorkingRoom = 6;  // zero entries after the range list

bool IsLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }

int32_t Clamp(int64_t v) { return ClampPosition(v); }

// One hole applied to the working array, pair by pair, into a fresh array of
// the same size; pairs that no longer fit fall off the end.
void ApplyHole(const std::vector<int64_t>& in, std::vector<int64_t>& out, int64_t hs, int64_t hl,
               int64_t c) {
  const size_t size = in.size();
  size_t w = 0;
  for (size_t j = 0; j + 1 < size && w + 1 < size; j += 2) {
    const int64_t o = in[j];
    const int64_t len = in[j + 1];
    const bool eligible = !(o == 0 && len == 0) && static_cast<int64_t>(w) >= c;
    if (!eligible || !(o < hs && hs < o + len)) {
      out[w] = o;
      out[w + 1] = len;
      w += 2;
      continue;
    }
    out[w] = o;
    out[w + 1] = hs - o;
    w += 2;
    if (w + 1 < size) {
      out[w] = hs + hl;
      out[w + 1] = o + len - hs - hl;
      w += 2;
    }
  }
  for (; w < size; ++w) out[w] = in[w];
}

}  // namespace

ByteString BuildImprintHoles(const ByteString& imprint_info, const int32_t* offsets, int32_t count,
                             ByteString& document, int32_t& stream_start,
                             int32_t& stream_length) noexcept {
  const int64_t h1 = TokenValue(imprint_info, kHole1StartToken);
  const int64_t l1 = TokenValue(imprint_info, kHole1LengthToken);
  const int64_t h2 = TokenValue(imprint_info, kHole2StartToken);
  const int64_t l2 = TokenValue(imprint_info, kHole2LengthToken);

  const ByteString object = TokenAt(imprint_info, kObjectToken);
  const ByteString generation = TokenAt(imprint_info, kGenerationToken);
  ByteString needle = object;
  needle += " ";
  needle += generation;
  needle += " obj";
  // A token lost to a storage failure would make a shorter needle that
  // matches some other object: treat it as not found.
  const bool complete = object.status() == ByteString::kOk &&
                        generation.status() == ByteString::kOk &&
                        needle.status() == ByteString::kOk;
  const int32_t f = complete ? FindInSections(needle, offsets, count, document) : -1;
  if (f < 0) {
    WritePdfMessage(PdfMessage::kImprintObjectMissing);
    return ByteString();
  }
  const int32_t g = FindTokenEnd("stream", f, document);
  if (g < 0) {
    WritePdfMessage(PdfMessage::kImprintStreamMissing);
    return ByteString();
  }
  const bool encrypted = FindTokenStart("/Encrypt", 0, document) > 0;
  const int64_t l = FindTokenStart("endstream", ClampPosition(int64_t{g} + 1), document);

  int64_t s = 0;
  if (encrypted) {
    s = l - (kSealTemplateSize + 1);
  } else {
    s = int64_t{g} + 1;
    const unsigned char* bytes = document.GetBytes();
    for (int i = 0; i < kStreamLineEndsSkipped && s < document.GetLength() && IsLineEnd(bytes[s]);
         ++i) {
      ++s;
    }
  }
  stream_start = Clamp(s);
  if (l - 1 > 0) {
    stream_length = Clamp((l - 1) - s);
    if (encrypted) {
      // Nothing is written unless the whole template lies inside the document.
      const int written = document.WriteAt(s, kSealTemplate, kSealTemplateSize);
      static_cast<void>(written);
    }
  } else {
    WritePdfMessage(PdfMessage::kImprintEndMissing);
  }

  ByteString holes;
  if (holes.Format("%d %d %d %d", Clamp(s + h1), Clamp(l1), Clamp(s + h2), Clamp(l2)) !=
      ByteString::kOk) {
    return ByteString();
  }
  return holes;
}

ByteString SplitRangesAtHoles(const ByteString& holes, const ByteString& ranges,
                              int32_t c) noexcept {
  std::vector<int32_t> range_values;
  std::vector<int32_t> hole_values;
  if (!SplitIntegers(ranges, range_values) || !SplitIntegers(holes, hole_values)) {
    return ByteString();
  }
  std::vector<int64_t> work;
  std::vector<int64_t> next;
  const size_t size = range_values.size() + kWorkingRoom;
  if (!ResizeList(work, size) || !ResizeList(next, size)) return ByteString();
  for (size_t i = 0; i < range_values.size(); ++i) work[i] = range_values[i];

  for (size_t h = 0; h + 1 < hole_values.size() && h < 4; h += 2) {
    ApplyHole(work, next, hole_values[h], hole_values[h + 1], c);
    work.swap(next);
  }
  ByteString result;
  if (!FormatIntegerList(work.data(), work.size(), result)) return ByteString();
  return result;
}

}  // namespace vrd
