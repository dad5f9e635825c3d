#include "api/VerifyDocumentFile.h"

#include <vector>

#include "api/AssembleSignedContent.h"
#include "api/FileContent.h"
#include "api/ResultCodes.h"
#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "util/ByteString.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd {
namespace {

// The scanning messages of an attempt over the tail, held back until it is
// known whether the attempt stands.
class HeldMessages {
 public:
  static void Receive(void* context, PdfMessage message) noexcept {
    auto* held = static_cast<HeldMessages*>(context);
    if (held->count_ == kCapacity) {
      held->overflowed_ = true;
      return;
    }
    held->messages_[held->count_++] = message;
  }
  [[nodiscard]] bool overflowed() const noexcept { return overflowed_; }
  void Release() const noexcept {
    for (size_t index = 0; index < count_; ++index) WritePdfMessage(messages_[index]);
  }

 private:
  static constexpr size_t kCapacity = 8;
  PdfMessage messages_[kCapacity] = {};
  size_t count_ = 0;
  bool overflowed_ = false;
};

// The verification over the file's tail; false when it does not stand (the
// stage needed more than the tail, or the tail could not be read), and the
// whole file must be verified instead. Nothing observable happens before
// the attempt is known to stand.
bool VerifyFromTail(DocumentFile& file, const FileReadPlan& plan, const OutputTexts& out,
                    const ExtraTrustedRoots& extra_roots, DocumentOutcome* outcome, int& result,
                    ComputedDigest* computed) {
  if (!ExtraRootsUsable(extra_roots)) return false;
  const int64_t tail_start = file.size() - plan.tail_bytes;
  std::vector<unsigned char> tail;
  if (!ResizeList(tail, static_cast<size_t>(plan.tail_bytes)) ||
      file.ReadAt(tail_start, tail.data(), tail.size()) != kLoadOk) {
    return false;
  }
  bool needs_whole_file = false;
  const DocumentView view =
      DocumentView::Tail(tail.data(), tail_start, file.size(), &needs_whole_file);
  WorkingDocument working(view, &needs_whole_file);
  SignedContent content;
  ByteString token;
  HeldMessages messages;
  DocumentOutcome assembled = DocumentOutcome::kAssembled;
  {
    ScopedPdfMessageReceiver holding(&HeldMessages::Receive, &messages);
    assembled = AssembleDocument(working, content, token);
  }
  if (needs_whole_file || messages.overflowed()) return false;

  FileContent from_file;
  from_file.file = &file;
  from_file.tail_start = tail_start;
  from_file.buffer_bytes = plan.buffer_bytes;
  result = assembled == DocumentOutcome::kAssembled
               ? VerifyAssembledDocument(content, token, out, extra_roots, &from_file, computed)
               : ResultCodeOf(assembled);
  // Loaded whole, a file that cannot be read gives FileUnreadable before any
  // stage runs: no message, no outcome.
  const bool unreadable =
      from_file.digest_ran ? result == FileUnreadable : !ReadBeforeTail(from_file);
  if (unreadable) {
    result = FileUnreadable;
    return true;
  }
  if (outcome != nullptr) *outcome = assembled;
  messages.Release();
  return true;
}

}  // namespace

int VerifyDocumentFile(const char* path, const OutputTexts& out,
                       const ExtraTrustedRoots& extra_roots, DocumentOutcome* outcome,
                       const FileReadPlan& plan, FileReading* reading) {
  if (outcome != nullptr) *outcome = DocumentOutcome::kAssembled;
  if (reading != nullptr) reading->loaded_whole = false;
  DocumentFile file;
  if (file.Open(path) != kLoadOk) return FileUnreadable;
  return VerifyOpenDocumentFile(file, nullptr, out, extra_roots, outcome, plan, reading);
}

int VerifyOpenDocumentFile(DocumentFile& file, const ByteString* loaded, const OutputTexts& out,
                           const ExtraTrustedRoots& extra_roots, DocumentOutcome* outcome,
                           const FileReadPlan& plan, FileReading* reading,
                           ComputedDigest* computed) {
  if (outcome != nullptr) *outcome = DocumentOutcome::kAssembled;
  if (reading != nullptr) reading->loaded_whole = true;
  if (loaded != nullptr) {
    WorkingDocument working(loaded->GetBytes(), loaded->GetLength());
    return VerifyWorkingDocument(working, out, extra_roots, outcome, computed);
  }
  if (file.size() > plan.load_whole_up_to && plan.tail_bytes > 0 && plan.tail_bytes < file.size()) {
    if (reading != nullptr) reading->loaded_whole = false;
    int result = ResultOk;
    if (VerifyFromTail(file, plan, out, extra_roots, outcome, result, computed)) return result;
    if (reading != nullptr) reading->loaded_whole = true;
  }
  ByteString document;
  if (LoadFile(file, document) != kLoadOk) return FileUnreadable;
  WorkingDocument working(document);
  return VerifyWorkingDocument(working, out, extra_roots, outcome, computed);
}

}  // namespace vrd
