// The document report behind `tsverify --all`: opens a PDF with a real parser
// (qpdf: cross-reference streams, object streams, hybrid and damaged files,
// every revision), finds every RFC 3161 time-stamp in it and checks each one
// on its own. Independent of the exported functions and their byte-search
// rules; nothing here is part of the library's exports.
//
// Time-stamps found:
//  - document time-stamps: signature dictionaries with /Type /DocTimeStamp or
//    /SubFilter /ETSI.RFC3161, whose /Contents is the token and whose imprint
//    covers the /ByteRange bytes;
//  - signature time-stamps: the unsigned attribute id-aa-timeStampToken
//    (RFC 3161 appendix A, 1.2.840.113549.1.9.16.2.14) of each SignerInfo of
//    an ordinary signature, whose imprint covers that SignerInfo's signature
//    value.
//
// Revisions are the stretches of the raw bytes ending at each "%%EOF" that
// closes a "startxref" section (report/RevisionEnds.h); what later revisions
// changed is judged per object (report/LaterRevisions.h). A document qpdf
// cannot open at all has its signature dictionaries read from the raw bytes
// (report/RawSignatures.h), with DocumentReport::structure_parsed false.
//
// Ownership: BuildReport borrows the document bytes (BuildReportFromFile its
// open file) for the call only and keeps nothing; the report owns its
// strings. Safe to call from several threads at once. Bounded work on hostile
// input: the field tree is walked to kMaxFieldDepth levels and
// kMaxVisitedObjects objects at most, and the whole report runs within a
// resource budget (options.limits, report/Budget.h): a document that meets
// one of its limits gives kNotOpened with out->error naming the limit.
// Every time-stamp is also judged in the long term (report/LongTerm.h)
// under options.validation.
#ifndef VRD_REPORT_REPORT_H_
#define VRD_REPORT_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/ReportTypes.h"
#include "report/RevisionEnds.h"

namespace vrd {
class DocumentFile;
struct ComputedDigest;
}  // namespace vrd

namespace vrd::report {

class TrustSources;  // report/TokenReport.h

// Reports on the document of size bytes at data. kNotOpened (with out->error
// set) when qpdf cannot open it even with recovery; kOk otherwise, with every
// time-stamp found (possibly none). trust: the run's sources, loaded once;
// the TrustSettings form loads them for this one call. known, when not null
// and valid, is a digest of the same document computed already
// (api/ComputedDigest.h): a time-stamp over the same bytes with the same
// algorithm takes it instead of hashing them again.
[[nodiscard]] ReportStatus BuildReport(const unsigned char* data, size_t size,
                                       const TrustSources& trust, DocumentReport* out,
                                       const ComputedDigest* known = nullptr,
                                       const ReportOptions& options = ReportOptions());
[[nodiscard]] ReportStatus BuildReport(const unsigned char* data, size_t size,
                                       const TrustSettings& trust, DocumentReport* out);

// The same for a file, read as needed rather than loaded whole (one pass
// for the revision ends, qpdf's reads through a window of the file, one
// pass per distinct range list): open already (util/DocumentFile.h, which
// the report only reads through), or named by a path and opened the way
// the library opens documents. A path that is not a regular file below
// 2 GiB, or a file that cannot be read, gives kNotOpened with "the file
// cannot be read".
[[nodiscard]] ReportStatus BuildReportFromFile(DocumentFile& file, const TrustSources& trust,
                                               DocumentReport* out,
                                               const ComputedDigest* known = nullptr,
                                               const ReportOptions& options = ReportOptions());
[[nodiscard]] ReportStatus BuildReportFromFile(const std::string& path, const TrustSources& trust,
                                               DocumentReport* out);
[[nodiscard]] ReportStatus BuildReportFromFile(const std::string& path, const TrustSettings& trust,
                                               DocumentReport* out);

}  // namespace vrd::report

#endif  // VRD_REPORT_REPORT_H_
