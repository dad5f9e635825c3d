#include "report/LongTerm.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <utility>

#include "report/TokenReport.h"

namespace vrd::report {
namespace {

bool NeedsProofBeforeRevocation(const std::string& reason, ValidationModel model) {
  if (model == ValidationModel::kStrict) return true;
  return reason.empty() || reason == "unspecified" || reason == "keyCompromise" ||
         reason == "cACompromise" || reason == "aACompromise";
}

std::pair<const char*, const char*> Judge(const TimeStampReport& ts, int64_t poe,
                                          ValidationModel model, int64_t now) {
  if (ts.encoding.empty()) return {"INDETERMINATE", "FORMAT_FAILURE"};
  if (ts.imprint == Verdict::kFail) return {"FAILED", "HASH_FAILURE"};
  if (ts.imprint != Verdict::kPass) return {"INDETERMINATE", "FORMAT_FAILURE"};
  if (ts.signature != Verdict::kPass || ts.signing_certificate != Verdict::kPass) {
    return {"FAILED", "SIG_CRYPTO_FAILURE"};
  }
  if (ts.chain != Verdict::kPass) return {"INDETERMINATE", "NO_CERTIFICATE_CHAIN_FOUND"};
  if (ts.weak_algorithm) return {"INDETERMINATE", "CRYPTO_CONSTRAINTS_FAILURE_NO_POE"};
  const RevocationReport& revocation = ts.revocation;
  if (revocation.status == RevocationStatus::kRevoked) {
    if (revocation.revoked_before_gen_time) return {"FAILED", "REVOKED"};
    if (NeedsProofBeforeRevocation(revocation.reason, model) &&
        (poe == 0 || poe >= revocation.revoked_seconds)) {
      return {"INDETERMINATE", "REVOKED_NO_POE"};
    }
  }
  if (model == ValidationModel::kStrict && ts.tsa_not_after != 0 && ts.tsa_not_after < now &&
      (poe == 0 || poe >= ts.tsa_not_after)) {
    return {"INDETERMINATE", "OUT_OF_BOUNDS_NO_POE"};
  }
  if (revocation.status == RevocationStatus::kStale && revocation.only_after_expiry) {
    return {"INDETERMINATE", "REVOCATION_OUT_OF_BOUNDS_NO_POE"};
  }
  if (revocation.status != RevocationStatus::kGood &&
      revocation.status != RevocationStatus::kRevoked) {
    return {"INDETERMINATE", "TRY_LATER"};
  }
  return {"PASSED", ""};
}

}  // namespace

void JudgeLongTerm(const ValidationSettings& settings, DocumentReport* report) {
  const int64_t now = settings.at != 0 ? settings.at : static_cast<int64_t>(std::time(nullptr));
  std::vector<TimeStampReport>& stamps = report->timestamps;
  for (TimeStampReport& ts : stamps) {
    const TimeStampReport* earliest = nullptr;
    for (const TimeStampReport& later : stamps) {
      if (later.kind != TimeStampKind::kDocument || !later.Verified() || ts.revision < 1 ||
          later.revision <= ts.revision || later.gen_seconds == 0 || later.gen_seconds > now) {
        continue;
      }
      if (earliest == nullptr || later.gen_seconds < earliest->gen_seconds) earliest = &later;
    }
    ts.protected_by = earliest != nullptr ? earliest->field_name : "";
    ts.poe_time = earliest != nullptr ? earliest->gen_time : "";
    const auto [main, sub] =
        Judge(ts, earliest != nullptr ? earliest->gen_seconds : 0, settings.model, now);
    ts.indication = Indication{main, sub, ValidationModelName(settings.model)};
  }
  const TimeStampReport* proving = nullptr;
  const TimeStampReport* newest = nullptr;
  for (const TimeStampReport& ts : stamps) {
    if (ts.indication.main != "PASSED") continue;
    if (ts.kind == TimeStampKind::kDocument &&
        (ts.later_changes == LaterChanges::kNone ||
         ts.later_changes == LaterChanges::kDssAndSignatures) &&
        (proving == nullptr || ts.gen_seconds < proving->gen_seconds)) {
      proving = &ts;
    }
    if (newest == nullptr || ts.gen_seconds > newest->gen_seconds) newest = &ts;
  }
  report->existence_proven_at = proving != nullptr ? proving->gen_time : "";
  report->renew_by.clear();
  report->renew_overdue = false;
  if (newest != nullptr && newest->tsa_not_after != 0) {
    int64_t renew = newest->tsa_not_after;
    if (newest->tsa_key_rsa && newest->tsa_key_bits < kShortRsaBits) {
      renew = std::min(renew, kShortRsaSunset);
    }
    if (newest->revocation.status == RevocationStatus::kRevoked) {
      renew = std::min(renew, newest->revocation.revoked_seconds);
    }
    report->renew_by = TimeText(renew);
    report->renew_overdue = renew < now;
  }
}

}  // namespace vrd::report
