#include "api/AssembleSignedContent.h"

#include <cstring>
#include <utility>

#include "pdf/ImprintBlock.h"
#include "pdf/TokenList.h"
#include "pdf/TokenSearch.h"
#include "pdf/XrefLocate.h"

namespace vrd {
namespace {

constexpr int32_t kImprintKeyLength = 11;     // "ImprintInfo"
constexpr int32_t kImprintBracketWindow = 2;  // "[" right after the key, or one byte later
constexpr int32_t kContentsLookBehind = 11;   // "/Contents" must end just before the '<'
constexpr int32_t kContentsWindow = 14;
constexpr int32_t kDerPrefixWindow = 24;  // where "3082" must start the hex text
constexpr int32_t kFallbackTail = 10;     // "/ByteRange" searched in the first N - 10 bytes
constexpr int32_t kFallbackContentsWindow = 1000;
constexpr int32_t kFallbackDerWindow = 30;
// RFC 5652 SignedData is a DER SEQUENCE (0x30); tokens of 256 to 65535
// bytes carry a two-byte length (0x82), hence the hex text "3082".
constexpr char kDerSequencePrefix[] = "3082";
// Zero digits that mark the padding of the reserved /Contents space.
constexpr char kPaddingRun[] = "0000000000000000";
constexpr int32_t kPaddingRunLength = sizeof(kPaddingRun) - 1;

// Steps D.1.4 to D.1.7: the hex text from s up to the first ">" (the
// reserved space's zero padding cut off). False when no ">" follows or the
// text cannot be stored.
bool CutHexText(const ByteString& document, int64_t s, ByteString& token_text) {
  const int32_t g = FindTokenEnd(">", ClampPosition(s), document);
  int64_t t = int64_t{g} - 1;
  if (t < 0) return false;
  char at_t = 0;
  if (document.GetAt(static_cast<int>(t), &at_t) == ByteString::kOk && at_t == '>') --t;
  const int32_t z =
      FindTokenEndWithin(kPaddingRun, ClampPosition(s), ClampPosition(t - s), document);
  if (z > 0) t = int64_t{z} - kPaddingRunLength;
  const int64_t count = t - s + 1;
  token_text = (s >= 0 && count > 0) ? document.Mid(static_cast<int>(s), static_cast<int>(count))
                                     : ByteString();
  return token_text.status() == ByteString::kOk;
}

// Step C: the pieces named by the ranges, clamped to the document, and the
// final line feed rule. False when the content cannot be stored.
bool GatherSignedContent(const ByteString& document, const std::vector<int32_t>& ranges,
                         ByteString& content) {
  const int64_t n = document.GetLength();
  // First the size, so the content is copied once: a piece is Mid's answer
  // for (off, off + len > N ? N - off : len), empty whenever Mid refuses.
  int64_t total_bytes = 0;
  int64_t declared = 0;
  auto piece_length = [n](int64_t off, int64_t len) -> int64_t {
    const int64_t count = off + len > n ? n - off : len;
    if (off < 0 || off >= n || count <= 0 || off + count > n) return 0;
    return count;
  };
  for (size_t j = 0; j + 1 < ranges.size(); j += 2) {
    total_bytes += piece_length(ranges[j], ranges[j + 1]);
    declared += ranges[j + 1];
    if (total_bytes > INT32_MAX - 2) return false;
  }
  char last = 0;
  const bool ends_with_lf =
      document.GetAt(static_cast<int>(n - 1), &last) == ByteString::kOk && last == '\n';
  const bool add_lf = declared == total_bytes + 1 && !ends_with_lf;
  const int64_t size = total_bytes + (add_lf ? 1 : 0);

  // Written straight into the result: the content is copied once.
  ByteString result;
  char* out = result.PrepareContent(static_cast<int>(size));
  if (out == nullptr && size > 0) return false;
  int64_t used = 0;
  for (size_t j = 0; j + 1 < ranges.size(); j += 2) {
    const int64_t count = piece_length(ranges[j], ranges[j + 1]);
    if (count == 0) continue;
    memcpy(out + used, document.GetData() + ranges[j], static_cast<size_t>(count));
    used += count;
  }
  if (add_lf) out[used] = '\n';
  content = std::move(result);
  return true;
}

}  // namespace

int ExtractTokenText(const ByteString& document, const std::vector<int32_t>& ranges,
                     ByteString& token_text) noexcept {
  ByteString text;
  for (size_t j = 0; j + 1 < ranges.size(); j += 2) {
    const int64_t e = int64_t{ranges[j]} + ranges[j + 1];
    if (FindTokenEndWithin("/Contents", ClampPosition(e - kContentsLookBehind), kContentsWindow,
                           document) == -1) {
      continue;
    }
    if (FindTokenEndWithin("<", ClampPosition(e), 1, document) == -1) return TokenUnreadable;
    int64_t s = e + 1;
    if (FindTokenEndWithin(kDerSequencePrefix, ClampPosition(s), kDerPrefixWindow, document) ==
        -1) {
      s = e + 1 + kDerPrefixWindow;
    }
    if (!CutHexText(document, s, text)) return TokenUnreadable;
  }
  if (text.GetLength() == 0) {
    const int32_t n = document.GetLength();
    const int32_t r = FindTokenEndWithin("/ByteRange", 0, n - kFallbackTail, document);
    if (r != -1) {
      const int32_t u = FindTokenEndWithin("/Contents", r, kFallbackContentsWindow, document);
      if (u == -1) return TokenUnreadable;
      const int32_t v = FindTokenEndWithin(kDerSequencePrefix, u, kFallbackDerWindow, document);
      if (v == -1) return TokenUnreadable;
      if (!CutHexText(document, int64_t{v} - 3, text)) return TokenUnreadable;
    }
  }
  token_text = std::move(text);
  return ResultOk;
}

int AssembleSignedContent(ByteString& document, ByteString& signed_content,
                          ByteString& token_bytes) noexcept {
  // A. The byte-range array of the last revision.
  const ByteString offsets_list = ReadLastXrefOffsets(document);
  if (offsets_list.GetLength() == 0) return NoTimeStampToken;
  std::vector<int32_t> offsets;
  if (!SplitIntegers(offsets_list, offsets)) return NoTimeStampToken;
  const int32_t n = static_cast<int32_t>(offsets.size());
  const int32_t p = LocateByteRangeValue(offsets.data(), n, document);
  if (p < 0) return NoTimeStampToken;
  const int32_t q = FindTokenStart("]", p, document);
  if (q <= 0) return NoTimeStampToken;
  ByteString range_list = document.Mid(p, q - p);
  if (range_list.status() != ByteString::kOk) return NoTimeStampToken;

  // B. The seal-impression block, when one follows.
  const int32_t s = FindTokenStart("ImprintInfo", q - 1, document);
  if (s != -1) {
    const int32_t b = FindTokenEndWithin("[", ClampPosition(int64_t{s} + kImprintKeyLength),
                                         kImprintBracketWindow, document);
    if (b == -1) return NoTimeStampToken;
    const int32_t e = FindTokenStart("]", ClampPosition(int64_t{b} + 1), document);
    const int64_t info_count = int64_t{e} - b - 1;
    const ByteString info =
        info_count > 0 ? document.Mid(b + 1, static_cast<int>(info_count)) : ByteString();
    if (info.status() != ByteString::kOk) return NoTimeStampToken;
    const int32_t k = CountTokens(range_list);
    int32_t x = 0;
    int32_t y = 0;
    const ByteString holes = BuildImprintHoles(info, offsets.data(), n, document, x, y);
    if (holes.GetLength() == 0) return NoTimeStampToken;
    ByteString pair;
    if (pair.Format(" %d %d", x, y) != ByteString::kOk) return NoTimeStampToken;
    range_list += pair;
    if (range_list.status() != ByteString::kOk) return NoTimeStampToken;
    range_list = SplitRangesAtHoles(holes, range_list, k);
    if (range_list.GetLength() == 0) return NoTimeStampToken;
  }

  // C. The signed content.
  std::vector<int32_t> ranges;
  if (!SplitIntegers(range_list, ranges)) return TokenUnreadable;
  ByteString content;
  if (!GatherSignedContent(document, ranges, content)) return TokenUnreadable;

  // D. The token.
  ByteString token_text;
  const int rc = ExtractTokenText(document, ranges, token_text);
  if (rc != ResultOk) return rc;
  if (token_text.GetLength() % 2 != 0) token_text += "0";
  token_text += "00000000";
  if (token_text.status() != ByteString::kOk) return TokenUnreadable;
  ByteString token = token_text.HexDecode();
  if (token.GetLength() == 0) return TokenUnreadable;

  signed_content = std::move(content);
  token_bytes = std::move(token);
  return ResultOk;
}

}  // namespace vrd
