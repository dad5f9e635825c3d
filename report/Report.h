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
// closes a "startxref" section (a linearized original counting as one).
// Later-revision changes are judged from the parsed document's
// cross-reference table: every object whose current definition lies after
// the time-stamp's revision must be either reachable from the catalog's
// /DSS, a signature dictionary, signature field or widget (with what its /AP
// reaches), or one of the objects an incremental signing update rewrites (the
// catalog changed only in /DSS, /AcroForm, /Extensions or /Perms, a page
// changed only in /Annots, the form and its field list, /Annots arrays, new
// objects of the form's default resources (fonts for field appearances),
// cross-reference and object streams), or be unchanged from its definition at
// the end of the time-stamp's revision (the same value text, the same raw
// stream data); anything else, new or changed, counts as "other".
//
// Ownership: BuildReport borrows the document bytes (BuildReportFromFile its
// open file) for the call only and keeps nothing; the report owns its
// strings. Safe to call from several threads at once. Bounded work on hostile
// input: the field tree is walked to kMaxFieldDepth levels and
// kMaxVisitedObjects objects at most.
#ifndef VRD_REPORT_REPORT_H_
#define VRD_REPORT_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrd::report {

constexpr int kMaxFieldDepth = 32;
constexpr size_t kMaxVisitedObjects = 50000;
constexpr size_t kMaxTimeStamps = 1000;
constexpr const char* kSystemRootBundle = "/etc/ssl/certs/ca-certificates.crt";

enum class TimeStampKind { kDocument, kSignature };

// One check's outcome; kNotChecked when an earlier failure kept it from running.
enum class Verdict { kNotChecked, kPass, kFail };

// Where the trusted root of a verified chain came from.
enum class TrustSource { kNone, kBuiltIn, kTrustAnchor, kSystem };

enum class LaterChanges {
  kNone,              // the time-stamp's revision is the last one
  kDssAndSignatures,  // later revisions only add validation data and signatures
  kOther,             // later revisions change something else
};

struct TimeStampReport {
  TimeStampKind kind = TimeStampKind::kDocument;
  std::string field_name;  // fully qualified, parts joined with "."
  std::string sub_filter;  // of the signature dictionary, without the "/"

  // Revisions count from 1 (0: unknown, the /ByteRange being unusable);
  // later_revisions follow the time-stamp's own.
  int revision = 0;
  int later_revisions = 0;
  LaterChanges later_changes = LaterChanges::kNone;
  std::vector<int64_t> later_other_objects;  // a few object numbers, for the reader

  // The signature dictionary's /ByteRange (for a signature time-stamp, that
  // of the signature carrying it) and how it lies in the file.
  std::vector<int64_t> byte_range;
  bool byte_range_valid = false;       // pairs inside the file, ascending, not overlapping
  bool covers_whole_file = false;      // from byte 0 to the last byte, one gap
  bool covers_whole_revision = false;  // from byte 0 to the revision's "%%EOF" (EOL allowed)
  bool gap_is_contents = false;        // the one gap is exactly the /Contents hex string

  std::string encoding;           // "DER" or "BER"
  std::string imprint_algorithm;  // "SHA256", ..., or the OID's dotted text
  bool weak_algorithm = false;    // MD5 or SHA-1
  std::string imprint_hex;        // from the token, lower case
  std::string computed_hex;       // digest of the covered bytes, lower case

  Verdict imprint = Verdict::kNotChecked;
  Verdict signature = Verdict::kNotChecked;            // the TSA's CMS signature
  Verdict signing_certificate = Verdict::kNotChecked;  // ESS binding, v1 or v2
  Verdict time_stamping_usage = Verdict::kNotChecked;  // id-kp-timeStamping
  Verdict chain = Verdict::kNotChecked;                // fails too without the timeStamping usage
  TrustSource trusted_by = TrustSource::kNone;
  bool expired_since = false;  // chain valid at genTime only

  std::string gen_time;  // RFC 3339 form as the token gives it
  std::string tsa_subject;
  std::string serial;   // lower-case hexadecimal
  std::string policy;   // dotted OID
  std::string problem;  // the first failure, in words; empty when verified

  // Imprint, CMS signature (with its ESS binding, which RFC 3161 section
  // 2.4.1 requires of a token) and chain (which includes the timeStamping
  // usage) all pass.
  [[nodiscard]] bool Verified() const noexcept {
    return imprint == Verdict::kPass && signature == Verdict::kPass &&
           signing_certificate == Verdict::kPass && chain == Verdict::kPass;
  }
};

enum class ReportStatus { kOk, kNotOpened };

struct DocumentReport {
  std::string error;  // why the document could not be opened
  int revisions = 0;
  bool recovered = false;  // qpdf warned while opening it (damage it worked around)
  std::vector<TimeStampReport> timestamps;
};

struct TrustSettings {
  std::vector<std::string> extra_roots;  // DER certificates (--trust-anchor)
  bool system_roots = false;             // add kSystemRootBundle
  std::string system_bundle = kSystemRootBundle;
};

// Reports on the document of size bytes at data. kNotOpened (with out->error
// set) when qpdf cannot open it even with recovery; kOk otherwise, with every
// time-stamp found (possibly none).
[[nodiscard]] ReportStatus BuildReport(const unsigned char* data, size_t size,
                                       const TrustSettings& trust, DocumentReport* out);

// The same for the file at path, read as needed rather than loaded whole
// (one pass for the revision ends, qpdf's own reads, one pass per distinct
// range list). A path that is not a regular file below kMaxFileBytes, or a
// file that cannot be read, gives kNotOpened with "the file cannot be read".
constexpr int64_t kMaxFileBytes = int64_t{1} << 31;
[[nodiscard]] ReportStatus BuildReportFromFile(const std::string& path, const TrustSettings& trust,
                                               DocumentReport* out);

// Names for output: "document"/"signature", "pass"/"fail"/"not checked",
// "built-in"/"trust-anchor"/"system"/"", "none"/"dss-and-signatures"/"other".
const char* KindName(TimeStampKind kind) noexcept;
const char* VerdictName(Verdict verdict) noexcept;
const char* TrustSourceName(TrustSource source) noexcept;
const char* LaterChangesName(LaterChanges changes) noexcept;

// Revision ends: for every "%%EOF" closing a "startxref" section, the offset
// just after it and its end-of-line (LF, CR or CR LF); in a linearized file
// the first-page section's "%%EOF" is not an end, the whole linearized
// original being one revision. Exposed for tests.
struct RevisionEnd {
  int64_t eof_end = 0;   // just after "%%EOF"
  int64_t line_end = 0;  // after its end-of-line, when there is one
};
std::vector<RevisionEnd> FindRevisionEnds(const unsigned char* data, size_t size);

}  // namespace vrd::report

#endif  // VRD_REPORT_REPORT_H_
