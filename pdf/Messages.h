// The failure messages PDF scanning writes to standard output. The texts are
// Korean, stored as their code-page-949 bytes (written as byte escapes so no
// editor or compiler character set can alter them) and written unchanged,
// without a line end. Each message goes out whole in one write, so
// concurrent verifications never interleave inside a message.
#ifndef VRD_PDF_MESSAGES_H_
#define VRD_PDF_MESSAGES_H_

namespace vrd {

enum class PdfMessage {
  kStartxrefNotFound,     // "startxref" does not begin in the last 30 bytes
  kEofNotFound,           // no "%%EOF" after "startxref"
  kImprintObjectMissing,  // no section holds the seal-impression object header
  kImprintStreamMissing,  // no "stream" after that header
  kImprintEndMissing,     // no "endstream" after "stream"
};

// The message's bytes (NUL-terminated; the terminator is not written).
const char* PdfMessageText(PdfMessage message) noexcept;

// Writes the message to standard output and flushes it.
void WritePdfMessage(PdfMessage message) noexcept;

}  // namespace vrd

#endif  // VRD_PDF_MESSAGES_H_
