// The document stage's recorded behaviour: a fixed set of documents (every
// saved fuzz corpus file, the shipped sample, and generated documents with
// one structural fault each) and, for one document, a one-line record of
// what the stage produced - result code, SHA-256 of the bytes it hands to
// the digest, SHA-256 of the token bytes, and the standard-output bytes.
//
// tests/data/docstage_golden.txt holds the records of the code as it was
// before the stage was rewritten (written by docstage_golden_gen); the test
// docstage_test re-derives every record with the current code. Test-only.
#ifndef VRD_TESTS_SUPPORT_DOCSTAGEGOLDEN_H_
#define VRD_TESTS_SUPPORT_DOCSTAGEGOLDEN_H_

#include <string>
#include <vector>

namespace vrd::test {

struct GoldenDocument {
  std::string name;   // relative path of a file, or "generated/<what>"
  std::string bytes;  // the whole document
};

// The documents, in a fixed order. source_dir is the repository's root.
// False when a file of the set cannot be read or a document cannot be built.
bool GoldenDocuments(const std::string& source_dir, std::vector<GoldenDocument>& documents);

// "code=<n> content=<sha256 hex> token=<sha256 hex> stdout=<hex of the bytes>"
// for one run of the document stage over bytes: over the library's own copy
// (as QVTSPdfSigVerifyF runs it), or over the borrowed bytes (as
// QVTSPdfSigVerifyD runs it).
std::string DocStageRecord(const std::string& bytes, bool borrowed = false);

}  // namespace vrd::test

#endif  // VRD_TESTS_SUPPORT_DOCSTAGEGOLDEN_H_
