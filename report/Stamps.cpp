#include "report/Stamps.h"

#include <algorithm>
#include <utility>

#include "report/Coverage.h"
#include "report/PdfBytes.h"

namespace vrd::report {
namespace {

// Bytes hashed per document at most: kHashBudgetFiles times its size, and
// never less than kMinHashBudget (a long-term archive re-stamps a document
// every few years, each document time-stamp covering nearly all of it).
constexpr uint64_t kHashBudgetFiles = 16;
constexpr uint64_t kMinHashBudget = uint64_t{256} << 20;

// The name the toolkit gives the digest of the dotted OID ("SHA256").
std::string NameOfDigest(const std::string& algorithm_oid) {
  bool weak = false;
  return AlgorithmName(algorithm_oid, &weak);
}

}  // namespace

StampChecker::StampChecker(DocumentInput* input, const std::vector<RevisionEnd>& ends,
                           const TrustSources& trust, DocumentCertificates& carried,
                           const ComputedDigest* known)
    : input_(input),
      ends_(ends),
      hash_budget_(std::max<uint64_t>(kMinHashBudget,
                                      kHashBudgetFiles * static_cast<uint64_t>(input->size()))),
      trust_(trust),
      carried_(carried),
      known_(known) {}

void StampChecker::Report(SignatureEntry signature, std::vector<TimeStampReport>* out) {
  TimeStampReport base;
  base.field_name = std::move(signature.field_name);
  base.sub_filter = signature.sub_filter;
  base.byte_range = std::move(signature.byte_range);
  ByteRanges ranges;
  std::string gap;
  JudgeCoverage(input_, ends_, &base, &ranges, &gap,
                ContentsSpan{signature.contents_begin, signature.contents_end});
  // The token: the gap's hex string when the gap is one (already decoded
  // when the gap is the /Contents string read from the raw bytes), else the
  // parsed /Contents string.
  const std::string contents =
      base.gap_is_contents && !gap.empty()
          ? DecodeHexStringBody(reinterpret_cast<const unsigned char*>(gap.data()) + 1,
                                gap.size() - 2)
          : std::move(signature.contents);
  gap.clear();
  const bool is_document = signature.type == "DocTimeStamp" || base.sub_filter == "ETSI.RFC3161";
  const auto* bytes = reinterpret_cast<const unsigned char*>(contents.data());
  if (is_document) {
    TimeStampReport ts = base;
    ts.kind = TimeStampKind::kDocument;
    ImprintRequest request;
    if (CheckToken(bytes, contents.size(), trust_, &ts, &request, &carried_)) {
      if (ts.byte_range_valid) {
        CompareImprint(request, ranges, &ts);
      } else {
        ts.imprint = Verdict::kFail;
        ts.problem = "the /ByteRange does not name bytes of the file";
      }
    }
    out->push_back(std::move(ts));
    return;
  }
  std::vector<std::string> archived;
  const std::vector<SignatureStamp> stamps =
      FindSignatureTimeStamps(bytes, contents.size(), &archived);
  for (const std::string& item : archived) carried_.revocation().Add(item, "signature");
  for (const SignatureStamp& stamp : stamps) {
    if (out->size() >= kMaxTimeStamps) return;
    TimeStampReport ts = base;
    ts.kind = TimeStampKind::kSignature;
    ImprintRequest request;
    const auto* token = reinterpret_cast<const unsigned char*>(stamp.token.data());
    if (CheckToken(token, stamp.token.size(), trust_, &ts, &request, &carried_)) {
      const std::string problem = ts.problem;
      ts.problem.clear();
      CompareImprintOver(stamp.signature_value, request, &ts);
      if (ts.problem.empty()) ts.problem = problem;
    }
    out->push_back(std::move(ts));
  }
}

// Digests ranges once per distinct range list and algorithm, within the
// budget: a document of many signatures over distinct long ranges gets
// "not checked" for the ones beyond it rather than unbounded work.
void StampChecker::CompareImprint(const ImprintRequest& request, const ByteRanges& ranges,
                                  TimeStampReport* ts) {
  DigestKey key(request.algorithm_oid, ranges);
  auto found = cache_.find(key);
  if (found == cache_.end() && known_ != nullptr && known_->valid &&
      NameOfDigest(request.algorithm_oid) == known_->algorithm &&
      MergedRanges(ranges) == known_->ranges) {
    found = cache_.emplace(std::move(key), known_->digest).first;  // the library's, same bytes
  }
  if (found == cache_.end()) {
    uint64_t bytes = 0;
    for (const auto& range : ranges) bytes += static_cast<uint64_t>(range.second);
    if (bytes > hash_budget_) {
      ts->imprint = Verdict::kNotChecked;
      ts->problem = "not checked: the document asks for too many digests";
      return;
    }
    hash_budget_ -= bytes;
    std::vector<unsigned char> digest;
    if (!DigestRanges(request.algorithm_oid, *input_, ranges, &digest)) digest.clear();
    found = cache_.emplace(std::move(key), std::move(digest)).first;
  }
  if (found->second.empty()) {
    ts->imprint = Verdict::kFail;
    if (ts->problem.empty()) ts->problem = "unknown imprint algorithm " + request.algorithm_oid;
    return;
  }
  ts->computed_hex = HexLower(found->second.data(), found->second.size());
  ts->imprint = found->second == request.expected ? Verdict::kPass : Verdict::kFail;
  if (ts->imprint == Verdict::kFail) {
    ts->problem = "the covered bytes differ from the time-stamped ones (imprint mismatch)";
  }
}

// The signature's own bytes as a second "document" to digest.
void StampChecker::CompareImprintOver(const std::string& bytes, const ImprintRequest& request,
                                      TimeStampReport* ts) {
  std::vector<unsigned char> digest;
  if (!DigestRanges(request.algorithm_oid, reinterpret_cast<const unsigned char*>(bytes.data()),
                    ByteRanges{{0, static_cast<int64_t>(bytes.size())}}, &digest)) {
    ts->imprint = Verdict::kFail;
    if (ts->problem.empty()) ts->problem = "unknown imprint algorithm " + request.algorithm_oid;
    return;
  }
  ts->computed_hex = HexLower(digest.data(), digest.size());
  ts->imprint = digest == request.expected ? Verdict::kPass : Verdict::kFail;
  if (ts->imprint == Verdict::kFail) {
    ts->problem = "the imprint does not match the signature value it stamps";
  }
}

}  // namespace vrd::report
