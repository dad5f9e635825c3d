// The decoders qpdf uses in this process for the filters that can expand
// data many times over (FlateDecode, LZWDecode, RunLengthDecode): ours, not
// qpdf's own, so that every byte they produce is charged to the calling
// thread's document budget (report/Budget.h) and decoding stops at its
// limits, whichever stream qpdf decodes (cross-reference streams, object
// streams, the certificates the report reads). They accept the same
// /DecodeParms as qpdf's (PNG and TIFF predictors, /EarlyChange) and give
// the same bytes. Without an active budget, a stream may still produce at
// most ResourceLimits' default max_inflate bytes.
//
// InstallBudgetedDecoders registers them with qpdf once per process (qpdf's
// filter registry is process-wide); the report calls it before it opens a
// document. Safe to call from several threads.
#ifndef VRD_REPORT_DECODERS_H_
#define VRD_REPORT_DECODERS_H_

namespace vrd::report {

void InstallBudgetedDecoders();

}  // namespace vrd::report

#endif  // VRD_REPORT_DECODERS_H_
