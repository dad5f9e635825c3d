#include "cli/AllReport.h"

#include <cstdint>

namespace vrd {
namespace cli {
namespace {

std::string JsonBool(bool value) { return value ? "true" : "false"; }

std::string JsonIntegers(const std::vector<int64_t>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ",";
    out += std::to_string(values[i]);
  }
  return out + "]";
}

std::string TimeStampJson(const report::TimeStampReport& ts) {
  using report::VerdictName;
  std::string out = "{\"kind\":" + JsonString(report::KindName(ts.kind));
  out += ",\"field\":" + JsonString(ts.field_name);
  out += ",\"subFilter\":" + JsonString(ts.sub_filter);
  out += ",\"verified\":" + JsonBool(ts.Verified());
  out += ",\"problem\":" + JsonString(ts.problem);
  out += ",\"revision\":" + std::to_string(ts.revision);
  out += ",\"laterRevisions\":" + std::to_string(ts.later_revisions);
  out += ",\"laterChanges\":" + JsonString(report::LaterChangesName(ts.later_changes));
  out += ",\"laterOtherObjects\":" + JsonIntegers(ts.later_other_objects);
  out += ",\"byteRange\":" + JsonIntegers(ts.byte_range);
  out += ",\"byteRangeValid\":" + JsonBool(ts.byte_range_valid);
  out += ",\"coversWholeFile\":" + JsonBool(ts.covers_whole_file);
  out += ",\"coversWholeRevision\":" + JsonBool(ts.covers_whole_revision);
  out += ",\"gapIsContents\":" + JsonBool(ts.gap_is_contents);
  out += ",\"encoding\":" + JsonString(ts.encoding);
  out += ",\"imprintAlgorithm\":" + JsonString(ts.imprint_algorithm);
  out += ",\"weakAlgorithm\":" + JsonBool(ts.weak_algorithm);
  out += ",\"imprint\":" + JsonString(VerdictName(ts.imprint));
  out += ",\"hashedMessage\":" + JsonString(ts.imprint_hex);
  out += ",\"computedDigest\":" + JsonString(ts.computed_hex);
  out += ",\"signature\":" + JsonString(VerdictName(ts.signature));
  out += ",\"signingCertificate\":" + JsonString(VerdictName(ts.signing_certificate));
  out += ",\"timeStampingUsage\":" + JsonString(VerdictName(ts.time_stamping_usage));
  out += ",\"chain\":" + JsonString(VerdictName(ts.chain));
  out += ",\"trustedBy\":" + JsonString(report::TrustSourceName(ts.trusted_by));
  out += ",\"expiredSince\":" + JsonBool(ts.expired_since);
  out += ",\"genTime\":" + JsonString(ts.gen_time);
  out += ",\"tsaSubject\":" + JsonString(ts.tsa_subject);
  out += ",\"serial\":" + JsonString(ts.serial);
  out += ",\"policy\":" + JsonString(ts.policy);
  out += ",\"indication\":{\"main\":" + JsonString(ts.indication.main) +
         ",\"sub\":" + JsonString(ts.indication.sub) +
         ",\"model\":" + JsonString(ts.indication.model) + "}";
  const report::RevocationReport& r = ts.revocation;
  out += ",\"revocation\":{\"status\":" + JsonString(report::RevocationStatusName(r.status)) +
         ",\"certificate\":" + JsonString(r.certificate) + ",\"time\":" + JsonString(r.time) +
         ",\"reason\":" + JsonString(r.reason) + ",\"decidedBy\":" + JsonString(r.decided_by) +
         ",\"foundIn\":" + JsonString(r.decided_where) +
         ",\"issued\":" + JsonString(r.decided_issued) + ",\"ignored\":[";
  for (size_t i = 0; i < r.ignored.size(); ++i) {
    out += std::string(i > 0 ? "," : "") + "{\"kind\":" + JsonString(r.ignored[i].kind) +
           ",\"foundIn\":" + JsonString(r.ignored[i].where) +
           ",\"why\":" + JsonString(r.ignored[i].why) + "}";
  }
  out += "]}";
  out += ",\"poe\":" + JsonString(ts.poe_time);
  out += ",\"protectedBy\":" + JsonString(ts.protected_by);
  return out + "}";
}

std::string RevocationText(const report::RevocationReport& r) {
  std::string out = report::RevocationStatusName(r.status);
  if (out.empty()) return "not checked";
  if (r.status == report::RevocationStatus::kRevoked) {
    out += " at " + r.time + (r.reason.empty() ? "" : " (" + r.reason + ")") +
           (r.revoked_before_gen_time ? ", before genTime" : ", after genTime");
  }
  if (!r.certificate.empty() && r.status != report::RevocationStatus::kGood) {
    out += ", " + r.certificate;
  }
  if (!r.decided_by.empty()) {
    out += "; " + r.decided_by + " of " + r.decided_issued + " from " + r.decided_where;
  }
  for (const report::IgnoredRevocationItem& item : r.ignored) {
    out += "; ignored a " + item.kind + " from " + item.where + ": " + item.why;
  }
  return out;
}

std::string CoverageText(const report::TimeStampReport& ts) {
  if (!ts.byte_range_valid) return "the /ByteRange does not name bytes of the file";
  std::string out = ts.covers_whole_file       ? "whole file"
                    : ts.covers_whole_revision ? "whole revision " + std::to_string(ts.revision)
                                               : "part of the file only";
  out += ts.gap_is_contents ? "; the gap is exactly /Contents" : "; the gap is NOT only /Contents";
  out += "; /ByteRange [";
  for (size_t i = 0; i < ts.byte_range.size(); ++i) {
    out += (i > 0 ? " " : "") + std::to_string(ts.byte_range[i]);
  }
  return out + "]";
}

}  // namespace

bool AllResult::Verified() const {
  if (!opened || report.timestamps.empty()) return false;
  for (const report::TimeStampReport& ts : report.timestamps) {
    if (!ts.Verified()) return false;
  }
  return true;
}

int AllResult::ExitStatus() const {
  if (!opened || report.timestamps.empty()) return kExitNotVerified;
  int status = kExitVerified;
  for (const report::TimeStampReport& ts : report.timestamps) {
    if (ts.indication.main == "FAILED") return kExitNotVerified;
    if (ts.indication.main != "PASSED") status = kExitIndeterminate;
  }
  return status;
}

int WorseExitStatus(int a, int b) {
  const auto rank = [](int status) {
    return status == kExitNotVerified ? 2 : status == kExitIndeterminate ? 1 : 0;
  };
  return rank(a) >= rank(b) ? a : b;
}

std::string FormatAllJson(const std::string& path, const AllResult& result) {
  std::string out = "{\"file\":" + JsonString(path);
  out += ",\"verified\":" + JsonBool(result.Verified());
  out += ",\"error\":" + JsonString(result.report.error);
  out += ",\"library\":{\"code\":" + std::to_string(result.library_code) +
         ",\"result\":" + JsonString(ResultName(result.library_code)) + "}";
  out += ",\"revisions\":" + std::to_string(result.report.revisions);
  out += ",\"repaired\":" + JsonBool(result.report.recovered);
  out += ",\"structureParsed\":" + JsonBool(result.report.structure_parsed);
  out += ",\"structureProblem\":" + JsonString(result.report.structure_problem);
  out += ",\"existenceProvenAt\":" + JsonString(result.report.existence_proven_at);
  out += ",\"renewBy\":" + JsonString(result.report.renew_by);
  out += ",\"renewOverdue\":" + JsonBool(result.report.renew_overdue);
  out += ",\"timestamps\":[";
  for (size_t i = 0; i < result.report.timestamps.size(); ++i) {
    if (i > 0) out += ",";
    out += TimeStampJson(result.report.timestamps[i]);
  }
  return out + "]}";
}

std::string FormatAllText(const std::string& path, const AllResult& result) {
  const report::DocumentReport& doc = result.report;
  std::string out = path + ": ";
  if (!result.opened) {
    out += "ERROR " + doc.error + "\n";
  } else if (doc.timestamps.empty()) {
    out += "no time-stamp found";
  } else {
    out += result.Verified() ? "VERIFIED" : "NOT VERIFIED";
    out += ", " + std::to_string(doc.timestamps.size()) + " time-stamp(s)";
  }
  if (result.opened) {
    out += ", " + std::to_string(doc.revisions) + " revision(s); library verdict " +
           std::to_string(result.library_code) + " " + ResultName(result.library_code) + "\n";
    if (!doc.structure_parsed) {
      out += "  structure not parsed (" + doc.structure_problem +
             "): signatures read from the raw bytes, later changes unknown\n";
    }
    if (!doc.timestamps.empty()) {
      out += "  existence proven at: " +
             (doc.existence_proven_at.empty() ? "not proven" : doc.existence_proven_at) +
             "; renew by: " + (doc.renew_by.empty() ? "unknown" : doc.renew_by) +
             (doc.renew_overdue ? " (PAST)" : "") + "\n";
    }
  }
  int number = 0;
  for (const report::TimeStampReport& ts : doc.timestamps) {
    using report::VerdictName;
    out += "  [" + std::to_string(++number) + "] " + report::KindName(ts.kind) +
           " time-stamp, field \"" + ts.field_name +
           "\": " + (ts.Verified() ? "verified" : "NOT verified: " + ts.problem) + "\n";
    out += "      revision:   " + std::to_string(ts.revision) + " of " +
           std::to_string(doc.revisions) + ", " + std::to_string(ts.later_revisions) + " later (" +
           report::LaterChangesName(ts.later_changes);
    if (!ts.later_other_objects.empty()) {
      out += ": changed objects";
      for (const int64_t object : ts.later_other_objects) out += " " + std::to_string(object);
    }
    out += ")\n";
    out += "      coverage:   " + CoverageText(ts) + "\n";
    out += "      imprint:    " + std::string(VerdictName(ts.imprint)) + " (" +
           ts.imprint_algorithm + (ts.weak_algorithm ? ", WEAK" : "") + ", " + ts.encoding +
           " token)\n";
    out += "      signature:  " + std::string(VerdictName(ts.signature)) + ", ESS binding " +
           VerdictName(ts.signing_certificate) + ", timeStamping EKU " +
           VerdictName(ts.time_stamping_usage) + "\n";
    out += "      chain:      " + std::string(VerdictName(ts.chain));
    if (ts.chain == report::Verdict::kPass) {
      out += std::string(" (") + report::TrustSourceName(ts.trusted_by) +
             (ts.expired_since ? ", valid at genTime, expired since" : "") + ")";
    }
    out += "\n      genTime:    " + ts.gen_time + "\n";
    out += "      TSA:        " + ts.tsa_subject + "\n";
    out += "      serial:     " + ts.serial + ", policy " + ts.policy + "\n";
    out += "      indication: " + ts.indication.main +
           (ts.indication.sub.empty() ? "" : "/" + ts.indication.sub) + " (" + ts.indication.model +
           ")\n";
    out += "      revocation: " + RevocationText(ts.revocation) + "\n";
    out += "      protected:  " +
           (ts.protected_by.empty() ? std::string("by no later document time-stamp")
                                    : "by \"" + ts.protected_by + "\", existed at " + ts.poe_time) +
           "\n";
  }
  return out;
}

}  // namespace cli
}  // namespace vrd
