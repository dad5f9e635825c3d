#include "api/AssembleSignedContent.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "pdf/ImprintBlock.h"
#include "pdf/TokenList.h"
#include "pdf/XrefLocate.h"

namespace vrd {
namespace {

constexpr std::string_view kImprintKey = "ImprintInfo";
constexpr int64_t kImprintBracketWindow = 2;  // "[" right after the key, or one byte later
constexpr std::string_view kContentsKey = "/Contents";
constexpr std::string_view kByteRangeKey = "/ByteRange";
constexpr int64_t kContentsLookBehind = 11;  // "/Contents" must end just before the '<'
constexpr int64_t kContentsWindow = 14;
constexpr int64_t kDerPrefixWindow = 24;  // where "3082" must start the hex text
constexpr int64_t kFallbackTail = 10;     // "/ByteRange" searched in the first N - 10 bytes
constexpr int64_t kFallbackContentsWindow = 1000;
constexpr int64_t kFallbackDerWindow = 30;
// RFC 5652 SignedData is a DER SEQUENCE (0x30); tokens of 256 to 65535
// bytes carry a two-byte length (0x82), hence the hex text "3082".
constexpr std::string_view kDerSequencePrefix = "3082";
// Zero digits that mark the padding of the reserved /Contents space.
constexpr std::string_view kPaddingRun = "0000000000000000";
// The signed content stays below what a 32-bit length can count.
constexpr int64_t kMaxSignedContent = INT32_MAX - 2;
constexpr unsigned char kLineFeed[] = {'\n'};

// What the byte-range array gives: the cross-reference offsets, the array's
// integers and the position of the "]" that closes it.
struct ByteRangeArray {
  std::vector<int32_t> offsets;
  std::vector<int32_t> ranges;
  int64_t closing_bracket = 0;
};

DocumentOutcome ReadByteRangeArray(const DocumentView& view, ByteRangeArray& array) {
  if (!ReadLastXrefOffsetArray(view, array.offsets)) return DocumentOutcome::ERR_NOT_XREF;
  const std::optional<int64_t> value_start = FindByteRangeValue(view, array.offsets);
  if (!value_start) return DocumentOutcome::ERR_NOT_BYTERANGESTR;
  const std::optional<int64_t> closing_bracket = view.FindStart("]", *value_start);
  if (!closing_bracket || *closing_bracket <= 0) return DocumentOutcome::ERR_NOT_BYTERANGEEND;
  array.closing_bracket = *closing_bracket;
  const std::optional<ByteString> range_text =
      view.Copy(*value_start, *closing_bracket - *value_start);
  if (!range_text || !SplitIntegers(*range_text, array.ranges)) {
    return DocumentOutcome::ERR_NOMEM_STRUCTURE;
  }
  return DocumentOutcome::kAssembled;
}

// The ImprintInfo array text after the "[" at bracket, up to the next "]"
// (empty when none follows); nullopt when it cannot be stored.
std::optional<ByteString> ImprintInfoText(const DocumentView& view, int64_t bracket) {
  const std::optional<int64_t> info_end = view.FindStart("]", bracket + 1);
  if (!info_end) return ByteString();
  return view.Copy(bracket + 1, *info_end - bracket - 1);
}

// When "ImprintInfo" follows the array: the seal-impression stream range is
// appended to the ranges and split around the holes; in an encrypted
// document the template is written over the stream data first.
DocumentOutcome ApplySealImpression(WorkingDocument& document, ByteRangeArray& array) {
  const DocumentView view = document.View();
  const std::optional<int64_t> key_start = view.FindStart(kImprintKey, array.closing_bracket - 1);
  if (!key_start) return DocumentOutcome::kAssembled;
  const std::optional<int64_t> bracket = view.FindEndWithin(
      "[", *key_start + static_cast<int64_t>(kImprintKey.size()), kImprintBracketWindow);
  if (!bracket) return DocumentOutcome::ERR_NOT_IMPRINTINFOPOS;
  const std::optional<ByteString> imprint_info = ImprintInfoText(view, *bracket);
  if (!imprint_info) return DocumentOutcome::ERR_NOMEM_STRUCTURE;
  const auto signature_values = static_cast<int32_t>(array.ranges.size());
  const std::optional<ImprintStream> stream =
      LocateImprintStream(*imprint_info, array.offsets, view);
  if (!stream) return DocumentOutcome::ERR_NOT_IMPRINTINFO;
  if (stream->template_position && document.WriteAt(*stream->template_position, kSealTemplate,
                                                    kSealTemplateSize) == ByteString::kNoMemory) {
    return DocumentOutcome::ERR_NO_WORKING_COPY;
  }
  std::vector<int32_t> holes;
  if (!ResizeList(holes, 4) || !ResizeList(array.ranges, array.ranges.size() + 2)) {
    return DocumentOutcome::ERR_NOMEM_STRUCTURE;
  }
  for (size_t index = 0; index < holes.size(); ++index) holes[index] = stream->holes[index];
  array.ranges[array.ranges.size() - 2] = stream->stream_start;
  array.ranges[array.ranges.size() - 1] = stream->stream_length.value_or(0);
  if (!SplitRangeArrayAtHoles(holes, array.ranges, signature_values)) {
    return DocumentOutcome::ERR_NOMEM_STRUCTURE;
  }
  return DocumentOutcome::kAssembled;
}

// The part of one (offset, declared length) pair that lies in the document:
// a pair running past the end is cut at the end; a pair that starts outside
// or names no bytes gives nothing. A part the view does not hold in memory
// comes without data (its bytes are read from the file later).
std::optional<ByteSpan> PieceOf(const DocumentView& view, int64_t offset, int64_t declared) {
  const int64_t count = offset + declared > view.length() ? view.length() - offset : declared;
  if (!view.Holds(offset) || count <= 0) return std::nullopt;
  if (!view.InMemory(offset, count)) return ByteSpan{nullptr, static_cast<size_t>(count)};
  return view.Span(offset, count);
}

// The pieces the ranges name, and the final line feed: one LF is added when
// the declared lengths exceed the pieces by exactly one byte and the
// document does not already end with a LF.
DocumentOutcome CollectSignedPieces(const DocumentView& view, const std::vector<int32_t>& ranges,
                                    SignedContent& content) {
  SignedContent collected;
  int64_t gathered = 0;
  int64_t declared = 0;
  for (size_t pair = 0; pair + 1 < ranges.size(); pair += 2) {
    const std::optional<ByteSpan> piece = PieceOf(view, ranges[pair], ranges[pair + 1]);
    declared += ranges[pair + 1];
    if (!piece) continue;
    gathered += static_cast<int64_t>(piece->length);
    if (gathered > kMaxSignedContent) return DocumentOutcome::ERR_CONTENT_TOO_LONG;
    if (!collected.Append(*piece, ranges[pair])) return DocumentOutcome::ERR_NOMEM_TOKEN;
  }
  if (declared == gathered + 1 && !view.ByteIs(view.length() - 1, '\n')) {
    if (!collected.Append(ByteSpan{kLineFeed, sizeof(kLineFeed)}, SignedContent::kAddedLineFeed)) {
      return DocumentOutcome::ERR_NOMEM_TOKEN;
    }
  }
  content = std::move(collected);
  return DocumentOutcome::kAssembled;
}

// The hex text from text_start up to the first ">" (the byte before it, or
// the one before that when it is ">" too), cut before the first run of
// sixteen "0" digits that lies within it.
DocumentOutcome CutHexText(const DocumentView& view, int64_t text_start, ByteString& token_text) {
  const std::optional<int64_t> closing = view.FindEnd(">", text_start);
  int64_t text_end = closing ? *closing - 1 : -1;
  if (text_end < 0) return DocumentOutcome::ERR_NOT_CONTENTSEND;
  if (view.ByteIs(text_end, '>')) --text_end;
  const std::optional<int64_t> padding_end =
      view.FindEndWithin(kPaddingRun, text_start, text_end - text_start);
  if (padding_end && *padding_end > 0) {
    text_end = *padding_end - static_cast<int64_t>(kPaddingRun.size());
  }
  const int64_t digit_count = text_end - text_start + 1;
  if (text_start < 0 || digit_count <= 0 || !view.Span(text_start, digit_count)) {
    token_text = ByteString();
    return DocumentOutcome::kAssembled;
  }
  std::optional<ByteString> text = view.Copy(text_start, digit_count);
  if (!text) return DocumentOutcome::ERR_NOMEM_TOKEN;
  token_text = std::move(*text);
  return DocumentOutcome::kAssembled;
}

// No range ended at /Contents: the first "/ByteRange" of the document, the
// "/Contents" after it and the "3082" that starts the token.
DocumentOutcome CutFallbackToken(const DocumentView& view, ByteString& token_text) {
  const std::optional<int64_t> byte_range_end =
      view.FindEndWithin(kByteRangeKey, 0, view.length() - kFallbackTail);
  if (!byte_range_end) return DocumentOutcome::kAssembled;
  const std::optional<int64_t> contents_end =
      view.FindEndWithin(kContentsKey, *byte_range_end, kFallbackContentsWindow);
  if (!contents_end) return DocumentOutcome::ERR_NOT_FALLBACKCONTENTS;
  const std::optional<int64_t> prefix_end =
      view.FindEndWithin(kDerSequencePrefix, *contents_end, kFallbackDerWindow);
  if (!prefix_end) return DocumentOutcome::ERR_NOT_FALLBACKDER;
  return CutHexText(view, *prefix_end - static_cast<int64_t>(kDerSequencePrefix.size()) + 1,
                    token_text);
}

// The hex text of the last range that ends where "/Contents <" stands; when
// none does, the fallback search.
DocumentOutcome CutTokenText(const DocumentView& view, const std::vector<int32_t>& ranges,
                             ByteString& token_text) {
  ByteString text;
  for (size_t pair = 0; pair + 1 < ranges.size(); pair += 2) {
    const int64_t range_end = int64_t{ranges[pair]} + ranges[pair + 1];
    if (!view.FindEndWithin(kContentsKey, range_end - kContentsLookBehind, kContentsWindow)) {
      continue;
    }
    if (!view.FindEndWithin("<", range_end, 1)) return DocumentOutcome::ERR_NOT_CONTENTSSTR;
    int64_t text_start = range_end + 1;
    if (!view.FindEndWithin(kDerSequencePrefix, text_start, kDerPrefixWindow)) {
      text_start += kDerPrefixWindow;
    }
    const DocumentOutcome cut = CutHexText(view, text_start, text);
    if (cut != DocumentOutcome::kAssembled) return cut;
  }
  if (text.GetLength() == 0) {
    const DocumentOutcome fallback = CutFallbackToken(view, text);
    if (fallback != DocumentOutcome::kAssembled) return fallback;
  }
  token_text = std::move(text);
  return DocumentOutcome::kAssembled;
}

// The token text completed to whole bytes, then four zero bytes, decoded.
DocumentOutcome DecodeToken(ByteString& token_text, ByteString& token_bytes) {
  if (token_text.GetLength() % 2 != 0) token_text += "0";
  token_text += "00000000";
  if (token_text.status() != ByteString::kOk) return DocumentOutcome::ERR_NOMEM_TOKEN;
  ByteString decoded = token_text.HexDecode();
  if (decoded.GetLength() == 0) return DocumentOutcome::ERR_NOMEM_TOKEN;
  token_bytes = std::move(decoded);
  return DocumentOutcome::kAssembled;
}

}  // namespace

bool SignedContent::Append(ByteSpan piece, int64_t position) noexcept {
  if (!ResizeList(pieces, pieces.size() + 1) || !ResizeList(positions, positions.size() + 1)) {
    return false;
  }
  pieces.back() = piece;
  positions.back() = position;
  return true;
}

WorkingDocument::WorkingDocument(const unsigned char* bytes, int32_t length) noexcept {
  if (bytes == nullptr || length <= 0) return;
  borrowed_ = bytes;
  borrowed_length_ = length;
}

WorkingDocument::WorkingDocument(const DocumentView& tail, bool* write_refused) noexcept
    : tail_(tail), write_refused_(write_refused), tail_only_(true) {}

DocumentView WorkingDocument::View() const noexcept {
  if (tail_only_) return tail_;
  if (owned_ != nullptr) return DocumentView(*owned_);
  if (copied_) return DocumentView(copy_);
  return DocumentView(borrowed_, borrowed_length_);
}

int WorkingDocument::WriteAt(int64_t position, const char* bytes, int count) noexcept {
  if (tail_only_) {
    if (write_refused_ != nullptr) *write_refused_ = true;
    return ByteString::kNoMemory;
  }
  int status = ByteString::kRange;
  if (owned_ != nullptr) {
    status = owned_->WriteAt(position, bytes, count);
  } else {
    if (!View().Span(position, count) || count <= 0) return ByteString::kRange;
    if (!copied_) {
      if (copy_.SetData(borrowed_, borrowed_length_) != ByteString::kOk) {
        return ByteString::kNoMemory;
      }
      copied_ = true;
    }
    status = copy_.WriteAt(position, bytes, count);
  }
  if (status == ByteString::kOk) written_ = true;
  return status;
}

DocumentOutcome AssembleDocument(WorkingDocument& document, SignedContent& content,
                                 ByteString& token_bytes) noexcept {
  ByteRangeArray array;
  DocumentOutcome outcome = ReadByteRangeArray(document.View(), array);
  if (outcome == DocumentOutcome::kAssembled) outcome = ApplySealImpression(document, array);
  if (outcome != DocumentOutcome::kAssembled) return outcome;

  // The template may have been written: read the document as it is now.
  const DocumentView view = document.View();
  SignedContent pieces;
  outcome = CollectSignedPieces(view, array.ranges, pieces);
  if (outcome != DocumentOutcome::kAssembled) return outcome;
  ByteString token_text;
  ByteString token;
  outcome = CutTokenText(view, array.ranges, token_text);
  if (outcome == DocumentOutcome::kAssembled) outcome = DecodeToken(token_text, token);
  if (outcome != DocumentOutcome::kAssembled) return outcome;

  content = std::move(pieces);
  token_bytes = std::move(token);
  return DocumentOutcome::kAssembled;
}

int AssembleSignedContent(ByteString& document, ByteString& signed_content,
                          ByteString& token_bytes) noexcept {
  WorkingDocument working(document);
  SignedContent content;
  ByteString token;
  const DocumentOutcome outcome = AssembleDocument(working, content, token);
  if (outcome != DocumentOutcome::kAssembled) return ResultCodeOf(outcome);
  size_t total = 0;
  for (const ByteSpan& piece : content.pieces) total += piece.length;
  ByteString gathered;
  char* out = gathered.PrepareContent(static_cast<int>(total));
  if (out == nullptr && total > 0) return TokenUnreadable;
  for (const ByteSpan& piece : content.pieces) {
    memcpy(out, piece.data, piece.length);
    out += piece.length;
  }
  signed_content = std::move(gathered);
  token_bytes = std::move(token);
  return ResultOk;
}

int ExtractTokenText(const ByteString& document, const std::vector<int32_t>& ranges,
                     ByteString& token_text) noexcept {
  return ResultCodeOf(CutTokenText(DocumentView(document), ranges, token_text));
}

}  // namespace vrd
