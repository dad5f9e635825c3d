// The QVHash facade: identifier translation, digests and iterations, and the
// exact log lines of every failure site.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <climits>
#include <string>

#include "digest_test_util.h"
#include "src/VORirori/QVHash.h"
#include "tests/support/MemoryTestHook.h"
#include "util/ByteString.h"

namespace vrd {
namespace {

using digest_test::Hex;

std::string Str(const ByteString& s) { return std::string(s.GetData(), s.GetLength()); }

std::string EvpHex(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) return "evp-failed";
  return Hex(out, len);
}

std::string EvpRaw(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) return "";
  return std::string(reinterpret_cast<char*>(out), len);
}

struct AlgIdRow {
  int facade;
  int ecsp;
};

TEST(QVHash, ConstructionSetsNames) {
  QVHash hash;
  EXPECT_STREQ(hash.className(), "QVHash");
  EXPECT_STREQ(hash.methodName(), "");
  EXPECT_EQ(hash.logText().GetLength(), 0);
}

TEST(QVHash, TranslatesAllSixtySixIdentifiers) {
  const AlgIdRow rows[] = {
      {1002, 1200},   {1011, 1400},   {1012, 1500},   {1014, 1700},   {1020, 1800},
      {2000, 3400},   {2020, 3420},   {2030, 2030},   {3000, 11001},  {3010, 11002},
      {3011, 11003},  {3020, 11110},  {3050, 11240},  {3051, 11264},  {3052, 11228},
      {3053, 11292},  {3054, 11256},  {3060, 11400},  {3090, 11828},  {3091, 11828},
      {3092, 11892},  {3093, 11856},  {3110, 11728},  {3121, 11792},  {3122, 11756},
      {3130, 20},     {4000, 12000},  {4001, 12001},  {4002, 12002},  {4010, 120201},
      {4011, 120202}, {4021, 13101},  {4022, 13102},  {4023, 13202},  {5010, 31001},
      {5020, 31200},  {5030, 31400},  {5040, 31500},  {6010, 42001},  {6011, 42004},
      {6012, 42002},  {7001, 121201}, {7002, 121202}, {7010, 121400}, {7011, 121401},
      {7012, 121402}, {7030, 140000}, {7032, 141401}, {7033, 141402}, {7041, 141801},
      {7042, 141802}, {7050, 171401}, {7051, 171404}, {7052, 171402}, {7060, 131401},
      {7061, 131402}, {7062, 131501}, {7063, 131502}, {7070, 121501}, {7071, 121502},
      {7077, 121701}, {7078, 121702}, {7081, 141502}, {7113, 171410}, {7114, 171411},
      {7115, 171412},
  };
  ASSERT_EQ(sizeof(rows) / sizeof(rows[0]), 66u);
  QVHash hash;
  for (const AlgIdRow& r : rows) EXPECT_EQ(hash.getECSP_AlgID(r.facade), r.ecsp) << r.facade;
  EXPECT_EQ(hash.logText().GetLength(), 0);
  EXPECT_STREQ(hash.methodName(), "getECSP_AlgID");
}

TEST(QVHash, UnknownIdentifiersLogTheirValue) {
  struct Case {
    int algorithm;
    const char* line;
  } cases[] = {
      {9999, "[VORiroriBase:1090]QVHash::getECSP_AlgID-The AlgID(9999) is not supported.(-1)"},
      {-1, "[VORiroriBase:1090]QVHash::getECSP_AlgID-The AlgID(-1) is not supported.(-1)"},
      {0, "[VORiroriBase:1090]QVHash::getECSP_AlgID-The AlgID(0) is not supported.(-1)"},
      {1500, "[VORiroriBase:1090]QVHash::getECSP_AlgID-The AlgID(1500) is not supported.(-1)"},
      {INT_MIN,
       "[VORiroriBase:1090]QVHash::getECSP_AlgID-The AlgID(-2147483648) is not supported.(-1)"},
  };
  for (const auto& c : cases) {
    QVHash hash;
    EXPECT_EQ(hash.getECSP_AlgID(c.algorithm), -1);
    EXPECT_EQ(Str(hash.logText()), c.line);
  }
}

TEST(QVHash, DigestsMatchOpenSsl) {
  struct Case {
    int algorithm;
    const EVP_MD* md;
  } cases[] = {{1002, EVP_md5()},    {1011, EVP_sha1()},   {1012, EVP_sha256()},
               {1014, EVP_sha512()}, {7001, EVP_md5()},    {4021, EVP_sha1()},
               {7115, EVP_sha256()}, {7078, EVP_sha512()}, {4023, EVP_sha256()}};
  const std::string msg = "The quick brown fox jumps over the lazy dog";
  const ByteString input(msg.c_str());
  for (const auto& c : cases) {
    QVHash hash;
    ByteString digest;
    ASSERT_EQ(hash.DigestData(c.algorithm, input, digest, 1), 0) << c.algorithm;
    EXPECT_EQ(Hex(digest.GetData(), digest.GetLength()), EvpHex(c.md, msg)) << c.algorithm;
    EXPECT_STREQ(hash.methodName(), "getECSP_AlgID");
  }
  QVHash hash;
  ByteString digest;
  ASSERT_EQ(hash.DigestData(1020, "abc", 3, digest, 1), 0);
  EXPECT_EQ(Hex(digest.GetData(), digest.GetLength()), "975e810488cf2a3d49838478124afce4b1c78804");
}

TEST(QVHash, EmptyStringInputGivesEmptyMessageDigest) {
  QVHash hash;
  ByteString empty;
  ByteString digest;
  ASSERT_EQ(hash.DigestData(1012, empty, digest, 1), 0);
  EXPECT_EQ(digest.GetLength(), 32);
  EXPECT_EQ(Hex(digest.GetData(), 32),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hash.logText().GetLength(), 0);
}

TEST(QVHash, IterationsDigestTheDigest) {
  const std::string msg = "iterate me";
  const std::string once = EvpRaw(EVP_sha512(), msg);
  const std::string twice = EvpRaw(EVP_sha512(), once);
  const std::string thrice = EvpRaw(EVP_sha512(), twice);
  struct Case {
    int iterations;
    const std::string* expected;
  } cases[] = {{1, &once}, {0, &once}, {-5, &once}, {INT_MIN, &once}, {2, &twice}, {3, &thrice}};
  for (const auto& c : cases) {
    QVHash hash;
    ByteString digest("old content");
    ASSERT_EQ(hash.DigestData(1014, msg.data(), static_cast<int>(msg.size()), digest, c.iterations),
              0);
    EXPECT_EQ(Str(digest), *c.expected) << c.iterations;
  }
  // SHA-256 iterated: the previous 32-byte digest is the whole input.
  QVHash hash;
  ByteString digest;
  ASSERT_EQ(hash.DigestData(1012, msg.data(), static_cast<int>(msg.size()), digest, 2), 0);
  EXPECT_EQ(Str(digest), EvpRaw(EVP_sha256(), EvpRaw(EVP_sha256(), msg)));
}

struct FailureCase {
  const char* what;
  int algorithm;
  const void* data;
  int length;
  int code;
  const char* line;
};

TEST(QVHash, FailuresReturnTheirCodeAndLogTheExactLine) {
  const FailureCase cases[] = {
      {"not in table", 9999, "abc", 3, 1,
       "[QVHash:48]QVHash::DigestData-license(1),[VORiroriBase:1090]QVHash::getECSP_AlgID-The "
       "AlgID(9999) is not supported.(-1)"},
      {"refused by the engine", 2000, "abc", 3, 4,
       "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4),Init stage; Invalid algorithm "
       "identifier.(1105)"},
      {"3090", 3090, "abc", 3, 4,
       "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4),Init stage; Invalid algorithm "
       "identifier.(1105)"},
      {"3091", 3091, "abc", 3, 4,
       "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4),Init stage; Invalid algorithm "
       "identifier.(1105)"},
      {"null data", 1012, nullptr, 3, 4,
       "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4),Update stage; Invalid input or output "
       "data pointer(2108)"},
      {"negative length", 1012, "abc", -3, 4,
       "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4),Update stage; Invalid input or output "
       "data.(2101)"},
  };
  for (const FailureCase& c : cases) {
    QVHash hash;
    ByteString digest("untouched");
    EXPECT_EQ(hash.DigestData(c.algorithm, c.data, c.length, digest, 1), c.code) << c.what;
    EXPECT_EQ(Str(hash.logText()), c.line) << c.what;
    EXPECT_EQ(Str(digest), "untouched") << c.what;
    // DigestData names itself, then the translation it calls names itself.
    EXPECT_STREQ(hash.methodName(), "getECSP_AlgID") << c.what;
  }
}

TEST(QVHash, RepeatedDigestFailureIsCodeThree) {
  QVHash hash;
  ByteString digest("untouched");
  int code = 0;
  {
    // The first working record is granted, the second is not.
    testing::ScopedAllocationFailure fail(1, 1);
    code = hash.DigestData(1012, "abc", 3, digest, 2);
  }
  EXPECT_EQ(code, 3);
  EXPECT_EQ(Str(hash.logText()),
            "[QVHash:120]QVHash::DigestData-ECSP_DigestData(3), Memory allocation failed.(102)");
  EXPECT_EQ(Str(digest), "untouched");
}

TEST(QVHash, FirstDigestWithoutMemoryIsCodeFour) {
  QVHash hash;
  ByteString digest;
  int code = 0;
  {
    testing::ScopedAllocationFailure fail(1);
    code = hash.DigestData(1014, "abc", 3, digest, 1);
  }
  EXPECT_EQ(code, 4);
  EXPECT_EQ(Str(hash.logText()),
            "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4), Memory allocation failed.(102)");
}

TEST(QVHash, NoStorageForTheResultIsReported) {
  QVHash hash;
  ByteString digest;
  int code = 0;
  {
    // The working record is granted; the digest string's block is not.
    testing::ScopedAllocationFailure fail(1, 1);
    code = hash.DigestData(1012, "abc", 3, digest, 1);
  }
  EXPECT_EQ(code, 4);
  EXPECT_EQ(digest.GetLength(), 0);
  EXPECT_EQ(Str(hash.logText()),
            "[QVHash:126]QVHash::DigestData-ECSP_DigestData(4), Memory allocation failed.(102)");
}

TEST(QVHash, SuccessKeepsTheLastFailureLine) {
  QVHash hash;
  ByteString digest;
  EXPECT_EQ(hash.DigestData(2000, "abc", 3, digest, 1), 4);
  const std::string line = Str(hash.logText());
  EXPECT_EQ(hash.DigestData(1012, "abc", 3, digest, 1), 0);
  EXPECT_EQ(Str(hash.logText()), line);
  EXPECT_EQ(digest.GetLength(), 32);
}

TEST(QVHash, TranslationFailureAfterAnEarlierFailureCarriesOnlyTheNewLine) {
  QVHash hash;
  ByteString digest;
  EXPECT_EQ(hash.DigestData(2000, "abc", 3, digest, 1), 4);
  EXPECT_EQ(hash.DigestData(-7, "abc", 3, digest, 1), 1);
  EXPECT_EQ(Str(hash.logText()),
            "[QVHash:48]QVHash::DigestData-license(1),[VORiroriBase:1090]QVHash::getECSP_AlgID-"
            "The AlgID(-7) is not supported.(-1)");
}

TEST(QVHash, WriteLogForms) {
  struct Case {
    const char* path;
    const char* detail;
    const char* line;
  } cases[] = {
      {"src\\VORirori\\QVHash", nullptr, "[QVHash:7]C::op-label(-3)"},
      {"a/b/c.cpp", "", "[c.cpp:7]C::op-label(-3)"},
      {"plain", "more", "[plain:7]C::op-label(-3),more"},
      {"mixed\\dir/name", nullptr, "[name:7]C::op-label(-3)"},
      {"trailing/", nullptr, "[:7]C::op-label(-3)"},
  };
  for (const auto& c : cases) {
    QVHash hash;
    hash.writeLog(c.path, 7, "C", "op", "label", -3, c.detail);
    EXPECT_EQ(Str(hash.logText()), c.line) << c.path;
  }
  // The detail may be the object's own line.
  QVHash hash;
  hash.writeLog("x", 1, "C", "first", "l", 1, nullptr);
  hash.writeLog("y", 2, "C", "second", "l", 2, hash.logText().GetData());
  hash.writeLog("z", 3, "C", "third", "l", 3, hash.logText().GetData());
  EXPECT_EQ(Str(hash.logText()), "[z:3]C::third-l(3),[y:2]C::second-l(2),[x:1]C::first-l(1)");
}

}  // namespace
}  // namespace vrd
