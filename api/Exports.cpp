#include "api/Exports.h"

#include "api/ResultCodes.h"
#include "api/VerifyDocumentFile.h"
#include "api/VerifyTimeStampToken.h"

namespace {

// Nothing below is meant to throw; should anything (an allocation deep in a
// standard container) do so anyway, the caller still gets a failure code
// rather than an exception across the C boundary.
constexpr int kEscapedFailure = vrd::ToolkitSetupFailed;

}  // namespace

extern "C" {

VRD_TSV_API int VRD_TSV_CALL QVTSPdfSigVerifyF(const char* pdfPath, VrdTsvChar* genTime,
                                               VrdTsvChar* hashAlgorithm, VrdTsvChar* hashedMessage,
                                               VrdTsvChar* subjectName) {
  try {
    return vrd::VerifyDocumentFile(pdfPath, {genTime, hashAlgorithm, hashedMessage, subjectName});
  } catch (...) {
    return kEscapedFailure;
  }
}

VRD_TSV_API int VRD_TSV_CALL QVTSPdfSigVerifyD(const unsigned char* pdfData, int32_t pdfLength,
                                               VrdTsvChar* genTime, VrdTsvChar* hashAlgorithm,
                                               VrdTsvChar* hashedMessage, VrdTsvChar* subjectName) {
  try {
    // The caller's bytes are read where they lie; the working document
    // copies them only if the seal-impression template must be written.
    vrd::WorkingDocument document(pdfData, pdfLength);
    return vrd::VerifyWorkingDocument(document,
                                      {genTime, hashAlgorithm, hashedMessage, subjectName});
  } catch (...) {
    return kEscapedFailure;
  }
}

}  // extern "C"
