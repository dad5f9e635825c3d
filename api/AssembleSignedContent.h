// Signed content assembly and token extraction (the document stage): from
// the raw bytes of a PDF, the bytes the time-stamp token vouches for (the
// /ByteRange pieces, plus the seal-impression stream data less its holes
// when an ImprintInfo block follows) and the DER token bytes cut out of
// /Contents.
//
// The signed content is not copied: it is handed over as a list of pieces
// that point into the working document (and at one static line feed when the
// final line feed rule adds one), valid while that document lives unchanged.
//
// The working document is the verifier's copy: in an encrypted document with
// a seal-impression block the fixed template is written over the stream data
// in it before anything is gathered, and every later step reads the changed
// bytes. A WorkingDocument over borrowed bytes copies them only then, so a
// caller's buffer is never written. Nothing else is changed.
#ifndef VRD_API_ASSEMBLESIGNEDCONTENT_H_
#define VRD_API_ASSEMBLESIGNEDCONTENT_H_

#include <cstdint>
#include <vector>

#include "api/DocumentOutcome.h"
#include "api/ResultCodes.h"
#include "pdf/DocumentView.h"
#include "util/ByteSpan.h"
#include "util/ByteString.h"

namespace vrd {

class WorkingDocument {
 public:
  // The caller's own copy, written in place; it must outlive this object.
  explicit WorkingDocument(ByteString& owned) noexcept : owned_(&owned) {}
  // Bytes that must not be written (null or length <= 0: empty document);
  // they are copied before the first write. They must outlive this object.
  WorkingDocument(const unsigned char* bytes, int32_t length) noexcept;
  // A view that holds only the document's tail (pdf/DocumentView.h). Such a
  // document is never written: WriteAt sets *write_refused and gives
  // kNoMemory, and the caller must start again from the whole document.
  WorkingDocument(const DocumentView& tail, bool* write_refused) noexcept;
  WorkingDocument(const WorkingDocument&) = delete;
  WorkingDocument& operator=(const WorkingDocument&) = delete;

  // The current bytes; a write may move them, so take a new view after one.
  [[nodiscard]] DocumentView View() const noexcept;
  // Overwrites count bytes at position when all of them lie inside the
  // document: ByteString::kOk, kRange (nothing written) or kNoMemory (the
  // copy of borrowed bytes could not be made; nothing written).
  [[nodiscard]] int WriteAt(int64_t position, const char* bytes, int count) noexcept;
  // True once a write changed the bytes.
  [[nodiscard]] bool written() const noexcept { return written_; }

 private:
  ByteString* owned_ = nullptr;
  ByteString copy_;
  bool copied_ = false;
  const unsigned char* borrowed_ = nullptr;
  int32_t borrowed_length_ = 0;
  DocumentView tail_;
  bool* write_refused_ = nullptr;
  bool tail_only_ = false;
  bool written_ = false;
};

// The pieces to hash, in order, and where each starts in the document. Over
// a view that holds only the tail, a piece that is not all in memory has no
// data, only its length: its bytes are to be read from the file.
struct SignedContent {
  // The position of the line feed that the final line feed rule adds.
  static constexpr int64_t kAddedLineFeed = -1;
  std::vector<ByteSpan> pieces;
  std::vector<int64_t> positions;
  [[nodiscard]] bool Append(ByteSpan piece, int64_t position) noexcept;
};

// kAssembled with content and token_bytes filled (token bytes = decoded hex
// text followed by four zero bytes), or the failure (ResultCodeOf gives 2108,
// 2106 or 2104) with both outputs untouched.
[[nodiscard]] DocumentOutcome AssembleDocument(WorkingDocument& document, SignedContent& content,
                                               ByteString& token_bytes) noexcept;

// The same over a ByteString, with the pieces gathered into signed_content;
// returns the outcome's result code. Storage for the gathered content that
// cannot be obtained gives TokenUnreadable.
[[nodiscard]] int AssembleSignedContent(ByteString& document, ByteString& signed_content,
                                        ByteString& token_bytes) noexcept;

// The token's hexadecimal text for the given ranges array, or TokenUnreadable.
// An empty text with ResultOk means no /Contents was found at all.
[[nodiscard]] int ExtractTokenText(const ByteString& document, const std::vector<int32_t>& ranges,
                                   ByteString& token_text) noexcept;

}  // namespace vrd

#endif  // VRD_API_ASSEMBLESIGNEDCONTENT_H_
