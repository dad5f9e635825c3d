#include "report/Report.h"

#include <deque>
#include <exception>
#include <map>
#include <optional>
#include <qpdf/QPDF.hh>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "report/Budget.h"
#include "report/Decoders.h"
#include "report/DocumentInput.h"
#include "report/FieldWalk.h"
#include "report/LaterRevisions.h"
#include "report/LongTerm.h"
#include "report/QpdfCrypto.h"
#include "report/RawSignatures.h"
#include "report/Stamps.h"
#include "report/TokenReport.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd::report {
namespace {

// The signature dictionaries read from the raw bytes, when qpdf cannot open
// the document at all; kNotOpened (with the error as it is) when there are
// none either.
ReportStatus ReportFromRawBytes(DocumentInput* input, const std::vector<RevisionEnd>& ends,
                                const TrustSources& trust, const ComputedDigest* known,
                                DocumentReport* out) {
  const std::optional<std::vector<RawSignature>> found = FindRawSignatures(*input, input->size());
  if (!found || found->empty()) return ReportStatus::kNotOpened;
  out->structure_parsed = false;
  out->structure_problem.swap(out->error);
  DocumentCertificates none;
  StampChecker checker(input, ends, trust, none, known);
  for (const RawSignature& raw : *found) {
    if (out->timestamps.size() >= kMaxTimeStamps) break;
    checker.Report(
        SignatureEntry{raw.field_name, raw.type, raw.sub_filter, raw.byte_range, raw.contents},
        &out->timestamps);
  }
  for (TimeStampReport& ts : out->timestamps) {
    if (ts.later_revisions > 0) ts.later_changes = LaterChanges::kUnknown;
  }
  return ReportStatus::kOk;
}

// Earlier revisions whose /DSS is read too, at most; scanned bytes at most
// when looking for them.
constexpr size_t kMaxDssRevisions = 16;
constexpr int64_t kMaxDssScan = int64_t{64} << 20;

using XRefTable = std::map<QPDFObjGen, QPDFXRefEntry>;

// The offset of objgen in the file when table has it there (not in an
// object stream).
std::optional<qpdf_offset_t> FileOffset(const XRefTable& table, QPDFObjGen objgen) {
  const auto found = table.find(objgen);
  if (found == table.end() || found->second.getType() != 1) return std::nullopt;
  return found->second.getOffset();
}

// Whether two cross-reference tables place objgen at the same spot of the
// file (for an object in an object stream: the same place in the same
// stream, itself at the same spot): its bytes are then the same in both.
bool SamePlace(const XRefTable& a, const XRefTable& b, QPDFObjGen objgen) {
  const auto in_a = a.find(objgen);
  const auto in_b = b.find(objgen);
  if (in_a == a.end() || in_b == b.end()) return false;
  const QPDFXRefEntry& x = in_a->second;
  const QPDFXRefEntry& y = in_b->second;
  if (x.getType() == 1) return FileOffset(b, objgen) == x.getOffset();
  if (x.getType() != 2 || y.getType() != 2 || x.getObjStreamNumber() != y.getObjStreamNumber() ||
      x.getObjStreamIndex() != y.getObjStreamIndex()) {
    return false;
  }
  const QPDFObjGen stream(x.getObjStreamNumber(), 0);
  const std::optional<qpdf_offset_t> offset = FileOffset(a, stream);
  return offset && FileOffset(b, stream) == offset;
}

// The /DSS items of earlier revisions that the document's /DSS no longer
// lists: revocation data a later revision removed still proves what it
// proved. Only revisions whose own bytes name "/DSS" are opened (each
// without recovery), the latest kMaxDssRevisions of them; a stream the
// current /DSS also lists from the same spot of the file is not decoded
// again.
void AddRemovedDssItems(DocumentInput* input, const std::vector<RevisionEnd>& ends,
                        const XRefTable& xref, const DssItems& current,
                        DocumentCertificates* carried) {
  if (ends.size() < 2 || ends[ends.size() - 2].line_end - ends[0].line_end > kMaxDssScan) return;
  std::vector<size_t> revisions;
  for (size_t r = ends.size() - 1; r-- > 1 && revisions.size() < kMaxDssRevisions;) {
    if (input->Contains(ends[r - 1].line_end, ends[r].line_end, "/DSS")) revisions.push_back(r);
  }
  std::set<std::string_view> known(current.crls.begin(), current.crls.end());
  known.insert(current.ocsps.begin(), current.ocsps.end());
  std::deque<std::string> removed;  // owns what known views beyond current
  for (const size_t r : revisions) {
    QPDF earlier;
    try {
      input->Open(&earlier, "revision", ends[r].line_end, false);
    } catch (const std::exception&) {
      continue;
    }
    std::set<QPDFObjGen> unchanged;
    const XRefTable before = earlier.getXRefTable();
    for (const QPDFObjGen& objgen : current.streams) {
      if (SamePlace(xref, before, objgen)) unchanged.insert(objgen);
    }
    DssItems dss = ReadDss(&earlier, unchanged);
    carried->Add(dss.certificates);
    for (std::vector<std::string>* items : {&dss.crls, &dss.ocsps}) {
      for (std::string& item : *items) {
        if (known.count(item) != 0) continue;
        carried->revocation().Add(item, "dss, removed by a later revision");
        removed.push_back(std::move(item));
        known.insert(removed.back());
      }
    }
  }
}

ReportStatus BuildReportWithin(DocumentInput* input, const TrustSources& trust,
                               const ComputedDigest* known, DocumentBudget* budget,
                               DocumentReport* out) {
  std::vector<RevisionEnd> ends;
  if (!input->FindRevisionEnds(&ends)) {
    out->error = "the file cannot be read";
    return ReportStatus::kNotOpened;
  }
  out->revisions = static_cast<int>(ends.size());
  try {
    QPDF pdf;
    input->Open(&pdf, "document", input->size());
    out->recovered = pdf.anyWarnings();
    DocumentCertificates carried;
    const DssItems dss = ReadDss(&pdf);
    carried.Add(dss.certificates);
    for (const std::string& crl : dss.crls) carried.revocation().Add(crl, "dss");
    for (const std::string& ocsp : dss.ocsps) carried.revocation().Add(ocsp, "dss");
    const XRefTable xref = pdf.getXRefTable();
    AddRemovedDssItems(input, ends, xref, dss, &carried);
    Walk walk;
    walk.pdf = &pdf;
    walk.input = input;
    walk.xref = &xref;
    WalkDocument(&walk);
    StampChecker checker(input, ends, trust, carried, known);
    for (FoundSignature& signature : walk.signatures) {
      if (out->timestamps.size() >= kMaxTimeStamps || !budget->InTime()) break;
      checker.Report(ReadSignatureEntry(std::move(signature)), &out->timestamps);
    }
    if (budget->InTime()) JudgeLaterRevisions(&pdf, input, ends, walk, &out->timestamps);
    return ReportStatus::kOk;
  } catch (const std::exception& e) {
    out->error = std::string("the PDF cannot be read: ") + e.what();
  } catch (...) {
    out->error = "the PDF cannot be read";
  }
  out->timestamps.clear();
  out->recovered = false;
  if (budget->exhausted()) return ReportStatus::kNotOpened;
  return ReportFromRawBytes(input, ends, trust, known, out);
}

// The report within the document's budget: a document that meets one of
// its limits has no report but an error naming the limit.
ReportStatus BuildReportOver(DocumentInput* input, const TrustSources& trust,
                             const ComputedDigest* known, const ReportOptions& options,
                             DocumentReport* out) {
  *out = DocumentReport();
  InstallBudgetedDecoders();
  InstallQpdfCrypto();
  DocumentBudget budget(options.limits, input->size());
  const BudgetScope scope(&budget);
  input->SetBudget(&budget);
  const ReportStatus status = BuildReportWithin(input, trust, known, &budget, out);
  input->SetBudget(nullptr);
  if (!budget.exhausted()) {
    JudgeLongTerm(options.validation, out);
    return status;
  }
  const int revisions = out->revisions;
  *out = DocumentReport();
  out->revisions = revisions;
  out->error = budget.Describe();
  return ReportStatus::kNotOpened;
}

}  // namespace

ReportStatus BuildReport(const unsigned char* data, size_t size, const TrustSources& trust,
                         DocumentReport* out, const ComputedDigest* known,
                         const ReportOptions& options) {
  DocumentInput input(data, size);
  return BuildReportOver(&input, trust, known, options, out);
}

ReportStatus BuildReport(const unsigned char* data, size_t size, const TrustSettings& trust,
                         DocumentReport* out) {
  *out = DocumentReport();
  TrustSources sources;
  if (!sources.Load(trust, &out->error)) return ReportStatus::kNotOpened;
  return BuildReport(data, size, sources, out);
}

ReportStatus BuildReportFromFile(DocumentFile& file, const TrustSources& trust, DocumentReport* out,
                                 const ComputedDigest* known, const ReportOptions& options) {
  DocumentInput input(file);
  return BuildReportOver(&input, trust, known, options, out);
}

ReportStatus BuildReportFromFile(const std::string& path, const TrustSources& trust,
                                 DocumentReport* out) {
  DocumentFile file;
  if (file.Open(path.c_str()) != kLoadOk) {
    *out = DocumentReport();
    out->error = "the file cannot be read";
    return ReportStatus::kNotOpened;
  }
  return BuildReportFromFile(file, trust, out);
}

ReportStatus BuildReportFromFile(const std::string& path, const TrustSettings& trust,
                                 DocumentReport* out) {
  *out = DocumentReport();
  TrustSources sources;
  if (!sources.Load(trust, &out->error)) return ReportStatus::kNotOpened;
  return BuildReportFromFile(path, sources, out);
}

const char* KindName(TimeStampKind kind) noexcept {
  return kind == TimeStampKind::kDocument ? "document" : "signature";
}

const char* VerdictName(Verdict verdict) noexcept {
  switch (verdict) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kFail:
      return "fail";
    default:
      return "not checked";
  }
}

const char* TrustSourceName(TrustSource source) noexcept {
  switch (source) {
    case TrustSource::kBuiltIn:
      return "built-in";
    case TrustSource::kTrustAnchor:
      return "trust-anchor";
    case TrustSource::kSystem:
      return "system";
    default:
      return "";
  }
}

const char* RevocationStatusName(RevocationStatus status) noexcept {
  switch (status) {
    case RevocationStatus::kGood:
      return "good";
    case RevocationStatus::kRevoked:
      return "revoked";
    case RevocationStatus::kStale:
      return "stale";
    case RevocationStatus::kUnknown:
      return "unknown";
    default:
      return "";
  }
}

const char* ValidationModelName(ValidationModel model) noexcept {
  return model == ValidationModel::kStrict ? "strict" : "point-in-time";
}

const char* LaterChangesName(LaterChanges changes) noexcept {
  switch (changes) {
    case LaterChanges::kDssAndSignatures:
      return "dss-and-signatures";
    case LaterChanges::kOther:
      return "other";
    case LaterChanges::kUnknown:
      return "unknown";
    default:
      return "none";
  }
}

}  // namespace vrd::report
