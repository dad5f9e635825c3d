// The compiled-in trust anchors decode to the expected certificates, and the
// trust-anchor stage drives the toolkit in the required order, with the
// required early exits, against the scripted toolkit.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/ResultCodes.h"
#include "api/TrustAnchors.h"
#include "tests/support/FakeToolkit.h"

namespace vrd {
namespace {

using testing::Call;
using testing::FakeToolkit;
using testing::QvtkOp;
using testing::ScopedFakeToolkit;

// Published SHA-256 fingerprints of the DER certificates, in installation
// order (Kisa Test RootCA 5, B8FBCDB1...489E98CC, is not compiled in).
struct Expected {
  const char* common_name;
  size_t text_length;
  size_t der_length;
  const char* sha256;
};
const Expected kExpectedRoots[] = {
    {"KISA RootCA 4", 1188, 889,
     "A002FF556C601863B08B9AA33A8E6666E97E72BBE552F66EB9F2395C68C7BC98"},
    {"KISA RootCA 1", 1184, 887,
     "6FDB3F76C8B801A75338D8A50A7C02879F6198B57E594D318D3832900FEDCD79"},
    {"GPKIRootCA1", 1156, 865, "407C276BEAD2E4AF0661EF6697341DEC0A1F9434E4EAFB2D3D32A90549D9DE4A"},
    {"GPKIRootCA", 1216, 910, "4A072CFA8B4F0AC060C0DB6D31EBF32475DAA27D55773CD76D0F0ED5CF8F1BA4"},
    {"Root CA", 1236, 925, "E5C01CB4093279FAA19FCFA24EA43EB1B26D07A615ADF7240184A1E716B761C9"},
};
const char kCaSetSha256[] = "2F040F3F3E06EE0A5433DC27723E3F46B91FD0098654EFA3AD373BF5695E76A6";
const char kCa131100001Sha256[] =
    "5C39223083EF3C8CC50B74970EA9C135F3C1C7293725DD9EEC961B27D4695547";

std::string Sha256Hex(const std::string& data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr), 1);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < n; ++i) {
    out += kDigits[md[i] >> 4];
    out += kDigits[md[i] & 15];
  }
  return out;
}

// Decodes with OpenSSL's block decoder (independent of any toolkit).
std::string DecodeBase64(const char* text) {
  const size_t n = std::strlen(text);
  std::vector<unsigned char> out(n / 4 * 3 + 3);
  const int len = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text),
                                  static_cast<int>(n));
  EXPECT_GE(len, 0);
  size_t pad = 0;
  if (n >= 1 && text[n - 1] == '=') ++pad;
  if (n >= 2 && text[n - 2] == '=') ++pad;
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(len) - pad);
}

bool IsSingleLineBase64(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/' || c == '=';
    if (!ok) return false;
  }
  return true;
}

std::string CommonName(const std::string& der, size_t* consumed) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return std::string();
  *consumed = static_cast<size_t>(p - reinterpret_cast<const unsigned char*>(der.data()));
  char cn[256] = {0};
  X509_NAME_get_text_by_NID(X509_get_subject_name(x), NID_commonName, cn, sizeof cn);
  X509_free(x);
  return cn;
}

TEST(TrustAnchorTextsTest, RootsDecodeToTheKnownCertificates) {
  ASSERT_EQ(kTrustedRootCount, sizeof kExpectedRoots / sizeof kExpectedRoots[0]);
  ASSERT_LE(kTrustedRootCount, kMaxTrustedRoots);
  for (size_t i = 0; i < kTrustedRootCount; ++i) {
    const Expected& e = kExpectedRoots[i];
    const char* text = kTrustedRoots[i].base64;
    EXPECT_EQ(std::strlen(text), e.text_length) << e.common_name;
    EXPECT_TRUE(IsSingleLineBase64(text)) << e.common_name;
    const std::string der = DecodeBase64(text);
    EXPECT_EQ(der.size(), e.der_length) << e.common_name;
    EXPECT_EQ(Sha256Hex(der), e.sha256) << e.common_name;
    size_t consumed = 0;
    EXPECT_EQ(CommonName(der, &consumed), e.common_name);
    EXPECT_EQ(consumed, der.size()) << e.common_name;
  }
}

TEST(TrustAnchorTextsTest, CaSetIsTheKnownSequence) {
  const char* text = kCaPubs.base64;
  EXPECT_EQ(std::strlen(text), 2760u);
  EXPECT_TRUE(IsSingleLineBase64(text));
  const std::string der = DecodeBase64(text);
  ASSERT_EQ(der.size(), 2068u);
  EXPECT_EQ(Sha256Hex(der), kCaSetSha256);
  // SEQUENCE, length 2064 (X.690 long form), then two certificates.
  EXPECT_EQ(der.substr(0, 4), std::string("\x30\x82\x08\x10", 4));
  size_t first = 0;
  EXPECT_EQ(CommonName(der.substr(4), &first), "GPKIRootCA1");
  ASSERT_EQ(first, 865u);
  EXPECT_EQ(der.substr(4, first), DecodeBase64(kTrustedRoots[2].base64));
  const std::string second = der.substr(4 + first);
  size_t consumed = 0;
  EXPECT_EQ(CommonName(second, &consumed), "CA131100001");
  EXPECT_EQ(consumed, second.size());
  EXPECT_EQ(Sha256Hex(second), kCa131100001Sha256);
}

// ------------------------------------------------------------------ stage

// Strings, context and certificate of one stage run against the fake.
class StageRun {
 public:
  StageRun() {
    EXPECT_EQ(QVTK_API_Init(&ctx_, "."), 0);
    for (QVTK_BINSTR& s : strings_) EXPECT_EQ(QVTK_BINSTR_Create(&s), 0);
    EXPECT_EQ(QVTK_BINSTR_Create(&cert_), 0);
    EXPECT_EQ(QVTK_BINSTR_SetData("CERT", 4, &cert_), 0);
  }
  ~StageRun() {
    for (QVTK_BINSTR& s : strings_) EXPECT_EQ(QVTK_BINSTR_Delete(&s), 0);
    EXPECT_EQ(QVTK_BINSTR_Delete(&cert_), 0);
    EXPECT_EQ(QVTK_API_Finish(&ctx_), 0);
  }
  StageRun(const StageRun&) = delete;
  StageRun& operator=(const StageRun&) = delete;

  int Run(int result) { return InstallTrustAnchorsAndVerify(ctx_, &cert_, strings_, result); }
  const QVTK_BINSTR* text(size_t i) const { return &strings_[i]; }
  const QVTK_BINSTR* ca_set() const { return &strings_[kMaxTrustedRoots]; }
  const QVTK_BINSTR* decoded(size_t i) const { return &strings_[kMaxTrustedRoots + 1 + i]; }
  const QVTK_BINSTR* cert() const { return &cert_; }
  QVTK_CTX ctx() const { return ctx_; }

 private:
  QVTK_CTX ctx_ = nullptr;
  QVTK_BINSTR strings_[kTrustAnchorStrings];
  QVTK_BINSTR cert_;
};

TEST(TrustAnchorStageTest, CallsInOrderWithTheRightStrings) {
  ScopedFakeToolkit fake;
  {
    StageRun run;
    EXPECT_EQ(run.Run(0), 0);
    const size_t n = kTrustedRootCount;

    std::vector<QvtkOp> expected;
    for (size_t i = 0; i <= n; ++i) expected.push_back(QvtkOp::kBase64Decode);
    for (size_t i = 0; i < n; ++i) expected.push_back(QvtkOp::kCertAddTrustedCert);
    expected.push_back(QvtkOp::kCertSetCaPubs);
    expected.push_back(QvtkOp::kCertSetVerifyEnv1);
    expected.push_back(QvtkOp::kCertVerify);
    std::vector<QvtkOp> seen = fake->ToolkitSequence();
    seen.erase(seen.begin());  // QVTK_API_Init of the harness
    EXPECT_EQ(seen, expected);

    // Texts stored in order No. 2 .. 6, then the CA set; all before decoding.
    const auto set_data = fake->CallsOf(QvtkOp::kBinstrSetData);
    ASSERT_EQ(set_data.size(), 1 + n + 1);  // the harness's certificate first
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(set_data[1 + i].in, run.text(i));
      EXPECT_EQ(set_data[1 + i].bytes, kTrustedRoots[i].base64);
    }
    EXPECT_EQ(set_data[1 + n].in, run.ca_set());
    EXPECT_EQ(set_data[1 + n].bytes, kCaPubs.base64);
    const auto calls = fake->Calls();
    size_t last_set_data = 0;
    size_t first_decode = calls.size();
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].op == QvtkOp::kBinstrSetData) last_set_data = i;
      if (calls[i].op == QvtkOp::kBase64Decode && first_decode == calls.size()) first_decode = i;
    }
    EXPECT_LT(last_set_data, first_decode);

    const auto decode = fake->CallsOf(QvtkOp::kBase64Decode);
    ASSERT_EQ(decode.size(), n + 1);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(decode[i].in, run.text(i));
      EXPECT_EQ(decode[i].out, run.decoded(i));
      EXPECT_EQ(decode[i].ctx, run.ctx());
    }
    EXPECT_EQ(decode[n].in, run.ca_set());
    EXPECT_EQ(decode[n].out, run.ca_set());

    // The fake decodes for real: the roots arrive in table order.
    const auto add = fake->CallsOf(QvtkOp::kCertAddTrustedCert);
    ASSERT_EQ(add.size(), n);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(add[i].in, run.decoded(i));
      EXPECT_EQ(Sha256Hex(add[i].bytes), kExpectedRoots[i].sha256);
    }
    const auto ca = fake->CallsOf(QvtkOp::kCertSetCaPubs);
    ASSERT_EQ(ca.size(), 1u);
    EXPECT_EQ(ca[0].in, run.ca_set());
    EXPECT_EQ(Sha256Hex(ca[0].bytes), kCaSetSha256);

    const auto env = fake->CallsOf(QvtkOp::kCertSetVerifyEnv1);
    ASSERT_EQ(env.size(), 1u);
    EXPECT_EQ(env[0].args[0], 1);
    EXPECT_EQ(env[0].args[1], 0);
    EXPECT_EQ(env[0].args[2], 1);
    EXPECT_EQ(env[0].args[3], 0);

    const auto verify = fake->CallsOf(QvtkOp::kCertVerify);
    ASSERT_EQ(verify.size(), 1u);
    EXPECT_EQ(verify[0].in, run.cert());
    EXPECT_EQ(verify[0].args[0], 1);
    EXPECT_EQ(verify[0].args[1], 0);
    EXPECT_EQ(verify[0].args[2], 0);
    EXPECT_EQ(verify[0].ptrs[0], nullptr);
    EXPECT_EQ(verify[0].ptrs[1], nullptr);

    // The stage neither creates nor deletes strings: the caller does.
    EXPECT_EQ(fake->Count(QvtkOp::kBinstrCreate), kTrustAnchorStrings + 1);
    EXPECT_EQ(fake->Count(QvtkOp::kBinstrDelete), 0u);
  }
  EXPECT_EQ(fake->CheckBalance(), std::vector<std::string>());
}

TEST(TrustAnchorStageTest, VerificationReturnDecidesTheResult) {
  struct Case {
    int verify;
    int result_in;
    int result_out;
  };
  const Case cases[] = {
      {0, ResultOk, ResultOk},
      {0, DigestMismatch, DigestMismatch},
      {0, SignerCertificateUnreadable, SignerCertificateUnreadable},
      {QVTK_CERT_EXPIRED_SINCE_TSA, ResultOk, ResultOk},
      {QVTK_CERT_EXPIRED_SINCE_TSA, DigestMismatch, DigestMismatch},
      {1517, ResultOk, CertificateVerifyFailed},
      {1519, ResultOk, CertificateVerifyFailed},
      {QVTK_ERR_CERT_UNTRUSTED, DigestMismatch, CertificateVerifyFailed},
      {-1, SignerCertificateUnreadable, CertificateVerifyFailed},
  };
  for (const Case& c : cases) {
    ScopedFakeToolkit fake;
    fake->SetResult(QvtkOp::kCertVerify, c.verify);
    {
      StageRun run;
      EXPECT_EQ(run.Run(c.result_in), c.result_out) << c.verify << " " << c.result_in;
    }
    EXPECT_EQ(fake->CheckBalance(), std::vector<std::string>());
  }
}

TEST(TrustAnchorStageTest, FirstFailingInstallationEndsTheStage) {
  struct Case {
    const char* name;
    QvtkOp op;
    size_t call_index;
    size_t adds;   // AddTrustedCert calls expected
    size_t later;  // SetCaPubs, SetVerifyEnv1, Verify calls expected (each 0 or 1)
    size_t env;
  };
  std::vector<Case> cases;
  for (size_t k = 0; k < kTrustedRootCount; ++k) {
    cases.push_back({"root", QvtkOp::kCertAddTrustedCert, k, k + 1, 0, 0});
  }
  cases.push_back({"CA set", QvtkOp::kCertSetCaPubs, 0, kTrustedRootCount, 1, 0});
  cases.push_back({"environment", QvtkOp::kCertSetVerifyEnv1, 0, kTrustedRootCount, 1, 1});
  for (const Case& c : cases) {
    ScopedFakeToolkit fake;
    fake->SetResultAt(c.op, c.call_index, QVTK_ERR_CERT_PARSE);
    {
      StageRun run;
      EXPECT_EQ(run.Run(DigestMismatch), ToolkitSetupFailed) << c.name << " " << c.call_index;
    }
    EXPECT_EQ(fake->Count(QvtkOp::kCertAddTrustedCert), c.adds) << c.name << " " << c.call_index;
    EXPECT_EQ(fake->Count(QvtkOp::kCertSetCaPubs), c.later) << c.name;
    EXPECT_EQ(fake->Count(QvtkOp::kCertSetVerifyEnv1), c.env) << c.name;
    EXPECT_EQ(fake->Count(QvtkOp::kCertVerify), 0u) << c.name;
    EXPECT_EQ(fake->CheckBalance(), std::vector<std::string>());
  }
}

TEST(TrustAnchorStageTest, DecodingAndStoringReturnsAreNotExamined) {
  ScopedFakeToolkit fake;
  fake->SetResult(QvtkOp::kBase64Decode, QVTK_ERR_BASE64);
  fake->SetResultAt(QvtkOp::kBinstrSetData, 2, QVTK_ERR_NO_MEMORY);
  {
    StageRun run;
    EXPECT_EQ(run.Run(ResultOk), ResultOk);
  }
  EXPECT_EQ(fake->Count(QvtkOp::kBase64Decode), kTrustedRootCount + 1);
  EXPECT_EQ(fake->Count(QvtkOp::kCertAddTrustedCert), kTrustedRootCount);
  EXPECT_EQ(fake->Count(QvtkOp::kCertVerify), 1u);
}

TEST(TrustAnchorStageTest, NullStringsAreASetupFailure) {
  ScopedFakeToolkit fake;
  QVTK_CTX ctx = nullptr;
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), 0);
  EXPECT_EQ(InstallTrustAnchorsAndVerify(ctx, nullptr, nullptr, ResultOk), ToolkitSetupFailed);
  EXPECT_EQ(fake->ToolkitSequence().size(), 1u);  // only the Init above
  ASSERT_EQ(QVTK_API_Finish(&ctx), 0);
}

}  // namespace
}  // namespace vrd
