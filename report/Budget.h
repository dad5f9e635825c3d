// The resource budget of one document's report: the bytes decoders may
// inflate (from one stream, and from all streams of the document), the
// parsing work qpdf may do (every byte it reads or scans through the report's
// input source counts, as often as it reads it), and the wall-clock time.
// Once any limit is met the budget is exhausted for good: the input source
// then reads as the end of the document and every decoder stops, so qpdf's
// loops (recovery among them) end at once, and the report names the limit.
//
// The budget of the report running on a thread is that thread's active
// budget (BudgetScope) for as long as the report runs, so that the stream
// decoders qpdf creates deep inside its own calls (report/Decoders.h) find
// it. A DocumentBudget belongs to one report on one thread.
#ifndef VRD_REPORT_BUDGET_H_
#define VRD_REPORT_BUDGET_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "report/ReportTypes.h"

namespace vrd::report {

// Parsing work allowed: this many times the document's size, plus
// kParsingAllowance. Opening a document reads its cross-reference data and
// the objects used about once; each earlier revision opened reads its own.
constexpr uint64_t kParsingPerDocumentByte = 32;
constexpr uint64_t kParsingAllowance = uint64_t{64} << 20;
// All streams of a document together may inflate this many times max_inflate.
constexpr uint64_t kInflatePerDocumentFactor = 4;

enum class LimitHit { kNone, kInflateStream, kInflateDocument, kParsing, kTime };

class DocumentBudget {
 public:
  DocumentBudget(const ResourceLimits& limits, int64_t document_size);

  // Charges bytes one stream's decoder produced; *stream_total is that
  // stream's running count. False once a limit is met (now or before).
  [[nodiscard]] bool ChargeInflate(uint64_t bytes, uint64_t* stream_total);
  // Charges bytes qpdf read or scanned; the clock is looked at every so
  // often. False once a limit is met.
  [[nodiscard]] bool ChargeParsing(uint64_t bytes);
  // False once a limit is met, the time limit included (looked at now).
  [[nodiscard]] bool InTime();

  [[nodiscard]] bool exhausted() const noexcept { return hit_ != LimitHit::kNone; }
  [[nodiscard]] LimitHit hit() const noexcept { return hit_; }
  // What was met, for the report's error: "resource limit reached: ...".
  [[nodiscard]] std::string Describe() const;

 private:
  bool Exhaust(LimitHit hit) noexcept;
  bool Tick(uint64_t bytes);

  ResourceLimits limits_;
  uint64_t parsing_limit_;
  uint64_t inflate_document_limit_;
  std::chrono::steady_clock::time_point deadline_;
  uint64_t parsed_ = 0;
  uint64_t inflated_ = 0;
  uint64_t since_clock_ = 0;  // work since the clock was last looked at
  LimitHit hit_ = LimitHit::kNone;
};

// The active budget of the calling thread, or null.
[[nodiscard]] DocumentBudget* ActiveBudget() noexcept;

// Makes budget the calling thread's active budget until destroyed.
class BudgetScope {
 public:
  explicit BudgetScope(DocumentBudget* budget) noexcept;
  ~BudgetScope();
  BudgetScope(const BudgetScope&) = delete;
  BudgetScope& operator=(const BudgetScope&) = delete;

 private:
  DocumentBudget* previous_;
};

}  // namespace vrd::report

#endif  // VRD_REPORT_BUDGET_H_
