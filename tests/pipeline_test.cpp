// The verification pipeline against the scripted toolkit: every result code,
// the precedence of the late checks, which codes leave the caller's buffers
// alone, the order in which toolkit objects are created and released, and
// the conversion of the output texts.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "api/ResultCodes.h"
#include "api/TrustAnchors.h"
#include "api/VerifyTimeStampToken.h"
#include "tests/support/FakeToolkit.h"
#include "tests/support/PdfBuilder.h"

namespace vrd {
namespace {

using testing::FakeToolkit;
using testing::QvtkOp;
using testing::ScopedFakeToolkit;

constexpr VrdWideChar kSentinel = 0x2A5A;
constexpr size_t kGuardUnits = 8;  // checked past the 512 units of every buffer

std::string Hex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Sha256Hex(const std::string& data) {
  unsigned char md[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), md);
  return Hex(md, sizeof md);
}

std::string Sha512Hex(const std::string& data) {
  unsigned char md[SHA512_DIGEST_LENGTH];
  SHA512(reinterpret_cast<const unsigned char*>(data.data()), data.size(), md);
  return Hex(md, sizeof md);
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
  return s;
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string Read(const VrdWideChar* buffer) {
  std::u16string out;
  for (size_t i = 0; i < kOutputUnits && buffer[i] != 0; ++i) {
    out.push_back(static_cast<char16_t>(buffer[i]));
  }
  return out;
}

// Four caller buffers filled with a sentinel, with guard units after each.
struct Buffers {
  Buffers() {
    for (auto& b : units) std::fill(b.begin(), b.end(), kSentinel);
  }
  VrdWideChar* gen_time() { return units[0].data(); }
  VrdWideChar* algorithm() { return units[1].data(); }
  VrdWideChar* imprint() { return units[2].data(); }
  VrdWideChar* subject() { return units[3].data(); }
  bool Untouched() const {
    for (const auto& b : units) {
      if (std::any_of(b.begin(), b.end(), [](VrdWideChar u) { return u != kSentinel; })) {
        return false;
      }
    }
    return true;
  }
  bool GuardsIntact() const {
    for (const auto& b : units) {
      for (size_t i = kOutputUnits; i < b.size(); ++i) {
        if (b[i] != kSentinel) return false;
      }
    }
    return true;
  }
  std::array<std::array<VrdWideChar, kOutputUnits + kGuardUnits>, 4> units;
};

const char kGenTime[] = "2024-05-01T09:30:00Z";
const char kSubject[] = "CN=Test TSA,O=Example,C=KR";
const char kCertBytes[] = "\x30\x82\x01\x00-certificate";
const char kTokenDer[] = "\x30\x82\x00\x10token-signed-data-bytes";

struct Document {
  test::PdfDocument pdf;
  std::string token_der;
};

Document SignedDocument() {
  Document d;
  test::PdfOptions options;
  options.contents_hex_digits = 512;
  EXPECT_TRUE(test::PdfBuilder(options).Build(d.pdf));
  d.token_der.assign(kTokenDer, sizeof kTokenDer - 1);
  EXPECT_TRUE(test::EmbedToken(d.pdf, d.token_der));
  return d;
}

enum class Imprint { kMatch, kMismatch, kUpperCase, kEmpty };

struct Script {
  std::string algorithm = "SHA256";
  Imprint imprint = Imprint::kMatch;
  std::vector<std::pair<QvtkOp, int>> results;              // every call
  std::vector<std::tuple<QvtkOp, size_t, int>> results_at;  // n-th call only
};

// Scripts the fake for the document and runs the routine.
int RunPipeline(FakeToolkit& fake, const Document& doc, const Script& script, Buffers& buffers,
                const ExtraTrustedRoots& roots = {}, std::string* expected_imprint = nullptr) {
  const std::string& content = doc.pdf.signed_content;
  std::string imprint = script.algorithm == "SHA512" ? Sha512Hex(content) : Sha256Hex(content);
  switch (script.imprint) {
    case Imprint::kMatch:
      break;
    case Imprint::kMismatch:
      imprint[0] = imprint[0] == '0' ? '1' : '0';
      break;
    case Imprint::kUpperCase:
      imprint = Upper(imprint);
      break;
    case Imprint::kEmpty:
      imprint.clear();
      break;
  }
  if (expected_imprint != nullptr) *expected_imprint = imprint;
  fake.SetTokenInfo({"1.2.3.4", script.algorithm, imprint, "0a1b", kGenTime, ""},
                    std::string(kCertBytes, sizeof kCertBytes - 1));
  fake.SetSubjectName(kSubject);
  for (const auto& [op, value] : script.results) fake.SetResult(op, value);
  for (const auto& [op, index, value] : script.results_at) fake.SetResultAt(op, index, value);
  ByteString document;
  EXPECT_EQ(document.SetData(doc.pdf.bytes.data(), static_cast<int>(doc.pdf.bytes.size())),
            ByteString::kOk);
  return VerifyTimeStampToken(
      document, {buffers.gen_time(), buffers.algorithm(), buffers.imprint(), buffers.subject()},
      roots);
}

struct Row {
  const char* name;
  Script script;
  int expected;
  bool written;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class ResultCodeTest : public ::testing::TestWithParam<Row> {};

TEST_P(ResultCodeTest, CodeBuffersAndBalance) {
  const Row& row = GetParam();
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  Buffers buffers;
  std::string imprint;
  const int code = RunPipeline(*fake, doc, row.script, buffers, {}, &imprint);
  EXPECT_EQ(code, row.expected);
  EXPECT_TRUE(fake->CheckBalance().empty()) << ::testing::PrintToString(fake->CheckBalance());
  EXPECT_TRUE(buffers.GuardsIntact());
  if (!row.written) {
    EXPECT_TRUE(buffers.Untouched());
    return;
  }
  EXPECT_EQ(Read(buffers.gen_time()), Utf16(kGenTime));
  EXPECT_EQ(Read(buffers.algorithm()), Utf16(row.script.algorithm));
  // The token's imprint, never the recomputed digest.
  EXPECT_EQ(Read(buffers.imprint()), Utf16(imprint));
  const bool subject_failed =
      std::any_of(row.script.results.begin(), row.script.results.end(),
                  [](const auto& r) { return r.first == QvtkOp::kCertGetSubjectName; });
  EXPECT_EQ(Read(buffers.subject()), subject_failed ? u"" : Utf16(kSubject));
}

Script With(std::vector<std::pair<QvtkOp, int>> results, Imprint imprint = Imprint::kMatch,
            std::string algorithm = "SHA256") {
  Script s;
  s.results = std::move(results);
  s.imprint = imprint;
  s.algorithm = std::move(algorithm);
  return s;
}

Script WithAt(std::vector<std::tuple<QvtkOp, size_t, int>> at, Imprint imprint = Imprint::kMatch) {
  Script s;
  s.results_at = std::move(at);
  s.imprint = imprint;
  return s;
}

const Row kRows[] = {
    {"Sha256Verified", With({}), ResultOk, true},
    {"Sha512Verified", With({}, Imprint::kMatch, "SHA512"), ResultOk, true},
    {"DigestMismatch", With({}, Imprint::kMismatch), DigestMismatch, true},
    {"UpperCaseImprintNeverMatches", With({}, Imprint::kUpperCase), DigestMismatch, true},
    {"EmptyImprint", With({}, Imprint::kEmpty), DigestMismatch, true},
    {"LowerCaseAlgorithm", With({}, Imprint::kMatch, "sha256"), UnsupportedAlgorithm, false},
    {"TrailingSpace", With({}, Imprint::kMatch, "SHA256 "), UnsupportedAlgorithm, false},
    {"Sha1", With({}, Imprint::kMatch, "SHA1"), UnsupportedAlgorithm, false},
    {"EmptyAlgorithm", With({}, Imprint::kMatch, ""), UnsupportedAlgorithm, false},
    {"InitFails", With({{QvtkOp::kApiInit, 1003}}), ToolkitSetupFailed, false},
    {"SignedDataInvalid", With({{QvtkOp::kCmsProcessSignedData, 1201}}), SignedDataInvalid, false},
    {"TokenInfoUnreadable", With({{QvtkOp::kTspGetTokenInfo, 1301}}), TokenUnreadable, false},
    {"CertificateLoadFails", With({{QvtkOp::kCertLoad, 1401}}), SignerCertificateUnreadable, true},
    {"SubjectNameFails", With({{QvtkOp::kCertGetSubjectName, 1302}}), SignerCertificateUnreadable,
     true},
    {"MismatchThenLoadFails", With({{QvtkOp::kCertLoad, 1401}}, Imprint::kMismatch),
     SignerCertificateUnreadable, true},
    {"MismatchThenVerifyFails", With({{QvtkOp::kCertVerify, 1501}}, Imprint::kMismatch),
     CertificateVerifyFailed, true},
    {"MismatchWithVerifiedCertificate", With({{QvtkOp::kCertVerify, 0}}, Imprint::kMismatch),
     DigestMismatch, true},
    {"LoadFailsThenVerifyFails", With({{QvtkOp::kCertLoad, 1401}, {QvtkOp::kCertVerify, 1501}}),
     CertificateVerifyFailed, true},
    {"Verify1518CountsAsSuccess", With({{QvtkOp::kCertVerify, 1518}}), ResultOk, true},
    {"Verify1518KeepsMismatch", With({{QvtkOp::kCertVerify, 1518}}, Imprint::kMismatch),
     DigestMismatch, true},
    {"Verify1517", With({{QvtkOp::kCertVerify, 1517}}), CertificateVerifyFailed, true},
    {"Verify1519", With({{QvtkOp::kCertVerify, 1519}}), CertificateVerifyFailed, true},
    {"ThirdRootRefused", WithAt({{QvtkOp::kCertAddTrustedCert, 2, 1401}}), ToolkitSetupFailed,
     true},
    {"CaPubsRefused", With({{QvtkOp::kCertSetCaPubs, 1401}}), ToolkitSetupFailed, true},
    {"EnvironmentRefused", With({{QvtkOp::kCertSetVerifyEnv1, 1001}}), ToolkitSetupFailed, true},
    {"MismatchThenRootRefused",
     WithAt({{QvtkOp::kCertAddTrustedCert, 0, 1401}}, Imprint::kMismatch), ToolkitSetupFailed,
     true},
};

INSTANTIATE_TEST_SUITE_P(Rows, ResultCodeTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& param) {
                           return std::string(param.param.name);
                         });

// The order of the calls that reach the toolkit, for a run that gets through
// every stage.
TEST(PipelineTest, CallOrderOfAFullRun) {
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  Buffers buffers;
  ASSERT_EQ(RunPipeline(*fake, doc, With({}), buffers), ResultOk);
  std::vector<QvtkOp> expected = {
      QvtkOp::kApiInit,  QvtkOp::kCmsProcessSignedData, QvtkOp::kTspGetTokenInfo,
      QvtkOp::kCertLoad, QvtkOp::kCertGetSubjectName,   QvtkOp::kCertUnload};
  expected.insert(expected.end(), kTrustedRootCount + 1, QvtkOp::kBase64Decode);
  expected.insert(expected.end(), kTrustedRootCount, QvtkOp::kCertAddTrustedCert);
  expected.insert(expected.end(), {QvtkOp::kCertSetCaPubs, QvtkOp::kCertSetVerifyEnv1,
                                   QvtkOp::kCertVerify, QvtkOp::kApiFinish});
  EXPECT_EQ(fake->ToolkitSequence(), expected);
  EXPECT_EQ(fake->CallsOf(QvtkOp::kApiInit)[0].bytes, ".");

  // The token string holds the DER followed by four zero bytes.
  const auto set_data = fake->CallsOf(QvtkOp::kBinstrSetData);
  ASSERT_FALSE(set_data.empty());
  EXPECT_EQ(set_data[0].bytes, test::ExpectedTokenBytes(doc.token_der));
  const auto cms = fake->CallsOf(QvtkOp::kCmsProcessSignedData);
  ASSERT_EQ(cms.size(), 1u);
  EXPECT_EQ(cms[0].in, set_data[0].in);
  EXPECT_EQ(cms[0].args[0], 0);
  const auto info = fake->CallsOf(QvtkOp::kTspGetTokenInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].args[0], 1024);
  EXPECT_EQ(fake->CallsOf(QvtkOp::kCertGetSubjectName)[0].args[0], 1024);
  // The certificate verified is the one the token came with.
  EXPECT_EQ(fake->CallsOf(QvtkOp::kCertVerify)[0].in, info[0].out);
  EXPECT_EQ(fake->CallsOf(QvtkOp::kCertLoad)[0].in, info[0].out);
}

// Creation order, deletion order and the Finish rule, for runs that end at
// every stage after the document was taken apart.
struct ReleaseRow {
  const char* name;
  Script script;
  bool init_succeeds;
};

void PrintTo(const ReleaseRow& row, std::ostream* os) { *os << row.name; }

class ReleaseTest : public ::testing::TestWithParam<ReleaseRow> {};

TEST_P(ReleaseTest, EveryStringOnceAnchorsAndCertificateBeforeFinish) {
  const ReleaseRow& row = GetParam();
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  Buffers buffers;
  (void)RunPipeline(*fake, doc, row.script, buffers);
  EXPECT_TRUE(fake->CheckBalance().empty()) << ::testing::PrintToString(fake->CheckBalance());

  const auto creates = fake->CallsOf(QvtkOp::kBinstrCreate);
  const auto deletes = fake->CallsOf(QvtkOp::kBinstrDelete);
  ASSERT_EQ(creates.size(), 3 + kTrustAnchorStrings);
  ASSERT_EQ(deletes.size(), creates.size());
  const QVTK_BINSTR* token = creates[0].in;
  const QVTK_BINSTR* certificate = creates[1].in;
  const QVTK_BINSTR* signed_output = creates[2].in;
  EXPECT_EQ(fake->CallsOf(QvtkOp::kBinstrSetData)[0].in, token);

  EXPECT_EQ(fake->Count(QvtkOp::kApiFinish), row.init_succeeds ? 1u : 0u);
  // The tail of the record: 14 deletes (anchors and certificate), Finish when
  // the context was opened, then the token and the signed-data output.
  const std::vector<QvtkOp> sequence = fake->Sequence();
  const size_t tail = deletes.size() + (row.init_succeeds ? 1 : 0);
  ASSERT_GE(sequence.size(), tail);
  std::vector<QvtkOp> expected(kTrustAnchorStrings + 1, QvtkOp::kBinstrDelete);
  if (row.init_succeeds) expected.push_back(QvtkOp::kApiFinish);
  expected.insert(expected.end(), 2, QvtkOp::kBinstrDelete);
  EXPECT_EQ(std::vector<QvtkOp>(sequence.end() - static_cast<std::ptrdiff_t>(tail), sequence.end()),
            expected);
  std::vector<const QVTK_BINSTR*> early;
  for (size_t i = 0; i + 2 < deletes.size(); ++i) early.push_back(deletes[i].in);
  EXPECT_NE(std::find(early.begin(), early.end(), certificate), early.end());
  EXPECT_EQ(deletes[deletes.size() - 2].in, token);
  EXPECT_EQ(deletes[deletes.size() - 1].in, signed_output);
}

const ReleaseRow kReleaseRows[] = {
    {"Verified", With({}), true},
    {"InitFails", With({{QvtkOp::kApiInit, 1003}}), false},
    {"SignedDataInvalid", With({{QvtkOp::kCmsProcessSignedData, 1201}}), true},
    {"TokenInfoUnreadable", With({{QvtkOp::kTspGetTokenInfo, 1301}}), true},
    {"UnsupportedAlgorithm", With({}, Imprint::kMatch, "SHA1"), true},
    {"CertificateLoadFails", With({{QvtkOp::kCertLoad, 1401}}), true},
    {"RootRefused", With({{QvtkOp::kCertAddTrustedCert, 1401}}), true},
    {"VerifyFails", With({{QvtkOp::kCertVerify, 1501}}), true},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReleaseTest, ::testing::ValuesIn(kReleaseRows),
                         [](const ::testing::TestParamInfo<ReleaseRow>& param) {
                           return std::string(param.param.name);
                         });

// Structural failures end the call before the toolkit is touched.
TEST(PipelineTest, StructuralFailuresReachNoToolkit) {
  struct Case {
    const char* name;
    int expected;
    void (*mutate)(Document&);
  };
  const Case cases[] = {
      {"NoSignature", NoTimeStampToken,
       [](Document& d) { d.pdf.bytes = "%PDF-1.4\nno signature here\n%%EOF\n"; }},
      {"EmptyDocument", NoTimeStampToken, [](Document& d) { d.pdf.bytes.clear(); }},
      {"ContentsNotHex", TokenUnreadable,
       [](Document& d) { d.pdf.bytes[static_cast<size_t>(d.pdf.contents_open)] = '('; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeToolkit fake;
    Document doc = SignedDocument();
    c.mutate(doc);
    Buffers buffers;
    EXPECT_EQ(RunPipeline(*fake, doc, With({}), buffers), c.expected);
    EXPECT_TRUE(buffers.Untouched());
    EXPECT_TRUE(fake->Calls().empty());
  }
}

TEST(PipelineTest, AlteredContentGivesMismatchWithTokenImprint) {
  ScopedFakeToolkit fake;
  Document doc = SignedDocument();
  const std::string original_content = doc.pdf.signed_content;
  // Change one byte of the first signed range after stamping.
  doc.pdf.bytes[20] = static_cast<char>(doc.pdf.bytes[20] ^ 0x01);
  Buffers buffers;
  std::string imprint;
  EXPECT_EQ(RunPipeline(*fake, doc, With({}), buffers, {}, &imprint), DigestMismatch);
  EXPECT_EQ(imprint, Sha256Hex(original_content));
  EXPECT_EQ(Read(buffers.imprint()), Utf16(imprint));
}

TEST(PipelineTest, NullOutputBuffersAreSkipped) {
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  fake->SetTokenInfo({"1", "SHA256", Sha256Hex(doc.pdf.signed_content), "2", kGenTime, ""}, "C");
  ByteString document;
  ASSERT_EQ(document.SetData(doc.pdf.bytes.data(), static_cast<int>(doc.pdf.bytes.size())),
            ByteString::kOk);
  EXPECT_EQ(VerifyTimeStampToken(document, {nullptr, nullptr, nullptr, nullptr}), ResultOk);
  EXPECT_TRUE(fake->CheckBalance().empty());
}

// Extra roots: consulted only after the built-in anchors failed, added after
// them, each string created and deleted once.
TEST(PipelineTest, ExtraRootsAfterBuiltInAnchors) {
  struct Case {
    const char* name;
    Imprint imprint;
    int second_verify;  // -1: the built-in anchors already verify
    int expected;
    size_t extra_adds;
  };
  const Case cases[] = {
      {"BuiltInSuffices", Imprint::kMatch, -1, ResultOk, 0},
      {"ExtraRootVerifies", Imprint::kMatch, 0, ResultOk, 2},
      {"ExtraRoot1518", Imprint::kMatch, 1518, ResultOk, 2},
      {"ExtraRootKeepsMismatch", Imprint::kMismatch, 0, DigestMismatch, 2},
      {"ExtraRootFails", Imprint::kMatch, 1501, CertificateVerifyFailed, 2},
  };
  ByteString der[2];
  ASSERT_EQ(der[0].SetData("\x30\x03root-one", 10), ByteString::kOk);
  ASSERT_EQ(der[1].SetData("\x30\x03root-two", 10), ByteString::kOk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeToolkit fake;
    const Document doc = SignedDocument();
    Script script = With({}, c.imprint);
    if (c.second_verify >= 0) {
      script.results_at = {{QvtkOp::kCertVerify, 0, 1501},
                           {QvtkOp::kCertVerify, 1, c.second_verify}};
    }
    Buffers buffers;
    ExtraTrustedRoots roots;
    roots.certificates = der;
    roots.count = 2;
    EXPECT_EQ(RunPipeline(*fake, doc, script, buffers, roots), c.expected);
    EXPECT_TRUE(fake->CheckBalance().empty());
    const auto adds = fake->CallsOf(QvtkOp::kCertAddTrustedCert);
    ASSERT_EQ(adds.size(), kTrustedRootCount + c.extra_adds);
    if (c.extra_adds > 0) {
      // The extra roots come after the built-in ones and after the first verification.
      EXPECT_EQ(adds[kTrustedRootCount].bytes, std::string("\x30\x03root-one", 10));
      EXPECT_EQ(adds[kTrustedRootCount + 1].bytes, std::string("\x30\x03root-two", 10));
      EXPECT_EQ(fake->Count(QvtkOp::kCertVerify), 2u);
    }
    EXPECT_EQ(fake->Count(QvtkOp::kBinstrCreate), 3 + kTrustAnchorStrings + 2);
  }
}

TEST(PipelineTest, TooManyExtraRootsRefusedUpFront) {
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  std::vector<ByteString> many(kMaxExtraTrustedRoots + 1, ByteString("\x30\x00"));
  ExtraTrustedRoots roots;
  roots.certificates = many.data();
  roots.count = many.size();
  Buffers buffers;
  EXPECT_EQ(RunPipeline(*fake, doc, With({}), buffers, roots), ToolkitSetupFailed);
  EXPECT_TRUE(buffers.Untouched());
  EXPECT_TRUE(fake->Calls().empty());
}

// A subject name longer than the caller's buffers still arrives terminated.
TEST(PipelineTest, LongSubjectNameIsCutAndTerminated) {
  ScopedFakeToolkit fake;
  const Document doc = SignedDocument();
  const std::string long_subject = "CN=" + std::string(900, 'x');
  Buffers buffers;
  fake->SetTokenInfo({"1", "SHA256", Sha256Hex(doc.pdf.signed_content), "2", kGenTime, ""}, "C");
  fake->SetSubjectName(long_subject);
  ByteString document;
  ASSERT_EQ(document.SetData(doc.pdf.bytes.data(), static_cast<int>(doc.pdf.bytes.size())),
            ByteString::kOk);
  EXPECT_EQ(VerifyTimeStampToken(document, {buffers.gen_time(), buffers.algorithm(),
                                            buffers.imprint(), buffers.subject()}),
            ResultOk);
  EXPECT_EQ(Read(buffers.subject()), Utf16(long_subject.substr(0, kOutputUnits - 1)));
  EXPECT_EQ(buffers.subject()[kOutputUnits - 1], 0);
  EXPECT_TRUE(buffers.GuardsIntact());
}

// The multi-byte cases below are written in UTF-8, the ANSI code page on
// POSIX; under another Windows code page only the ASCII ones apply.
bool AnsiIsUtf8() {
#if defined(_WIN32)
  return GetACP() == 65001;
#else
  return true;
#endif
}

// WriteOutputText on its own: the cut, surrogate pairs, the bound on the input.
TEST(WriteOutputTextTest, CutsAtCodePointBoundaries) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16
  const std::string hangul = "\xED\x95\x9C";     // U+D55C, one unit from three bytes
  struct Case {
    const char* name;
    std::string text;
    size_t units;      // expected length without the terminator
    VrdWideChar last;  // expected unit before the terminator
  };
  const Case cases[] = {
      {"Short", "SHA256", 6, u'6'},
      {"Exactly511", std::string(511, 'a'), 511, u'a'},
      {"512Cut", std::string(512, 'b'), 511, u'b'},
      {"LongestText", std::string(1023, 'c'), 511, u'c'},
      {"PairWouldBeSplit", std::string(510, 'd') + emoji + "tail", 510, u'd'},
      {"PairFits", std::string(509, 'e') + emoji + "tail", 511, 0xDE00},
      {"ThreeByteUnits",
       [&] {
         std::string s;
         for (int i = 0; i < 400; ++i) s += hangul;  // 1200 bytes: only 1023 read
         return s;
       }(),
       341, 0xD55C},
      {"Empty", "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool ascii = std::all_of(c.text.begin(), c.text.end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    if (!ascii && !AnsiIsUtf8()) continue;
    std::array<VrdWideChar, kOutputUnits + kGuardUnits> out;
    out.fill(kSentinel);
    WriteOutputText(c.text.c_str(), out.data());
    size_t n = 0;
    while (n < out.size() && out[n] != 0) ++n;
    EXPECT_EQ(n, c.units);
    if (c.units > 0) {
      EXPECT_EQ(out[c.units - 1], c.last);
    }
    for (size_t i = c.units + 1; i < out.size(); ++i) ASSERT_EQ(out[i], kSentinel) << i;
  }
}

TEST(WriteOutputTextTest, UnterminatedInputReadOnlyTo1023Bytes) {
  std::vector<char> text(1024, 'z');  // no NUL anywhere in the 1024 bytes
  std::array<VrdWideChar, kOutputUnits> out;
  out.fill(kSentinel);
  WriteOutputText(text.data(), out.data());
  EXPECT_EQ(out[kOutputUnits - 1], 0);
  EXPECT_EQ(out[kOutputUnits - 2], u'z');
  WriteOutputText(text.data(), nullptr);  // nothing to write, nothing happens
}

}  // namespace
}  // namespace vrd
