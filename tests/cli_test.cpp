// tsverify: its helpers (argument parsing, JSON, text conversion, PEM) and the
// built command itself, run as a process on documents stamped here.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/OrderedWork.h"
#include "cli/TsVerifyCore.h"
#include "pdf/Messages.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TokenSigner.h"

namespace vrd::cli {
namespace {

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

// --- helpers ----------------------------------------------------------------

// The --all options for limits and long-term validation: values read as
// documented, anything else (or without --all) a usage error.
TEST(TsVerifyCoreTest, ParseLongTermAndLimitOptions) {
  struct Case {
    std::vector<const char*> args;
    bool ok;
    uint64_t max_inflate;
    int64_t at;
    bool strict;
  };
  const Case cases[] = {
      {{"--max-inflate", "64M"}, true, uint64_t{64} << 20, 0, false},
      {{"--max-inflate", "2048"}, true, 2048, 0, false},
      {{"--max-inflate", "1G", "--model", "strict"}, true, uint64_t{1} << 30, 0, true},
      {{"--at", "2026-01-01"}, true, 0, 1767225600, false},
      {{"--at", "2024-02-29T12:30:00Z", "--model", "point-in-time"}, true, 0, 1709209800, false},
      {{"--max-inflate", "1023"}, false, 0, 0, false},
      {{"--max-inflate", "2T"}, false, 0, 0, false},
      {{"--max-inflate", "-5M"}, false, 0, 0, false},
      {{"--max-seconds", "0"}, false, 0, 0, false},
      {{"--model", "lenient"}, false, 0, 0, false},
      {{"--at", "2026-13-01"}, false, 0, 0, false},
      {{"--at", "2026-01-01T00:00:00"}, false, 0, 0, false},
      {{"--at", "1969-12-31"}, false, 0, 0, false},
  };
  for (const bool all : {true, false}) {
    for (const Case& c : cases) {
      std::vector<const char*> argv = {"tsverify"};
      if (all) argv.push_back("--all");
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      argv.push_back("a.pdf");
      Options options;
      std::string error;
      SCOPED_TRACE(::testing::PrintToString(argv));
      const bool ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error);
      ASSERT_EQ(ok, c.ok && all) << error;
      if (!ok) continue;
      EXPECT_EQ(options.max_inflate, c.max_inflate);
      EXPECT_EQ(options.at, c.at);
      EXPECT_EQ(options.strict, c.strict);
    }
  }
}

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

// Results come out in input order whatever the threads, and once stopping
// is true no further item is taken while every item taken is emitted.
TEST(TsVerifyCoreTest, OrderedWorkKeepsOrderAndStops) {
  for (const size_t threads : {size_t{1}, size_t{2}, size_t{8}}) {
    for (const size_t stop_after : {size_t{0}, size_t{5}, size_t{1000}}) {
      std::atomic<size_t> started{0};
      std::vector<size_t> emitted;
      RunInOrder<size_t>(
          200, threads,
          [&](size_t index) {
            ++started;
            if (index % 7 == 0) std::this_thread::yield();
            return index;
          },
          [&](size_t index, const size_t& value) {
            EXPECT_EQ(index, value);
            emitted.push_back(value);
          },
          [](size_t) {}, [&]() { return started.load() >= stop_after; });
      const size_t expected = std::min<size_t>(200, stop_after);
      ASSERT_GE(emitted.size(), expected) << threads << " " << stop_after;
      EXPECT_EQ(emitted.size(), started.load());  // all taken are emitted
      for (size_t i = 0; i < emitted.size(); ++i) ASSERT_EQ(emitted[i], i);
    }
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

// The readers of tsverify's own input files stop at their limit and refuse
// directories and devices (/dev/zero never ends); text is unchanged then.
TEST(TsVerifyCoreTest, ReadWholeFileLimits) {
  const std::string path = ::testing::TempDir() + "vrd_cli_read_limit.txt";
  std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
  struct Case {
    const char* name;
    std::string path;
    size_t max_bytes;
    bool ok;
  };
  const Case cases[] = {
    {"AtTheLimit", path, 100000, true},
    {"OneByteOver", path, 99999, false},
    {"Missing", path + ".missing", 1000000, false},
#if !defined(_WIN32)
    {"DevZero", "/dev/zero", 1000000, false},
    {"DevNull", "/dev/null", 1000000, false},
    {"Directory", ::testing::TempDir(), 1000000, false},
#endif
  };
  for (const Case& c : cases) {
    std::string text = "before";
    EXPECT_EQ(ReadWholeFile(c.path, text, c.max_bytes), c.ok) << c.name;
    EXPECT_EQ(text, c.ok ? std::string(100000, 'x') : "before") << c.name;
  }
  std::remove(path.c_str());
  std::istringstream stream(std::string(200000, 'y'));
  std::string text = "before";
  EXPECT_FALSE(ReadWholeStream(stream, text, 199999));
  EXPECT_EQ(text, "before");
  std::istringstream exact(std::string(200000, 'y'));
  EXPECT_TRUE(ReadWholeStream(exact, text, 200000));
  EXPECT_EQ(text.size(), 200000u);
}

// The scanning messages join the report: a "message" key (one message per
// line) in JSON, a line each in the text block; no key without a message.
TEST(TsVerifyCoreTest, MessagesInJsonAndText) {
  FileResult r;
  r.code = 2108;
  EXPECT_EQ(FormatJson("a.pdf", r).find("\"message\""), std::string::npos);
  EXPECT_EQ(FormatText("a.pdf", r).find("message:"), std::string::npos);
  r.messages = {"first \"one\"", "\xEC\x9D\xB8second"};
  const std::string json = FormatJson("a.pdf", r);
  EXPECT_NE(json.find(",\"message\":\"first \\\"one\\\"\\n\xEC\x9D\xB8second\"}"),
            std::string::npos)
      << json;
  const std::string text = FormatText("a.pdf", r);
  EXPECT_NE(text.find("\n  message:       first \"one\"\n  message:       \xEC\x9D\xB8second\n"),
            std::string::npos)
      << text;
}

// VerifyFile collects the library's messages in UTF-8 and lets none of them
// reach standard output.
TEST(TsVerifyCoreTest, VerifyFileCollectsMessages) {
  const std::string path = ::testing::TempDir() + "vrd_cli_collects_messages.pdf";
  std::ofstream(path, std::ios::binary) << "%PDF-1.7\nstartxref\n9\n%%EOX\n";
  ::testing::internal::CaptureStdout();
  const FileResult first = VerifyFile(path, {});
  const FileResult second = VerifyFile(path, {});
  const std::string out = ::testing::internal::GetCapturedStdout();
  std::remove(path.c_str());
  EXPECT_EQ(out, "");
  EXPECT_EQ(first.code, 2108);
  const std::vector<std::string> expected = {PdfMessageUtf8Text(PdfMessage::kEofNotFound)};
  EXPECT_EQ(first.messages, expected);
  EXPECT_EQ(second.messages, expected);  // each file gets its own, none carried over
}

// --- the command --------------------------------------------------------------
// --help and --version stand alone; anything wrong beside them is still an error.
TEST(TsVerifyCoreTest, ParseHelpAndVersion) {
  struct Case {
    std::vector<const char*> args;
    bool ok;
    bool help;
    bool version;
  };
  const Case cases[] = {
      {{"--version"}, true, false, true},
      {{"--help"}, true, true, false},
      {{"-h"}, true, true, false},
      {{"--version", "a.pdf"}, true, false, true},
      {{"--version", "--bogus"}, false, false, false},
      {{"--versions"}, false, false, false},
      {{"-version"}, false, false, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"tsverify"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options options;
    std::string error;
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ASSERT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error), c.ok)
        << error;
    if (!c.ok) continue;
    EXPECT_EQ(options.help, c.help);
    EXPECT_EQ(options.version, c.version);
  }
}

// The manual page (cli/tsverify.1) keeps up with the command: every option of
// the usage text and every key of the JSON output is documented there.
TEST(TsVerifyManualTest, DocumentsEveryOptionAndJsonKey) {
  std::ifstream in(std::string(VRD_SOURCE_DIR) + "/cli/tsverify.1", std::ios::binary);
  ASSERT_TRUE(in.good());
  std::string manual(std::istreambuf_iterator<char>(in), {});
  // roff writes a hyphen as "\-".
  for (size_t at = manual.find("\\-"); at != std::string::npos; at = manual.find("\\-", at)) {
    manual.erase(at, 1);
  }
  const std::regex option_pattern("(^|[\\s,])(--?[a-z][a-z-]*)");
  const std::string usage = UsageText();
  size_t options = 0;
  for (std::sregex_iterator it(usage.begin(), usage.end(), option_pattern), end; it != end; ++it) {
    const std::string option = (*it)[2];
    ++options;
    EXPECT_NE(manual.find(option), std::string::npos) << option << " is not in tsverify.1";
  }
  EXPECT_GE(options, 6u);

  const size_t json_start = manual.find(".SH JSON OUTPUT");
  ASSERT_NE(json_start, std::string::npos);
  const std::string json_section =
      manual.substr(json_start, manual.find(".SH", json_start + 1) - json_start);
  FileResult result;
  result.code = 2108;
  const std::string json = FormatJson("a.pdf", result);
  const std::regex key_pattern("\"([A-Za-z]+)\":");
  size_t keys = 0;
  for (std::sregex_iterator it(json.begin(), json.end(), key_pattern), end; it != end; ++it) {
    const std::string key = (*it)[1];
    ++keys;
    EXPECT_TRUE(std::regex_search(json_section, std::regex("\\b" + key + "\\b")))
        << "JSON key " << key << " is not in tsverify.1";
  }
  EXPECT_GE(keys, 7u);
}

// Run through a POSIX shell (quoting, redirection), so not on Windows.
#if !defined(_WIN32)

struct CommandRun {
  int status = -1;
  std::string out;
};

// pipe_to: empty, or "| command" that reads tsverify's standard output; the
// status is then that command's.
CommandRun Execute(const std::string& arguments, const std::string& stdin_text = "",
                   const std::string& pipe_to = "") {
  const std::string dir = ::testing::TempDir();
  const std::string out_path = dir + "vrd_cli_out_" + std::to_string(::getpid());
  const std::string in_path = dir + "vrd_cli_in_" + std::to_string(::getpid());
  std::ofstream(in_path, std::ios::binary) << stdin_text;
  // timeout: a command that blocks fails with status 124 instead of hanging.
  const std::string command = std::string("timeout 120 '") + VRD_TSVERIFY + "' " + arguments +
                              " < '" + in_path + "' 2>/dev/null " + pipe_to + " > '" + out_path +
                              "'";
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

// The version line comes from the project, the crypto line from the library
// the toolkit loaded (the one this test process loaded too), not from headers.
TEST_F(CommandTest, VersionNamesProjectAndRuntimeCryptoLibrary) {
  const CommandRun run = Execute("--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("tsverify ") + VRD_VERSION +
                         "\ncrypto library: " + OpenSSL_version(OPENSSL_VERSION) + "\n");
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

// Documents whose scan writes a message, mixed with good ones, with one and
// with several jobs: the JSON lines parse with jq, each message sits in its
// own file's line, in order, and no raw code-page-949 byte escapes.
TEST_F(CommandTest, JsonWithMessagesParsesWithJq) {
  if (std::system("command -v jq >/dev/null 2>&1") != 0) GTEST_SKIP() << "jq is not installed";
  const std::string tag = std::to_string(::getpid());
  const std::string truncated = ::testing::TempDir() + "vrd_cli_truncated_" + tag + ".pdf";
  const std::string no_eof = ::testing::TempDir() + "vrd_cli_noeof_" + tag + ".pdf";
  std::string good_bytes;
  ASSERT_TRUE(ReadWholeFile(*good_, good_bytes));
  std::ofstream(truncated, std::ios::binary) << good_bytes.substr(0, good_bytes.size() / 2);
  std::string changed = good_bytes;
  changed.replace(changed.rfind("%%EOF"), 5, "%%EOX");
  std::ofstream(no_eof, std::ios::binary) << changed;

  const std::vector<std::string> files = {truncated, *good_, no_eof, truncated, *good_, no_eof};
  std::string arguments;
  for (const std::string& file : files) arguments += " " + Quote(file);
  const std::string startxref = PdfMessageUtf8Text(PdfMessage::kStartxrefNotFound);
  const std::string eof = PdfMessageUtf8Text(PdfMessage::kEofNotFound);
  const std::string expected[] = {startxref, "", eof, startxref, "", eof};
  for (const char* jobs : {"-j 1", "-j 4"}) {
    SCOPED_TRACE(jobs);
    const CommandRun raw = Execute(std::string(jobs) + " --json " + Anchor() + arguments);
    EXPECT_EQ(raw.status, 1);
    EXPECT_EQ(raw.out.find(PdfMessageText(PdfMessage::kStartxrefNotFound)), std::string::npos);
    EXPECT_EQ(raw.out.find(PdfMessageText(PdfMessage::kEofNotFound)), std::string::npos);
    // jq's own exit status decides: any line that is not JSON fails the pipe.
    const CommandRun parsed = Execute(std::string(jobs) + " --json " + Anchor() + arguments, "",
                                      "| jq -r '.message // \"\"'");
    ASSERT_EQ(parsed.status, 0) << raw.out;
    std::vector<std::string> messages;
    for (size_t start = 0, end; start < parsed.out.size(); start = end + 1) {
      end = parsed.out.find('\n', start);
      if (end == std::string::npos) end = parsed.out.size();
      messages.push_back(parsed.out.substr(start, end - start));
    }
    EXPECT_EQ(messages, std::vector<std::string>(std::begin(expected), std::end(expected)))
        << parsed.out;
  }
  const CommandRun text = Execute(Anchor() + Quote(truncated) + " " + Quote(*good_));
  EXPECT_NE(text.out.find(truncated + "\n  result:        2108"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\n  message:       " + startxref + "\n" + *good_ + "\n"),
            std::string::npos)
      << text.out;
  std::remove(truncated.c_str());
  std::remove(no_eof.c_str());
}

// A --trust-anchor or --files-from file that never ends (/dev/zero) or is
// a directory is a usage error at once, not an endless read.
TEST_F(CommandTest, EndlessInputFilesAreRefused) {
  for (const std::string& arguments :
       {"--trust-anchor /dev/zero " + Quote(*good_), std::string("--files-from /dev/zero"),
        "--trust-anchor " + Quote(::testing::TempDir()) + " " + Quote(*good_),
        "--files-from " + Quote(::testing::TempDir())}) {
    EXPECT_EQ(Execute(arguments).status, 2) << arguments;
  }
}

// Paths of directories, FIFOs, devices and sockets are reported as 2104 at
// once (timeout ends the command if it ever blocks: status 124).
TEST_F(CommandTest, SpecialFilesAreUnreadableAtOnce) {
  const test::SpecialFiles special(::testing::TempDir(), "cli");
  std::string arguments;
  for (const test::SpecialFile& file : special.files()) arguments += " " + Quote(file.path);
  const CommandRun run = Execute("-j 3 --json" + arguments + " " + Quote(*good_));
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> lines = SplitFileList(run.out);
  ASSERT_EQ(lines.size(), special.files().size() + 1) << run.out;
  for (size_t i = 0; i < special.files().size(); ++i) {
    EXPECT_NE(lines[i].find("\"code\":2104,"), std::string::npos) << lines[i];
  }
  EXPECT_NE(lines.back().find("\"code\":2109,"), std::string::npos) << lines.back();
}

// --all reads each file the way the library does: a FIFO or a device is a
// per-file error at once, never a blocked open, and the good file still
// gets its report.
TEST_F(CommandTest, SpecialFilesAreUnreadableAtOnceWithAll) {
  const test::SpecialFiles special(::testing::TempDir(), "cli_all");
  std::string arguments;
  for (const test::SpecialFile& file : special.files()) arguments += " " + Quote(file.path);
  const CommandRun run = Execute("--all --json" + arguments + " " + Quote(*good_));
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> lines = SplitFileList(run.out);
  ASSERT_EQ(lines.size(), special.files().size() + 1) << run.out;
  for (size_t i = 0; i < special.files().size(); ++i) {
    EXPECT_NE(lines[i].find("\"error\":\"the file cannot be read\""), std::string::npos)
        << lines[i];
    EXPECT_NE(lines[i].find("\"library\":{\"code\":2104,"), std::string::npos) << lines[i];
  }
  EXPECT_NE(lines.back().find("\"error\":\"\""), std::string::npos) << lines.back();
}

// A failed write stops the run with status 2, for plain runs and --all.
TEST_F(CommandTest, WriteErrorsEndTheRunWithStatus2) {
  for (const char* mode : {"", "--json", "--all --json"}) {
    const std::string command = std::string("timeout 120 '") + VRD_TSVERIFY + "' " + mode + " " +
                                Quote(*good_) + " 2>/dev/null >/dev/full";
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << mode << ": " << raw;
  }
}

// SIGTERM in the middle of a long batch: status 143 and only whole lines.
TEST_F(CommandTest, TerminatedBatchLeavesWholeLines) {
  const std::string dir = ::testing::TempDir();
  const std::string tag = std::to_string(::getpid());
  const std::string list = dir + "vrd_cli_term_list_" + tag;
  const std::string out = dir + "vrd_cli_term_out_" + tag;
  {
    std::ofstream paths(list);
    for (int i = 0; i < 50000; ++i) paths << *good_ << "\n";
  }
  for (const char* mode : {"--json", "--all --json"}) {
    const std::string command = "'" + std::string(VRD_TSVERIFY) + "' " + mode + " --files-from " +
                                Quote(list) + " > " + Quote(out) +
                                " 2>/dev/null & pid=$!; sleep 0.5; kill -TERM $pid; wait $pid";
    const int raw = std::system(("sh -c " + Quote(command)).c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 143) << mode << ": " << raw;
    std::ifstream in(out, std::ios::binary);
    size_t lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
      ASSERT_TRUE(line.size() > 2 && line.front() == '{' && line.back() == '}')
          << mode << " line " << lines << ": " << line.substr(0, 80);
    }
    EXPECT_GT(lines, 0u) << mode;
    EXPECT_LT(lines, 50000u) << mode;
  }
  std::remove(list.c_str());
  std::remove(out.c_str());
}

#endif  // !_WIN32

}  // namespace
}  // namespace vrd::cli
