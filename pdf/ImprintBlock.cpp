#include "pdf/ImprintBlock.h"

#include <string_view>
#include <utility>
#include <vector>

#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "util/Clamp.h"

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
constexpr size_t kHoleValues = 4;   // two holes, start and length each
constexpr std::string_view kStreamKeyword = "stream";
constexpr std::string_view kEndStreamKeyword = "endstream";
constexpr std::string_view kEncryptKey = "/Encrypt";

// One hole applied to the working array, pair by pair, into a fresh array of
// the same size; pairs that no longer fit fall off the end.
void ApplyHole(const std::vector<int64_t>& ranges, std::vector<int64_t>& split, int64_t hole_start,
               int64_t hole_length, int64_t signature_values) {
  const size_t size = ranges.size();
  size_t written = 0;
  auto emit = [&](int64_t offset, int64_t length) {
    split[written] = offset;
    split[written + 1] = length;
    written += 2;
  };
  for (size_t pair = 0; pair + 1 < size && written + 1 < size; pair += 2) {
    const int64_t offset = ranges[pair];
    const int64_t length = ranges[pair + 1];
    const bool eligible =
        !(offset == 0 && length == 0) && static_cast<int64_t>(written) >= signature_values;
    if (!eligible || !(offset < hole_start && hole_start < offset + length)) {
      emit(offset, length);
      continue;
    }
    emit(offset, hole_start - offset);
    if (written + 1 < size)
      emit(hole_start + hole_length, offset + length - hole_start - hole_length);
  }
  for (; written < size; ++written) split[written] = ranges[written];
}

// "<object> <generation> obj" from tokens 7 and 8; nullopt when a token or
// the needle cannot be stored (a shorter needle would match another object).
std::optional<ByteString> ObjectHeaderNeedle(const ByteString& imprint_info) {
  const ByteString object = TokenAt(imprint_info, kObjectToken);
  const ByteString generation = TokenAt(imprint_info, kGenerationToken);
  ByteString needle = object;
  needle += " ";
  needle += generation;
  needle += " obj";
  if (object.status() != ByteString::kOk || generation.status() != ByteString::kOk ||
      needle.status() != ByteString::kOk) {
    return std::nullopt;
  }
  return needle;
}

std::string_view ViewOf(const ByteString& text) {
  return {text.GetData(), static_cast<size_t>(text.GetLength())};
}

}  // namespace

std::optional<ImprintStream> LocateImprintStream(const ByteString& imprint_info,
                                                 const std::vector<int32_t>& offsets,
                                                 const DocumentView& document) noexcept {
  const std::optional<ByteString> needle = ObjectHeaderNeedle(imprint_info);
  const std::optional<int64_t> object_start =
      needle ? document.FindInSections(ViewOf(*needle), offsets) : std::nullopt;
  if (!object_start) {
    WritePdfMessage(PdfMessage::kImprintObjectMissing);
    return std::nullopt;
  }
  const std::optional<int64_t> stream_keyword_end = document.FindEnd(kStreamKeyword, *object_start);
  if (!stream_keyword_end) {
    WritePdfMessage(PdfMessage::kImprintStreamMissing);
    return std::nullopt;
  }
  const std::optional<int64_t> encrypt_key = document.FindStart(kEncryptKey, 0);
  const bool encrypted = encrypt_key && *encrypt_key > 0;
  const std::optional<int64_t> end_keyword_start =
      document.FindStart(kEndStreamKeyword, *stream_keyword_end + 1);
  // The byte right before "endstream" ends the stream data and is not part
  // of it. Without "endstream" that byte is taken to be position -2, so an
  // encrypted stream then starts before the document and names no bytes.
  const int64_t stream_end = end_keyword_start ? *end_keyword_start - 1 : -2;
  // Encrypted: the template's 242 bytes end right before that byte.
  const int64_t stream_start =
      encrypted ? stream_end - kSealTemplateSize
                : document.SkipLineEnds(*stream_keyword_end + 1, kStreamLineEndsSkipped);

  ImprintStream found;
  found.stream_start = ClampToInt32(stream_start);
  if (stream_end > 0) {
    found.stream_length = ClampToInt32(stream_end - stream_start);
    if (encrypted) found.template_position = stream_start;
  } else {
    WritePdfMessage(PdfMessage::kImprintEndMissing);
  }
  found.holes[0] = ClampToInt32(stream_start + TokenValue(imprint_info, kHole1StartToken));
  found.holes[1] = TokenValue(imprint_info, kHole1LengthToken);
  found.holes[2] = ClampToInt32(stream_start + TokenValue(imprint_info, kHole2StartToken));
  found.holes[3] = TokenValue(imprint_info, kHole2LengthToken);
  return found;
}

ByteString BuildImprintHoles(const ByteString& imprint_info, const int32_t* offsets, int32_t count,
                             ByteString& document, int32_t& stream_start,
                             int32_t& stream_length) noexcept {
  std::vector<int32_t> offset_array;
  if (offsets != nullptr && count > 0) {
    if (!ResizeList(offset_array, static_cast<size_t>(count))) return ByteString();
    for (size_t index = 0; index < offset_array.size(); ++index)
      offset_array[index] = offsets[index];
  }
  const std::optional<ImprintStream> found =
      LocateImprintStream(imprint_info, offset_array, DocumentView(document));
  if (!found) return ByteString();
  stream_start = found->stream_start;
  if (found->stream_length) stream_length = *found->stream_length;
  if (found->template_position) {
    // Nothing is written unless the whole template lies inside the document.
    const int written =
        document.WriteAt(*found->template_position, kSealTemplate, kSealTemplateSize);
    static_cast<void>(written);
  }
  ByteString holes;
  if (holes.Format("%d %d %d %d", found->holes[0], found->holes[1], found->holes[2],
                   found->holes[3]) != ByteString::kOk) {
    return ByteString();
  }
  return holes;
}

bool SplitRangeArrayAtHoles(const std::vector<int32_t>& holes, std::vector<int32_t>& ranges,
                            int32_t signature_values) noexcept {
  std::vector<int64_t> work;
  std::vector<int64_t> split;
  const size_t size = ranges.size() + kWorkingRoom;
  std::vector<int32_t> result;
  if (!ResizeList(work, size) || !ResizeList(split, size) || !ResizeList(result, size)) {
    return false;
  }
  for (size_t index = 0; index < ranges.size(); ++index) work[index] = ranges[index];
  for (size_t hole = 0; hole + 1 < holes.size() && hole < kHoleValues; hole += 2) {
    ApplyHole(work, split, holes[hole], holes[hole + 1], signature_values);
    work.swap(split);
  }
  for (size_t index = 0; index < size; ++index) result[index] = ClampToInt32(work[index]);
  ranges.swap(result);
  return true;
}

ByteString SplitRangesAtHoles(const ByteString& holes, const ByteString& ranges,
                              int32_t signature_values) noexcept {
  std::vector<int32_t> range_values;
  std::vector<int32_t> hole_values;
  if (!SplitIntegers(ranges, range_values) || !SplitIntegers(holes, hole_values) ||
      !SplitRangeArrayAtHoles(hole_values, range_values, signature_values)) {
    return ByteString();
  }
  std::vector<int64_t> wide_values;
  if (!ResizeList(wide_values, range_values.size())) return ByteString();
  for (size_t index = 0; index < range_values.size(); ++index)
    wide_values[index] = range_values[index];
  ByteString result;
  if (!FormatIntegerList(wide_values.data(), wide_values.size(), result)) return ByteString();
  return result;
}

}  // namespace vrd
