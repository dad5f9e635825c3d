// The report's value types, at the bottom of the report module: what one
// time-stamp and one document report hold, the trust settings a run asks
// for, the work limits, and the names under which values are printed. Plain
// values only; every other report header builds on this one.
#ifndef VRD_REPORT_REPORTTYPES_H_
#define VRD_REPORT_REPORTTYPES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrd::report {

constexpr int kMaxFieldDepth = 32;
constexpr size_t kMaxVisitedObjects = 50000;
constexpr size_t kMaxTimeStamps = 1000;
// The system's roots as a hashed directory (c_rehash names: subject hash .N).
constexpr const char* kSystemRootDirectory = "/etc/ssl/certs";

enum class TimeStampKind { kDocument, kSignature };

// One check's outcome; kNotChecked when an earlier failure kept it from running.
enum class Verdict { kNotChecked, kPass, kFail };

// Where the trusted root of a verified chain came from.
enum class TrustSource { kNone, kBuiltIn, kTrustAnchor, kSystem };

enum class LaterChanges {
  kNone,              // the time-stamp's revision is the last one
  kDssAndSignatures,  // later revisions only add validation data and signatures
  kOther,             // later revisions change something else
  kUnknown,           // later revisions exist, but could not be judged (structure not
                      // parsed, or the document's comparison budget ran out)
};

// Long-term validation (report/LongTerm.h).
enum class RevocationStatus { kNotChecked, kGood, kRevoked, kStale, kUnknown };
enum class ValidationModel { kPointInTime, kStrict };

// A CRL or OCSP response left out of the judgement, and why.
struct IgnoredRevocationItem {
  std::string kind;   // "crl" or "ocsp"
  std::string where;  // "dss", "token", "--revocation"
  std::string why;
};

// The revocation status of a time-stamp's authority and its CA chain at
// genTime: the first revoked certificate of the chain (the authority's own
// first), else the weakest status found among them.
struct RevocationReport {
  RevocationStatus status = RevocationStatus::kNotChecked;
  std::string certificate;  // subject of the certificate the status is about
  std::string time;         // revocation time (RFC 3339), when revoked
  std::string reason;       // RFC 5280 reason name, when revoked ("" when none given)
  bool revoked_before_gen_time = false;
  int64_t revoked_seconds = 0;     // the revocation time, for the judgement (not printed)
  bool only_after_expiry = false;  // stale, with items only from after the certificate expired
  // The item that decided: "crl"/"ocsp", where it was found, when issued.
  std::string decided_by;
  std::string decided_where;
  std::string decided_issued;
  std::vector<IgnoredRevocationItem> ignored;
};

// An EN 319 102-1 indication: "PASSED", "FAILED" or "INDETERMINATE", and
// the sub-indication's standard name ("" with PASSED).
struct Indication {
  std::string main;
  std::string sub;
  std::string model;  // "point-in-time" or "strict"
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

  // Long-term validation.
  RevocationReport revocation;
  std::string poe_time;      // genTime of the earliest later document time-stamp
  std::string protected_by;  // that time-stamp's field name
  Indication indication;
  // What the judgement works from (not printed): genTime and the
  // authority certificate's notAfter in seconds since the epoch, its
  // public key; 0 when unknown.
  int64_t gen_seconds = 0;
  int64_t tsa_not_after = 0;
  bool tsa_key_rsa = false;
  int tsa_key_bits = 0;

  // Imprint, CMS signature (with its ESS binding, which RFC 3161 section
  // 2.4.1 requires of a token) and chain (which includes the timeStamping
  // usage) all pass.
  [[nodiscard]] bool Verified() const noexcept {
    return imprint == Verdict::kPass && signature == Verdict::kPass &&
           signing_certificate == Verdict::kPass && chain == Verdict::kPass;
  }
};

// A signature dictionary as the report reads it, from the parsed document
// or from the raw bytes.
struct SignatureEntry {
  std::string field_name;           // fully qualified, parts joined with "."
  std::string type;                 // /Type without the "/", or empty
  std::string sub_filter;           // /SubFilter without the "/", or empty
  std::vector<int64_t> byte_range;  // empty when not an array of integers
  std::string contents;             // the /Contents string's bytes
  // Where that string lies in the file, from its "<" to just after its ">",
  // when the entry was read from the raw bytes; both 0 otherwise.
  int64_t contents_begin = 0;
  int64_t contents_end = 0;
};

enum class ReportStatus { kOk, kNotOpened };

struct DocumentReport {
  std::string error;  // why the document could not be opened
  int revisions = 0;
  bool recovered = false;  // qpdf warned while opening it (damage it worked around)
  // False when qpdf could not open the document and its signature
  // dictionaries were read from the raw bytes instead (structure_problem
  // says why): coverage is judged from the bytes alone, later changes are
  // unknown, and the document's own certificates are not read.
  bool structure_parsed = true;
  std::string structure_problem;
  std::vector<TimeStampReport> timestamps;
  // Long-term validation: the earliest genTime of a PASSED document
  // time-stamp after which no revision changes anything but /DSS data and
  // signatures, and the date by which a new document time-stamp must be
  // added (renew_overdue: that date has passed at the validation time).
  std::string existence_proven_at;
  std::string renew_by;
  bool renew_overdue = false;
};

// The resources one document's report may use (report/Budget.h). The
// defaults are far above what real documents need: a hostile document meets
// a limit in well under two seconds and 256 MiB.
struct ResourceLimits {
  // Bytes a decoder may produce from any one stream; four times as many from
  // all the streams of a document.
  uint64_t max_inflate = uint64_t{64} << 20;
  // Wall-clock seconds for the document's report.
  double max_seconds = 30.0;
};

// How a run judges time-stamps in the long term.
struct ValidationSettings {
  ValidationModel model = ValidationModel::kPointInTime;
  int64_t at = 0;  // validation time, seconds since the epoch; 0: now
};

// What a run asks of each document's report besides its trust sources.
struct ReportOptions {
  ResourceLimits limits;
  ValidationSettings validation;
};

struct TrustSettings {
  std::vector<std::string> extra_roots;  // DER certificates (--trust-anchor)
  bool system_roots = false;             // add the system roots
  // A hashed directory, or a bundle file of PEM certificates.
  std::string system_bundle = kSystemRootDirectory;
  // CRLs and OCSP responses the user gives (--revocation), DER.
  std::vector<std::string> revocation_items;
};

// Names for output: "document"/"signature", "pass"/"fail"/"not checked",
// "built-in"/"trust-anchor"/"system"/"", "none"/"dss-and-signatures"/"other"/"unknown".
const char* KindName(TimeStampKind kind) noexcept;
const char* VerdictName(Verdict verdict) noexcept;
const char* TrustSourceName(TrustSource source) noexcept;
const char* LaterChangesName(LaterChanges changes) noexcept;
// "good", "revoked", "stale", "unknown", "" (not checked); "point-in-time", "strict".
const char* RevocationStatusName(RevocationStatus status) noexcept;
const char* ValidationModelName(ValidationModel model) noexcept;

}  // namespace vrd::report

#endif  // VRD_REPORT_REPORTTYPES_H_
