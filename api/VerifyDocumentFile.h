// VerifyDocumentFile: the verification of a document named by a path, as
// QVTSPdfSigVerifyF and the command line make it. The result and the outputs
// are exactly those of VerifyTimeStampToken over the file's bytes, and
// FileUnreadable (outputs untouched) when the file cannot be read in full.
//
// How the bytes are read is this routine's own affair. A file up to
// load_whole_up_to bytes is loaded whole. A larger one is read from its
// tail first (tail_bytes): when the document stage finds all it needs there
// and has nothing to write, the signed content is read from the file while
// it is hashed (api/FileContent.h), so neither a copy of the document nor of
// the signed content is ever made. When the stage reads before the tail, or
// must write the seal-impression template, what it worked out is dropped
// and the whole file is loaded and verified as a small one. Scanning
// messages (pdf/Messages.h) come out once, as the stage over the whole file
// gives them.
//
// The file is not locked (util/DocumentFile.h): a document that another
// process rewrites during the call may be read partly before and partly
// after the change, as with any read of a file that is being written.
#ifndef VRD_API_VERIFYDOCUMENTFILE_H_
#define VRD_API_VERIFYDOCUMENTFILE_H_

#include <cstddef>
#include <cstdint>

#include "api/DocumentOutcome.h"
#include "api/VerifyTimeStampToken.h"

namespace vrd {

class DocumentFile;

struct FileReadPlan {
  int64_t load_whole_up_to = int64_t{8} << 20;
  int64_t tail_bytes = int64_t{2} << 20;
  size_t buffer_bytes = 0;  // the read buffer of the signed content; 0 for the default
};

// How a call read its file (for diagnostics): loaded whole, or not.
struct FileReading {
  bool loaded_whole = false;
};

// outcome as for VerifyWorkingDocument; reading, when not null, receives how
// the file was read.
[[nodiscard]] int VerifyDocumentFile(const char* path, const OutputTexts& out,
                                     const ExtraTrustedRoots& extra_roots = {},
                                     DocumentOutcome* outcome = nullptr,
                                     const FileReadPlan& plan = {}, FileReading* reading = nullptr);

// The same for a file that is open already, so that a caller that reads the
// document for its own purposes too opens it once. loaded, when not null,
// holds the whole file as LoadFile read it (the caller's bytes, never
// written): the verification then reads those instead of the file.
// computed as for VerifyWorkingDocument.
[[nodiscard]] int VerifyOpenDocumentFile(DocumentFile& file, const ByteString* loaded,
                                         const OutputTexts& out,
                                         const ExtraTrustedRoots& extra_roots = {},
                                         DocumentOutcome* outcome = nullptr,
                                         const FileReadPlan& plan = {},
                                         FileReading* reading = nullptr,
                                         ComputedDigest* computed = nullptr);

}  // namespace vrd

#endif  // VRD_API_VERIFYDOCUMENTFILE_H_
