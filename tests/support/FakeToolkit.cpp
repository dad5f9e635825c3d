#include "tests/support/FakeToolkit.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace vrd::testing {

struct FakeToolkit::Impl {
  mutable std::mutex mutex;
  std::map<QvtkOp, int> result_all;
  std::map<std::pair<QvtkOp, size_t>, int> result_at;
  std::array<std::string, 6> texts;
  std::string cert;
  std::string subject;

  std::vector<Call> calls;
  std::array<size_t, kQvtkOpCount> counts{};
  std::vector<std::string> problems;
  // Caller storage addresses of strings created and not yet deleted, with the
  // block the fake allocated for each (null when empty).
  std::map<const QVTK_BINSTR*, unsigned char*> live;
  bool context_open = false;
  int context_tag = 0;  // its address is the handle

  QVTK_CTX Handle() { return &context_tag; }
};

namespace {

const char* const kNames[kQvtkOpCount] = {
    "QVTK_API_Init",
    "QVTK_API_Finish",
    "QVTK_API_GetErrInfo",
    "QVTK_BINSTR_Create",
    "QVTK_BINSTR_SetData",
    "QVTK_BINSTR_Delete",
    "QVTK_BASE64_Decode",
    "QVTK_CMS_ProcessSignedData",
    "QVTK_TSP_GetTokenInfo",
    "QVTK_CERT_Load",
    "QVTK_CERT_GetSubjectName",
    "QVTK_CERT_Unload",
    "QVTK_CERT_AddTrustedCert",
    "QVTK_CERT_SetCaPubs",
    "QVTK_CERT_SetVerifyEnv1",
    "QVTK_CERT_Verify",
};

std::string Describe(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}

std::string BytesOf(const QVTK_BINSTR* s) {
  if (s == nullptr || s->data == nullptr || s->length <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(s->data), static_cast<size_t>(s->length));
}

int DecodeBase64(const std::string& in, std::string* out) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (in.size() % 4 != 0) return QVTK_ERR_BASE64;
  out->clear();
  for (size_t i = 0; i < in.size(); i += 4) {
    const bool last = i + 4 == in.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = in[i + static_cast<size_t>(k)];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad != 0) return QVTK_ERR_BASE64;
      v[k] = value(c);
      if (v[k] < 0) return QVTK_ERR_BASE64;
    }
    const uint32_t n = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                       (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
    out->push_back(static_cast<char>((n >> 16) & 0xFF));
    if (pad < 2) out->push_back(static_cast<char>((n >> 8) & 0xFF));
    if (pad < 1) out->push_back(static_cast<char>(n & 0xFF));
  }
  return QVTK_OK;
}

// One call in progress: looks up the scripted value and records the call.
class Recorder {
 public:
  Recorder(QvtkOp op, QVTK_CTX ctx) : impl_(FakeToolkit::Get().impl()), lock_(impl_.mutex) {
    call_.op = op;
    call_.ctx = ctx;
    const size_t n = impl_.counts[static_cast<size_t>(op)]++;
    call_.index = n;
    auto at = impl_.result_at.find({op, n});
    if (at != impl_.result_at.end()) {
      scripted_ = at->second;
    } else {
      auto all = impl_.result_all.find(op);
      if (all != impl_.result_all.end()) scripted_ = all->second;
    }
  }
  ~Recorder() { impl_.calls.push_back(call_); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  Call& call() { return call_; }
  FakeToolkit::Impl& impl() { return impl_; }
  int scripted() const { return scripted_; }
  int Return(int value) {
    call_.result = value;
    return value;
  }

  void Problem(const std::string& what) {
    impl_.problems.push_back(std::string(kNames[static_cast<int>(call_.op)]) + " #" +
                             std::to_string(call_.index) + ": " + what);
  }
  void CheckContext() {
    if (!impl_.context_open || call_.ctx != impl_.Handle()) {
      Problem("called with handle " + Describe(call_.ctx) + " that is not the open context");
    }
  }
  // A string used as input or output must have been created.
  void CheckLive(const QVTK_BINSTR* s, const char* role) {
    if (s == nullptr) return;
    if (impl_.live.find(s) == impl_.live.end()) {
      Problem(std::string(role) + " string " + Describe(s) + " used while not created");
    }
  }
  // Replaces the bytes of a live string with a copy of bytes.
  int Store(QVTK_BINSTR* s, const std::string& bytes) {
    unsigned char* block = nullptr;
    if (!bytes.empty()) {
      block = new unsigned char[bytes.size()];
      std::memcpy(block, bytes.data(), bytes.size());
    }
    auto it = impl_.live.find(s);
    if (it != impl_.live.end()) {
      delete[] it->second;
      it->second = block;
    } else {
      // Not created: keep ownership anyway so nothing leaks.
      impl_.live.emplace(s, block);
    }
    s->data = block;
    s->length = static_cast<int32_t>(bytes.size());
    return QVTK_OK;
  }

 private:
  FakeToolkit::Impl& impl_;
  std::lock_guard<std::mutex> lock_;
  Call call_;
  int scripted_ = 0;
};

int WriteText(const std::string& text, int32_t capacity, char* buffer) {
  if (buffer == nullptr || capacity <= 0) return QVTK_ERR_INVALID_ARGUMENT;
  if (text.size() + 1 > static_cast<size_t>(capacity)) return QVTK_ERR_TEXT_TOO_LONG;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return QVTK_OK;
}

}  // namespace

const char* QvtkOpName(QvtkOp op) {
  const int i = static_cast<int>(op);
  return i >= 0 && i < kQvtkOpCount ? kNames[i] : "?";
}

FakeToolkit::FakeToolkit() : impl_(new Impl) {}

FakeToolkit& FakeToolkit::Get() {
  static FakeToolkit* instance = new FakeToolkit;  // never destroyed: outlives every test
  return *instance;
}

void FakeToolkit::Reset() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (auto& entry : impl_->live) delete[] entry.second;
  impl_->live.clear();
  impl_->result_all.clear();
  impl_->result_at.clear();
  impl_->texts = {};
  impl_->cert.clear();
  impl_->subject.clear();
  impl_->calls.clear();
  impl_->counts = {};
  impl_->problems.clear();
  impl_->context_open = false;
}

void FakeToolkit::SetResult(QvtkOp op, int value) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->result_all[op] = value;
}

void FakeToolkit::SetResultAt(QvtkOp op, size_t call_index, int value) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->result_at[{op, call_index}] = value;
}

void FakeToolkit::SetTokenInfo(const std::array<std::string, 6>& texts, const std::string& cert) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->texts = texts;
  impl_->cert = cert;
}

void FakeToolkit::SetSubjectName(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->subject = name;
}

std::vector<Call> FakeToolkit::Calls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->calls;
}

std::vector<QvtkOp> FakeToolkit::Sequence() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<QvtkOp> ops;
  for (const Call& c : impl_->calls) ops.push_back(c.op);
  return ops;
}

std::vector<QvtkOp> FakeToolkit::ToolkitSequence() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<QvtkOp> ops;
  for (const Call& c : impl_->calls) {
    if (c.op != QvtkOp::kBinstrCreate && c.op != QvtkOp::kBinstrSetData &&
        c.op != QvtkOp::kBinstrDelete) {
      ops.push_back(c.op);
    }
  }
  return ops;
}

size_t FakeToolkit::Count(QvtkOp op) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->counts[static_cast<size_t>(op)];
}

std::vector<Call> FakeToolkit::CallsOf(QvtkOp op) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<Call> out;
  for (const Call& c : impl_->calls) {
    if (c.op == op) out.push_back(c);
  }
  return out;
}

std::vector<std::string> FakeToolkit::Problems() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->problems;
}

std::vector<std::string> FakeToolkit::CheckBalance() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<std::string> out = impl_->problems;
  for (const auto& entry : impl_->live) {
    out.push_back("string " + Describe(entry.first) + " never deleted");
  }
  if (impl_->context_open) out.push_back("context never finished");
  return out;
}

size_t FakeToolkit::LiveStrings() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->live.size();
}

bool FakeToolkit::ContextOpen() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->context_open;
}

}  // namespace vrd::testing

using vrd::testing::QvtkOp;
using vrd::testing::Recorder;

extern "C" {

QVTK_EXPORT int QVTK_CALL QVTK_API_Init(QVTK_CTX* ctx, const char* config_dir) {
  Recorder r(QvtkOp::kApiInit, ctx != nullptr ? *ctx : nullptr);
  if (config_dir != nullptr) r.call().bytes = config_dir;
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (ctx == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  if (r.impl().context_open) r.Problem("a context is already open");
  r.impl().context_open = true;
  *ctx = r.impl().Handle();
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_API_Finish(QVTK_CTX* ctx) {
  Recorder r(QvtkOp::kApiFinish, ctx != nullptr ? *ctx : nullptr);
  if (!r.impl().context_open) {
    r.Problem("no successful QVTK_API_Init before");
  } else if (ctx == nullptr || *ctx != r.impl().Handle()) {
    r.Problem("handle is not the open context");
  }
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (ctx == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  if (*ctx == r.impl().Handle()) r.impl().context_open = false;
  *ctx = nullptr;
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_API_GetErrInfo(QVTK_CTX ctx, int32_t capacity, char* buffer) {
  Recorder r(QvtkOp::kApiGetErrInfo, ctx);
  r.call().args[0] = capacity;
  r.CheckContext();
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(vrd::testing::WriteText("fake toolkit", capacity, buffer));
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Create(QVTK_BINSTR* str) {
  Recorder r(QvtkOp::kBinstrCreate, nullptr);
  r.call().in = str;
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (str == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  auto& live = r.impl().live;
  auto it = live.find(str);
  if (it != live.end()) {
    r.Problem("string " + vrd::testing::Describe(str) + " created twice without a delete");
    delete[] it->second;
    live.erase(it);
  }
  live.emplace(str, nullptr);
  str->data = nullptr;
  str->length = 0;
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_SetData(const void* bytes, int32_t length, QVTK_BINSTR* str) {
  Recorder r(QvtkOp::kBinstrSetData, nullptr);
  r.call().in = str;
  r.call().args[0] = length;
  if (bytes != nullptr && length > 0) {
    r.call().bytes.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
  }
  r.CheckLive(str, "target");
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (str == nullptr || length < 0 || (bytes == nullptr && length > 0)) {
    return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  }
  return r.Return(r.Store(str, r.call().bytes));
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Delete(QVTK_BINSTR* str) {
  Recorder r(QvtkOp::kBinstrDelete, nullptr);
  r.call().in = str;
  auto& live = r.impl().live;
  auto it = live.find(str);
  if (it == live.end()) {
    r.Problem("string " + vrd::testing::Describe(str) + " deleted while not created");
  }
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (str == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  if (it != live.end()) {
    delete[] it->second;
    live.erase(it);
  }
  str->data = nullptr;
  str->length = 0;
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_BASE64_Decode(QVTK_CTX ctx, const QVTK_BINSTR* input,
                                             QVTK_BINSTR* output) {
  Recorder r(QvtkOp::kBase64Decode, ctx);
  r.call().in = input;
  r.call().out = output;
  r.call().bytes = vrd::testing::BytesOf(input);
  r.CheckContext();
  r.CheckLive(input, "input");
  r.CheckLive(output, "output");
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (input == nullptr || output == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  std::string decoded;
  const int status = vrd::testing::DecodeBase64(r.call().bytes, &decoded);
  if (status != QVTK_OK) return r.Return(status);
  return r.Return(r.Store(output, decoded));
}

QVTK_EXPORT int QVTK_CALL QVTK_CMS_ProcessSignedData(QVTK_CTX ctx, int32_t flags,
                                                     const QVTK_BINSTR* signed_data,
                                                     QVTK_BINSTR* content, int32_t* content_type) {
  Recorder r(QvtkOp::kCmsProcessSignedData, ctx);
  r.call().args[0] = flags;
  r.call().in = signed_data;
  r.call().out = content;
  r.call().bytes = vrd::testing::BytesOf(signed_data);
  r.CheckContext();
  r.CheckLive(signed_data, "input");
  r.CheckLive(content, "output");
  if (r.scripted() != 0) return r.Return(r.scripted());
  if (signed_data == nullptr || content == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  if (content_type != nullptr) *content_type = 1;
  return r.Return(r.Store(content, r.call().bytes));
}

QVTK_EXPORT int QVTK_CALL QVTK_TSP_GetTokenInfo(QVTK_CTX ctx, const QVTK_BINSTR* token,
                                                int32_t capacity, char* text1, char* text2,
                                                char* text3, char* text4, char* text5, char* text6,
                                                QVTK_BINSTR* cert) {
  Recorder r(QvtkOp::kTspGetTokenInfo, ctx);
  r.call().in = token;
  r.call().out = cert;
  r.call().args[0] = capacity;
  r.call().bytes = vrd::testing::BytesOf(token);
  r.CheckContext();
  r.CheckLive(token, "token");
  r.CheckLive(cert, "certificate");
  if (r.scripted() != 0) return r.Return(r.scripted());
  char* texts[6] = {text1, text2, text3, text4, text5, text6};
  if (token == nullptr || cert == nullptr || capacity <= 0) {
    return r.Return(QVTK_ERR_INVALID_ARGUMENT);
  }
  for (int i = 0; i < 6; ++i) {
    if (texts[i] == nullptr) return r.Return(QVTK_ERR_INVALID_ARGUMENT);
    if (r.impl().texts[static_cast<size_t>(i)].size() + 1 > static_cast<size_t>(capacity)) {
      return r.Return(QVTK_ERR_TEXT_TOO_LONG);
    }
  }
  for (int i = 0; i < 6; ++i) {
    const std::string& text = r.impl().texts[static_cast<size_t>(i)];
    std::memcpy(texts[i], text.c_str(), text.size() + 1);
  }
  return r.Return(r.Store(cert, r.impl().cert));
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Load(QVTK_CTX ctx, const QVTK_BINSTR* cert) {
  Recorder r(QvtkOp::kCertLoad, ctx);
  r.call().in = cert;
  r.call().bytes = vrd::testing::BytesOf(cert);
  r.CheckContext();
  r.CheckLive(cert, "certificate");
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(cert == nullptr ? QVTK_ERR_INVALID_ARGUMENT : QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_GetSubjectName(QVTK_CTX ctx, int32_t capacity, char* buffer) {
  Recorder r(QvtkOp::kCertGetSubjectName, ctx);
  r.call().args[0] = capacity;
  r.CheckContext();
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(vrd::testing::WriteText(r.impl().subject, capacity, buffer));
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Unload(QVTK_CTX ctx) {
  Recorder r(QvtkOp::kCertUnload, ctx);
  r.CheckContext();
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_AddTrustedCert(QVTK_CTX ctx, const QVTK_BINSTR* cert) {
  Recorder r(QvtkOp::kCertAddTrustedCert, ctx);
  r.call().in = cert;
  r.call().bytes = vrd::testing::BytesOf(cert);
  r.CheckContext();
  r.CheckLive(cert, "certificate");
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(cert == nullptr ? QVTK_ERR_INVALID_ARGUMENT : QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetCaPubs(QVTK_CTX ctx, const QVTK_BINSTR* ca_pubs) {
  Recorder r(QvtkOp::kCertSetCaPubs, ctx);
  r.call().in = ca_pubs;
  r.call().bytes = vrd::testing::BytesOf(ca_pubs);
  r.CheckContext();
  r.CheckLive(ca_pubs, "CA set");
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(ca_pubs == nullptr ? QVTK_ERR_INVALID_ARGUMENT : QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetVerifyEnv1(QVTK_CTX ctx, int32_t mode, int32_t option,
                                                  unsigned char flag, intptr_t reserved) {
  Recorder r(QvtkOp::kCertSetVerifyEnv1, ctx);
  r.call().args[0] = mode;
  r.call().args[1] = option;
  r.call().args[2] = flag;
  r.call().args[3] = static_cast<int64_t>(reserved);
  r.CheckContext();
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(QVTK_OK);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Verify(QVTK_CTX ctx, const QVTK_BINSTR* cert, int32_t mode,
                                           int32_t option, unsigned char flag, void* reserved1,
                                           void* reserved2) {
  Recorder r(QvtkOp::kCertVerify, ctx);
  r.call().in = cert;
  r.call().bytes = vrd::testing::BytesOf(cert);
  r.call().args[0] = mode;
  r.call().args[1] = option;
  r.call().args[2] = flag;
  r.call().ptrs[0] = reserved1;
  r.call().ptrs[1] = reserved2;
  r.CheckContext();
  r.CheckLive(cert, "certificate");
  if (r.scripted() != 0) return r.Return(r.scripted());
  return r.Return(cert == nullptr ? QVTK_ERR_INVALID_ARGUMENT : QVTK_OK);
}

}  // extern "C"
