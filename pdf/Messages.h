// The failure messages PDF scanning writes to standard output. The texts are
// Korean, stored as their code-page-949 bytes (written as byte escapes so no
// editor or compiler character set can alter them) and written unchanged,
// without a line end. Each message goes out whole in one write, so
// concurrent verifications never interleave inside a message.
//
// Where a message goes is decided per thread: standard output unless the
// calling thread has installed a receiver (ScopedPdfMessageReceiver), which
// then gets every message instead, whole and in order. The exported
// functions install none; the command line installs one per verification so
// that each message stays with its file's report. The receiver and its
// context belong to the installer and must outlive the scope.
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

// The same message as UTF-8 text, for reports that are not in code page 949.
const char* PdfMessageUtf8Text(PdfMessage message) noexcept;

// Hands the message to the calling thread's receiver, or, without one,
// writes it to standard output and flushes it.
void WritePdfMessage(PdfMessage message) noexcept;

using PdfMessageReceiver = void (*)(void* context, PdfMessage message) noexcept;

// Installs receiver (with its context) for the calling thread for the
// object's lifetime and restores the previous one afterwards; scopes nest.
// A null receiver restores standard output for the scope.
class ScopedPdfMessageReceiver {
 public:
  ScopedPdfMessageReceiver(PdfMessageReceiver receiver, void* context) noexcept;
  ~ScopedPdfMessageReceiver();
  ScopedPdfMessageReceiver(const ScopedPdfMessageReceiver&) = delete;
  ScopedPdfMessageReceiver& operator=(const ScopedPdfMessageReceiver&) = delete;

 private:
  PdfMessageReceiver previous_receiver_;
  void* previous_context_;
};

}  // namespace vrd

#endif  // VRD_PDF_MESSAGES_H_
