// The scripted toolkit double must itself catch the faults the pipeline tests
// rely on it to catch: wrong results, unbalanced strings, a stray Finish.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/FakeToolkit.h"

namespace vrd::testing {
namespace {

TEST(FakeToolkitTest, ScriptedResultsPerOperationAndPerCall) {
  ScopedFakeToolkit fake;
  fake->SetResult(QvtkOp::kCertAddTrustedCert, 7);
  fake->SetResultAt(QvtkOp::kCertAddTrustedCert, 1, 0);
  fake->SetResultAt(QvtkOp::kCertVerify, 0, 1518);
  QVTK_CTX ctx = nullptr;
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), 0);
  QVTK_BINSTR s;
  ASSERT_EQ(QVTK_BINSTR_Create(&s), 0);
  EXPECT_EQ(QVTK_CERT_AddTrustedCert(ctx, &s), 7);
  EXPECT_EQ(QVTK_CERT_AddTrustedCert(ctx, &s), 0);
  EXPECT_EQ(QVTK_CERT_AddTrustedCert(ctx, &s), 7);
  EXPECT_EQ(QVTK_CERT_Verify(ctx, &s, 1, 0, 0, nullptr, nullptr), 1518);
  EXPECT_EQ(QVTK_CERT_Verify(ctx, &s, 1, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(QVTK_BINSTR_Delete(&s), 0);
  EXPECT_EQ(QVTK_API_Finish(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(fake->Count(QvtkOp::kCertAddTrustedCert), 3u);
  const auto verify = fake->CallsOf(QvtkOp::kCertVerify);
  ASSERT_EQ(verify.size(), 2u);
  EXPECT_EQ(verify[0].result, 1518);
  EXPECT_EQ(verify[0].args[0], 1);
  EXPECT_EQ(verify[0].in, &s);
  EXPECT_TRUE(fake->CheckBalance().empty());
}

TEST(FakeToolkitTest, StringsHoldBytesAndBase64Decodes) {
  ScopedFakeToolkit fake;
  QVTK_CTX ctx = nullptr;
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), 0);
  QVTK_BINSTR s;
  ASSERT_EQ(QVTK_BINSTR_Create(&s), 0);
  ASSERT_EQ(QVTK_BINSTR_SetData("TWFu", 4, &s), 0);
  ASSERT_EQ(QVTK_BASE64_Decode(ctx, &s, &s), 0);
  ASSERT_EQ(s.length, 3);
  EXPECT_EQ(std::memcmp(s.data, "Man", 3), 0);
  ASSERT_EQ(QVTK_BINSTR_SetData("TW=u", 4, &s), 0);
  EXPECT_EQ(QVTK_BASE64_Decode(ctx, &s, &s), QVTK_ERR_BASE64);
  ASSERT_EQ(QVTK_BINSTR_SetData("TQ==", 4, &s), 0);
  ASSERT_EQ(QVTK_BASE64_Decode(ctx, &s, &s), 0);
  EXPECT_EQ(s.length, 1);
  EXPECT_EQ(QVTK_BINSTR_Delete(&s), 0);
  EXPECT_EQ(QVTK_API_Finish(&ctx), 0);
  EXPECT_TRUE(fake->CheckBalance().empty());
}

TEST(FakeToolkitTest, TokenInfoTextsAndTooLong) {
  ScopedFakeToolkit fake;
  fake->SetTokenInfo({"1.2.3", "SHA256", "ab", "01", "2024-05-01T09:30:00Z", ""}, "CERT");
  fake->SetSubjectName("CN=TSA");
  QVTK_CTX ctx = nullptr;
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), 0);
  QVTK_BINSTR token, cert;
  ASSERT_EQ(QVTK_BINSTR_Create(&token), 0);
  ASSERT_EQ(QVTK_BINSTR_Create(&cert), 0);
  char t[6][32];
  ASSERT_EQ(QVTK_TSP_GetTokenInfo(ctx, &token, 32, t[0], t[1], t[2], t[3], t[4], t[5], &cert), 0);
  EXPECT_STREQ(t[1], "SHA256");
  EXPECT_STREQ(t[4], "2024-05-01T09:30:00Z");
  ASSERT_EQ(cert.length, 4);
  EXPECT_EQ(QVTK_TSP_GetTokenInfo(ctx, &token, 20, t[0], t[1], t[2], t[3], t[4], t[5], &cert),
            QVTK_ERR_TEXT_TOO_LONG);
  char name[8];
  ASSERT_EQ(QVTK_CERT_GetSubjectName(ctx, sizeof name, name), 0);
  EXPECT_STREQ(name, "CN=TSA");
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx, 6, name), QVTK_ERR_TEXT_TOO_LONG);
  EXPECT_EQ(QVTK_BINSTR_Delete(&token), 0);
  EXPECT_EQ(QVTK_BINSTR_Delete(&cert), 0);
  EXPECT_EQ(QVTK_API_Finish(&ctx), 0);
  EXPECT_TRUE(fake->CheckBalance().empty());
}

// Each lifecycle fault must be reported.
TEST(FakeToolkitTest, ReportsLifecycleFaults) {
  struct Case {
    const char* name;
    void (*run)();
  };
  const Case cases[] = {
      {"leaked string",
       [] {
         QVTK_BINSTR s;
         (void)QVTK_BINSTR_Create(&s);
         (void)QVTK_BINSTR_SetData("x", 1, &s);
       }},
      {"double delete",
       [] {
         QVTK_BINSTR s;
         (void)QVTK_BINSTR_Create(&s);
         (void)QVTK_BINSTR_Delete(&s);
         (void)QVTK_BINSTR_Delete(&s);
       }},
      {"double create",
       [] {
         QVTK_BINSTR s;
         (void)QVTK_BINSTR_Create(&s);
         (void)QVTK_BINSTR_Create(&s);
         (void)QVTK_BINSTR_Delete(&s);
       }},
      {"finish after failed init",
       [] {
         FakeToolkit::Get().SetResult(QvtkOp::kApiInit, 5);
         QVTK_CTX ctx = nullptr;
         (void)QVTK_API_Init(&ctx, ".");
         (void)QVTK_API_Finish(&ctx);
       }},
      {"context never finished",
       [] {
         QVTK_CTX ctx = nullptr;
         (void)QVTK_API_Init(&ctx, ".");
       }},
      {"use of an uncreated string",
       [] {
         QVTK_CTX ctx = nullptr;
         (void)QVTK_API_Init(&ctx, ".");
         QVTK_BINSTR s{};
         (void)QVTK_CERT_Load(ctx, &s);
         (void)QVTK_API_Finish(&ctx);
       }},
  };
  for (const Case& c : cases) {
    ScopedFakeToolkit fake;
    c.run();
    EXPECT_FALSE(fake->CheckBalance().empty()) << c.name;
  }
}

}  // namespace
}  // namespace vrd::testing
