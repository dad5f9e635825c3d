#include "report/Budget.h"

#include <cmath>
#include <cstdio>

namespace vrd::report {
namespace {

thread_local DocumentBudget* active_budget = nullptr;

// Parsing bytes between two looks at the clock.
constexpr uint64_t kClockEvery = uint64_t{1} << 20;

std::chrono::steady_clock::duration SecondsToDuration(double seconds) {
  // Beyond a year is as good as no limit, and stays clear of overflow.
  const double clamped = std::isfinite(seconds) ? std::fmin(std::fmax(seconds, 0.0), 3.2e7) : 3.2e7;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(clamped));
}

}  // namespace

DocumentBudget::DocumentBudget(const ResourceLimits& limits, int64_t document_size)
    : limits_(limits),
      parsing_limit_(kParsingPerDocumentByte *
                         static_cast<uint64_t>(document_size > 0 ? document_size : 0) +
                     kParsingAllowance),
      inflate_document_limit_(limits.max_inflate > UINT64_MAX / kInflatePerDocumentFactor
                                  ? UINT64_MAX
                                  : limits.max_inflate * kInflatePerDocumentFactor),
      deadline_(std::chrono::steady_clock::now() + SecondsToDuration(limits.max_seconds)) {}

bool DocumentBudget::Exhaust(LimitHit hit) noexcept {
  if (hit_ == LimitHit::kNone) hit_ = hit;
  return false;
}

bool DocumentBudget::ChargeInflate(uint64_t bytes, uint64_t* stream_total) {
  if (exhausted()) return false;
  *stream_total += bytes;
  inflated_ += bytes;
  if (*stream_total > limits_.max_inflate) return Exhaust(LimitHit::kInflateStream);
  if (inflated_ > inflate_document_limit_) return Exhaust(LimitHit::kInflateDocument);
  return Tick(bytes);
}

bool DocumentBudget::ChargeParsing(uint64_t bytes) {
  if (exhausted()) return false;
  parsed_ += bytes;
  if (parsed_ > parsing_limit_) return Exhaust(LimitHit::kParsing);
  return Tick(bytes);
}

bool DocumentBudget::Tick(uint64_t bytes) {
  since_clock_ += bytes;
  if (since_clock_ < kClockEvery) return true;
  since_clock_ = 0;
  return InTime();
}

bool DocumentBudget::InTime() {
  if (exhausted()) return false;
  if (std::chrono::steady_clock::now() > deadline_) return Exhaust(LimitHit::kTime);
  return true;
}

std::string DocumentBudget::Describe() const {
  const std::string prefix = "resource limit reached: ";
  switch (hit_) {
    case LimitHit::kInflateStream:
      return prefix + "a stream inflates to more than " + std::to_string(limits_.max_inflate) +
             " bytes (--max-inflate)";
    case LimitHit::kInflateDocument:
      return prefix + "the document's streams inflate to more than " +
             std::to_string(inflate_document_limit_) + " bytes (4 times --max-inflate)";
    case LimitHit::kParsing:
      return prefix + "parsing the document reads more than " + std::to_string(parsing_limit_) +
             " bytes (" + std::to_string(kParsingPerDocumentByte) + " times its size, plus " +
             std::to_string(kParsingAllowance >> 20) + " MiB)";
    case LimitHit::kTime: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", limits_.max_seconds);
      return prefix + "the report takes longer than " + seconds + " seconds (--max-seconds)";
    }
    default:
      return std::string();
  }
}

DocumentBudget* ActiveBudget() noexcept { return active_budget; }

BudgetScope::BudgetScope(DocumentBudget* budget) noexcept : previous_(active_budget) {
  active_budget = budget;
}

BudgetScope::~BudgetScope() { active_budget = previous_; }

}  // namespace vrd::report
