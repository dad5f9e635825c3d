// The checks of one signature dictionary's time-stamps: its coverage, then
// for a document time-stamp the token and its imprint over the covered
// bytes, for an ordinary signature each signature time-stamp of its CMS and
// its imprint over the signature value it stamps.
//
// A StampChecker serves one document: it caches each distinct digest of
// the document's bytes and keeps the document's digest budget, so a
// document of many signatures over distinct long ranges gets "not checked"
// for the ones beyond it rather than unbounded work. It borrows the input,
// the revision ends, the trust sources and the document's certificates.
#ifndef VRD_REPORT_STAMPS_H_
#define VRD_REPORT_STAMPS_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "api/ComputedDigest.h"
#include "report/DocumentInput.h"
#include "report/ReportTypes.h"
#include "report/RevisionEnds.h"
#include "report/TokenReport.h"

namespace vrd::report {

class StampChecker {
 public:
  // known: a digest of the document computed already, or null
  // (report/Report.h).
  StampChecker(DocumentInput* input, const std::vector<RevisionEnd>& ends,
               const TrustSources& trust, DocumentCertificates& carried,
               const ComputedDigest* known);

  // Appends the signature's time-stamps to out (at most kMaxTimeStamps in all).
  void Report(SignatureEntry signature, std::vector<TimeStampReport>* out);

 private:
  void CompareImprint(const ImprintRequest& request, const ByteRanges& ranges, TimeStampReport* ts);
  void CompareImprintOver(const std::string& bytes, const ImprintRequest& request,
                          TimeStampReport* ts);

  // The key of the digest cache, imprint algorithm and range list: one pass
  // over the bytes per distinct pair.
  using DigestKey = std::pair<std::string, ByteRanges>;

  DocumentInput* input_;
  const std::vector<RevisionEnd>& ends_;
  uint64_t hash_budget_;
  const TrustSources& trust_;
  DocumentCertificates& carried_;  // gains the signatures' archived revocation data
  const ComputedDigest* known_;
  std::map<DigestKey, std::vector<unsigned char>> cache_;
};

}  // namespace vrd::report

#endif  // VRD_REPORT_STAMPS_H_
