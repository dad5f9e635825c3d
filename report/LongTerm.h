// The long-term judgement of a document's time-stamps, once each has its
// checks and its revocation status at genTime (report/Revocation.h):
//  - proof of existence: a document time-stamp that verifies proves that
//    everything in the revisions before its own existed at its genTime; each
//    time-stamp gets the earliest such later one (protected_by, poe_time);
//  - an EN 319 102-1 indication under the run's validation model:
//    point-in-time (RFC 3161 appendix B: the chain at genTime and the
//    revocation status at genTime; a revocation after genTime for key
//    compromise, or no reason or an unspecified one, needs a proof of
//    existence before it) or strict (past signature validation offline: any
//    revocation after genTime needs such a proof, and so does an
//    authority's certificate that has expired by the validation time);
//    under both, revocation data issued only after the certificate expired
//    proves nothing (a CA need not list expired certificates);
//  - per document, when the document as it reads now is proven to have
//    existed, and by when a new document time-stamp must be added.
// Plain computation over the report's values; no I/O.
#ifndef VRD_REPORT_LONGTERM_H_
#define VRD_REPORT_LONGTERM_H_

#include <cstdint>

#include "report/ReportTypes.h"

namespace vrd::report {

// The end of RSA keys under 3000 bits, 2029-01-01T00:00:00Z (ETSI TS 119
// 312's sunset for them).
constexpr int64_t kShortRsaSunset = 1861920000;
constexpr int kShortRsaBits = 3000;

void JudgeLongTerm(const ValidationSettings& settings, DocumentReport* report);

}  // namespace vrd::report

#endif  // VRD_REPORT_LONGTERM_H_
