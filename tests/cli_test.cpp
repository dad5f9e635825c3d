// tsverify: its helpers (argument parsing, JSON, text conversion, PEM) and the
// built command itself, run as a process on documents stamped here.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/TsVerifyCore.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"

namespace vrd::cli {
namespace {

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

// --- helpers ----------------------------------------------------------------

TEST(TsVerifyCoreTest, ParseCommandLine) {
  struct Case {
    std::vector<const char*> args;
    bool ok;
    bool json;
    int jobs;
    size_t files;
    size_t anchors;
  };
  const Case cases[] = {
      {{"a.pdf"}, true, false, 1, 1, 0},
      {{"--json", "a.pdf", "b.pdf"}, true, true, 1, 2, 0},
      {{"-j", "4", "a.pdf"}, true, false, 4, 1, 0},
      {{"-j8", "a.pdf"}, true, false, 8, 1, 0},
      {{"--trust-anchor", "r.pem", "--trust-anchor", "s.pem", "a"}, true, false, 1, 1, 2},
      {{"--files-from", "-"}, true, true, 1, 0, 0},
      {{"--", "-odd-name.pdf"}, true, false, 1, 1, 0},
      {{}, false, false, 1, 0, 0},
      {{"--json"}, false, false, 1, 0, 0},
      {{"-j", "0", "a.pdf"}, false, false, 1, 0, 0},
      {{"-j", "x", "a.pdf"}, false, false, 1, 0, 0},
      {{"-j"}, false, false, 1, 0, 0},
      {{"--trust-anchor"}, false, false, 1, 0, 0},
      {{"--bogus", "a.pdf"}, false, false, 1, 0, 0},
      {{"--files-from", "list", "a.pdf"}, false, false, 1, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"tsverify"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options options;
    std::string error;
    const bool ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ASSERT_EQ(ok, c.ok) << error;
    if (!ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(options.json, c.json);
    EXPECT_EQ(options.jobs, c.jobs);
    EXPECT_EQ(options.files.size(), c.files);
    EXPECT_EQ(options.trust_anchor_files.size(), c.anchors);
  }
}

TEST(TsVerifyCoreTest, JsonStringEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\tnl\ncr\r", "\"tab\\tnl\\ncr\\r\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {"\xED\x95\x9C\xEA\xB8\x80", "\"\xED\x95\x9C\xEA\xB8\x80\""},  // valid UTF-8 passes
      {"bad\xFF", "\"bad\xEF\xBF\xBD\""},                            // invalid byte
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // UTF-8 surrogate
      {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\""},  // truncated sequence: one maximal subpart
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(JsonString(in), expected) << in;
}

TEST(TsVerifyCoreTest, Utf16ToUtf8) {
  const VrdWideChar korean[] = {0xD55C, 0xAE00, 0};
  EXPECT_EQ(Utf16ToUtf8(korean, 512), "\xED\x95\x9C\xEA\xB8\x80");
  const VrdWideChar pair[] = {'a', 0xD83D, 0xDE00, 0};
  EXPECT_EQ(Utf16ToUtf8(pair, 512), "a\xF0\x9F\x98\x80");
  const VrdWideChar lone[] = {0xDE00, 'x', 0xD83D, 0};
  EXPECT_EQ(Utf16ToUtf8(lone, 512), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  const VrdWideChar unterminated[] = {'a', 'b', 'c'};
  EXPECT_EQ(Utf16ToUtf8(unterminated, 2), "ab");
  EXPECT_EQ(Utf16ToUtf8(nullptr, 5), "");
}

TEST(TsVerifyCoreTest, PemCertificates) {
  const std::string der = test::CertificateDerFromPem(kPki + "root.pem");
  ASSERT_FALSE(der.empty());
  std::string pem;
  ASSERT_TRUE(ReadWholeFile(kPki + "root.pem", pem));
  std::vector<ByteString> roots;
  ASSERT_TRUE(ParsePemCertificates(pem, roots));
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(std::string(roots[0].GetData(), static_cast<size_t>(roots[0].GetLength())), der);
  ASSERT_TRUE(ParsePemCertificates("junk before\n" + pem + pem, roots));
  EXPECT_EQ(roots.size(), 3u);
  ASSERT_TRUE(ParsePemCertificates(der, roots));  // raw DER
  EXPECT_EQ(roots.size(), 4u);
  std::string broken = pem;
  broken.insert(broken.find('\n') + 5, "!");
  EXPECT_FALSE(ParsePemCertificates(broken, roots));
  EXPECT_FALSE(ParsePemCertificates("no certificate here", roots));
  EXPECT_FALSE(ParsePemCertificates("-----BEGIN CERTIFICATE-----\nAAAA\n", roots));
  EXPECT_EQ(roots.size(), 4u);
}

TEST(TsVerifyCoreTest, SplitFileList) {
  EXPECT_EQ(SplitFileList("a.pdf\r\n\nb c.pdf\nlast"),
            (std::vector<std::string>{"a.pdf", "b c.pdf", "last"}));
  EXPECT_TRUE(SplitFileList("\n\r\n").empty());  // a CR LF line is empty too
  EXPECT_TRUE(SplitFileList("").empty());
}

TEST(TsVerifyCoreTest, ResultNamesAndJsonObject) {
  FileResult r;
  r.code = 2101;
  r.gen_time = "2024-01-01T00:00:00Z";
  r.hash_algorithm = "SHA256";
  r.hashed_message = "ab";
  r.subject_name = "CN=\"x\"";
  EXPECT_EQ(FormatJson("d\\q.pdf", r),
            "{\"file\":\"d\\\\q.pdf\",\"code\":2101,\"result\":\"DigestMismatch\","
            "\"genTime\":\"2024-01-01T00:00:00Z\",\"hashAlgorithm\":\"SHA256\","
            "\"hashedMessage\":\"ab\",\"subjectName\":\"CN=\\\"x\\\"\"}");
  for (int code : {0, 2101, 2103, 2104, 2105, 2106, 2107, 2108, 2109, 2110}) {
    EXPECT_STRNE(ResultName(code), "Unknown") << code;
    EXPECT_STRNE(ResultMeaning(code), "unknown result code") << code;
  }
  EXPECT_STREQ(ResultName(2102), "Unknown");
}

// --- the command --------------------------------------------------------------
// Run through a POSIX shell (quoting, redirection), so not on Windows.
#if !defined(_WIN32)

struct CommandRun {
  int status = -1;
  std::string out;
};

CommandRun Execute(const std::string& arguments, const std::string& stdin_text = "") {
  const std::string dir = ::testing::TempDir();
  const std::string out_path = dir + "vrd_cli_out_" + std::to_string(::getpid());
  const std::string in_path = dir + "vrd_cli_in_" + std::to_string(::getpid());
  std::ofstream(in_path, std::ios::binary) << stdin_text;
  const std::string command = std::string("'") + VRD_TSVERIFY + "' " + arguments + " < '" +
                              in_path + "' > '" + out_path + "' 2>/dev/null";
  CommandRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(out_path, std::ios::binary);
  run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(out_path.c_str());
  std::remove(in_path.c_str());
  return run;
}

class CommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::TokenSigner signer;
    ASSERT_TRUE(signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem"));
    test::PdfDocument pdf;
    ASSERT_TRUE(test::PdfBuilder(test::PdfOptions{}).Build(pdf));
    std::string token;
    ASSERT_TRUE(signer.Sign(pdf.signed_content, test::ImprintHash::kSha256, token));
    ASSERT_TRUE(test::EmbedToken(pdf, token));
    // Per process: CTest may run the cases of this suite side by side.
    const std::string tag = std::to_string(::getpid());
    good_ = new std::string(::testing::TempDir() + "vrd_cli_good_" + tag + ".pdf");
    altered_ = new std::string(::testing::TempDir() + "vrd_cli_altered_" + tag + ".pdf");
    std::ofstream(*good_, std::ios::binary) << pdf.bytes;
    std::string changed = pdf.bytes;
    changed[changed.find("Signed with")] = 's';
    std::ofstream(*altered_, std::ios::binary) << changed;
  }
  static void TearDownTestSuite() {
    std::remove(good_->c_str());
    std::remove(altered_->c_str());
    delete good_;
    delete altered_;
  }
  static std::string Quote(const std::string& s) { return "'" + s + "'"; }
  static std::string Anchor() { return "--trust-anchor " + Quote(kPki + "root.pem") + " "; }

  static std::string* good_;
  static std::string* altered_;
};
std::string* CommandTest::good_ = nullptr;
std::string* CommandTest::altered_ = nullptr;

TEST_F(CommandTest, ExitStatusAndText) {
  const CommandRun ok = Execute(Anchor() + Quote(*good_));
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("0 ResultOk"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("hashAlgorithm: SHA256"), std::string::npos) << ok.out;

  const CommandRun builtin = Execute(Quote(*good_));
  EXPECT_EQ(builtin.status, 1);
  EXPECT_NE(builtin.out.find("2109 CertificateVerifyFailed"), std::string::npos) << builtin.out;

  const CommandRun mixed = Execute(Anchor() + Quote(*good_) + " " + Quote(*altered_));
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.out.find("2101 DigestMismatch"), std::string::npos) << mixed.out;
  EXPECT_LT(mixed.out.find(*good_), mixed.out.find(*altered_));
}

TEST_F(CommandTest, UsageErrors) {
  EXPECT_EQ(Execute("").status, 2);
  EXPECT_EQ(Execute("--frobnicate " + Quote(*good_)).status, 2);
  EXPECT_EQ(Execute("-j 0 " + Quote(*good_)).status, 2);
  EXPECT_EQ(Execute("--trust-anchor /nonexistent.pem " + Quote(*good_)).status, 2);
  EXPECT_EQ(Execute("--trust-anchor " + Quote(*good_) + " " + Quote(*good_)).status, 2);
  EXPECT_EQ(Execute("--files-from /nonexistent.list").status, 2);
  const CommandRun help = Execute("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"--json", "--trust-anchor", "-j N", "--files-from", "Exit status"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CommandTest, JsonLinesFromStandardInputInOrder) {
  const std::string list = *good_ + "\n" + *altered_ + "\n/nonexistent/x.pdf\n" + *good_ + "\n";
  for (const char* jobs : {"-j 1 ", "-j 3 "}) {
    SCOPED_TRACE(jobs);
    const CommandRun run = Execute(std::string(jobs) + Anchor() + "--files-from -", list);
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> lines = SplitFileList(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    const std::pair<int, const char*> expected[] = {
        {0, "ResultOk"}, {2101, "DigestMismatch"}, {2104, "FileUnreadable"}, {0, "ResultOk"}};
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      EXPECT_EQ(line.front(), '{');
      EXPECT_EQ(line.back(), '}');
      for (const char* key : {"\"file\":", "\"code\":", "\"result\":", "\"genTime\":",
                              "\"hashAlgorithm\":", "\"hashedMessage\":", "\"subjectName\":"}) {
        EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
      }
      EXPECT_NE(line.find("\"code\":" + std::to_string(expected[i].first) + ","), std::string::npos)
          << line;
      EXPECT_NE(line.find(std::string("\"result\":\"") + expected[i].second + "\""),
                std::string::npos)
          << line;
    }
    EXPECT_NE(lines[2].find("\"hashAlgorithm\":\"\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"hashAlgorithm\":\"SHA256\""), std::string::npos);
  }
  EXPECT_EQ(Execute(Anchor() + "--files-from -", *good_ + "\r\n").status, 0);
}

#endif  // !_WIN32

}  // namespace
}  // namespace vrd::cli
