// FakeToolkit: a scripted stand-in for the crypto toolkit, for tests of code
// that drives the sixteen QVTK_ operations (toolkit/qvtk.h).
//
// Link a test against the static library vrd_fake_toolkit instead of the real
// toolkit: it defines every QVTK_ symbol. The fake is process-wide state (the
// operations are free C functions); tests reach it through FakeToolkit::Get()
// and normally hold a ScopedFakeToolkit, which resets the script and the
// record on entry and on exit.
//
// Behaviour of every operation:
//  - The scripted return value is looked up first: SetResultAt(op, n, v) for
//    the n-th call (0-based, counted per operation), else SetResult(op, v),
//    else 0. A non-zero value is returned at once and the operation does
//    nothing else (its outputs are untouched).
//  - With 0 the operation does a plausible job: binary strings really hold
//    copies of bytes (owned by the fake, released by QVTK_BINSTR_Delete or by
//    Reset), QVTK_BASE64_Decode really decodes (1101 on bad input),
//    QVTK_TSP_GetTokenInfo writes the texts and certificate bytes set with
//    SetTokenInfo (1302 when a text does not fit), QVTK_CERT_GetSubjectName
//    writes the text set with SetSubjectName, QVTK_CMS_ProcessSignedData
//    copies its input to the content output and sets the type to 1.
//  - Every call is recorded (Call below), including the scripted ones.
//  - Lifecycle faults are collected in Problems(): a binary string created
//    twice without a delete in between, deleted without being created, used
//    (as input or output) while not created; QVTK_API_Finish without a
//    successful QVTK_API_Init or on another handle; a second Init while a
//    context is open; operations on a handle that is not the open context.
//    CheckBalance() adds the strings and the context still open.
#ifndef VRD_TESTS_SUPPORT_FAKETOOLKIT_H_
#define VRD_TESTS_SUPPORT_FAKETOOLKIT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/qvtk.h"

namespace vrd::testing {

enum class QvtkOp : int {
  kApiInit,
  kApiFinish,
  kApiGetErrInfo,
  kBinstrCreate,
  kBinstrSetData,
  kBinstrDelete,
  kBase64Decode,
  kCmsProcessSignedData,
  kTspGetTokenInfo,
  kCertLoad,
  kCertGetSubjectName,
  kCertUnload,
  kCertAddTrustedCert,
  kCertSetCaPubs,
  kCertSetVerifyEnv1,
  kCertVerify,
};
constexpr int kQvtkOpCount = 16;

// The exported name of the operation, e.g. "QVTK_CERT_Verify".
const char* QvtkOpName(QvtkOp op);

// One recorded call. Fields that an operation does not have stay at their
// defaults (null, 0, empty).
struct Call {
  QvtkOp op = QvtkOp::kApiInit;
  size_t index = 0;                  // n-th call of this operation, from 0
  QVTK_CTX ctx = nullptr;            // the handle passed (Init/Finish: *ctx before the call)
  const QVTK_BINSTR* in = nullptr;   // input string: SetData/Delete/Create target, Decode
                                     // input, token, certificate, CA set
  const QVTK_BINSTR* out = nullptr;  // output string: Decode output, content, certificate
  std::string bytes;                 // bytes of the input (SetData: the bytes passed)
  int64_t args[4] = {0, 0, 0, 0};    // integers in argument order: flags, capacity,
                                     // length, mode, option, flag, reserved...
  const void* ptrs[2] = {nullptr, nullptr};  // Verify's two reserved pointers
  int result = 0;                            // what the call returned
};

class FakeToolkit {
 public:
  static FakeToolkit& Get();

  // Forgets the script, the record and the problems; frees the bytes of
  // strings still alive (so a faulty test does not also leak).
  void Reset();

  void SetResult(QvtkOp op, int value);
  void SetResultAt(QvtkOp op, size_t call_index, int value);
  // Texts 1..6 in QVTK_TSP_GetTokenInfo order, and the certificate bytes.
  void SetTokenInfo(const std::array<std::string, 6>& texts, const std::string& cert);
  void SetSubjectName(const std::string& name);

  std::vector<Call> Calls() const;
  std::vector<QvtkOp> Sequence() const;  // the operations in call order
  // Sequence without the binary-string bookkeeping (Create, SetData, Delete).
  std::vector<QvtkOp> ToolkitSequence() const;
  size_t Count(QvtkOp op) const;
  // Calls of one operation, in order.
  std::vector<Call> CallsOf(QvtkOp op) const;

  // Lifecycle faults seen so far (see above); empty when none.
  std::vector<std::string> Problems() const;
  // Problems() plus strings never deleted and a context never finished.
  std::vector<std::string> CheckBalance() const;
  size_t LiveStrings() const;
  bool ContextOpen() const;

  // Used by the QVTK_ definitions; not for tests.
  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  FakeToolkit();
  Impl* impl_;
};

// Resets the fake on construction and destruction.
class ScopedFakeToolkit {
 public:
  ScopedFakeToolkit() { FakeToolkit::Get().Reset(); }
  ~ScopedFakeToolkit() { FakeToolkit::Get().Reset(); }
  ScopedFakeToolkit(const ScopedFakeToolkit&) = delete;
  ScopedFakeToolkit& operator=(const ScopedFakeToolkit&) = delete;
  FakeToolkit* operator->() { return &FakeToolkit::Get(); }
  FakeToolkit& operator*() { return FakeToolkit::Get(); }
};

}  // namespace vrd::testing

#endif  // VRD_TESTS_SUPPORT_FAKETOOLKIT_H_
