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

struct TrustSettings {
  std::vector<std::string> extra_roots;  // DER certificates (--trust-anchor)
  bool system_roots = false;             // add the system roots
  // A hashed directory, or a bundle file of PEM certificates.
  std::string system_bundle = kSystemRootDirectory;
};

// Names for output: "document"/"signature", "pass"/"fail"/"not checked",
// "built-in"/"trust-anchor"/"system"/"", "none"/"dss-and-signatures"/"other"/"unknown".
const char* KindName(TimeStampKind kind) noexcept;
const char* VerdictName(Verdict verdict) noexcept;
const char* TrustSourceName(TrustSource source) noexcept;
const char* LaterChangesName(LaterChanges changes) noexcept;

}  // namespace vrd::report

#endif  // VRD_REPORT_REPORTTYPES_H_
