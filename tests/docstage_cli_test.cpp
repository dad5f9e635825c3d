// tsverify names the document stage's failure: every golden document whose
// structure or token cut fails gets the right "reason" in --json output and
// the "reason:" line in text output; documents that pass the stage get none.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/DocStageGolden.h"

namespace vrd {
namespace {

// Written by hand from what each document was made to break; "" means the
// document stage passes.
const std::map<std::string, std::string>& ExpectedReasons() {
  static const std::map<std::string, std::string> kReasons = {
      {"fuzz/corpus/assemble_fuzz/broken-imprint-bracket", "ERR_NOT_IMPRINTINFOPOS"},
      {"fuzz/corpus/assemble_fuzz/broken-no-eof", "ERR_NOT_XREF"},
      {"fuzz/corpus/assemble_fuzz/broken-no-trailer", "ERR_NOT_XREF"},
      {"fuzz/corpus/assemble_fuzz/fallback", ""},
      {"fuzz/corpus/assemble_fuzz/no-space-contents", ""},
      {"fuzz/corpus/assemble_fuzz/odd-ranges", ""},
      {"fuzz/corpus/assemble_fuzz/plain-crlf", ""},
      {"fuzz/corpus/assemble_fuzz/plain-lf", ""},
      {"fuzz/corpus/assemble_fuzz/seal-crlf", ""},
      {"fuzz/corpus/assemble_fuzz/seal-encrypted", ""},
      {"fuzz/corpus/assemble_fuzz/seal-lf", ""},
      {"fuzz/corpus/toolkit_fuzz/ca-pubs", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/cms-data", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/root-base64", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/token-expired", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/token-sha256", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/token-sha512", "ERR_NOT_XREF"},
      {"fuzz/corpus/toolkit_fuzz/tsa", "ERR_NOT_XREF"},
      {"samples/sample.pdf", ""},
      {"generated/empty", "ERR_NOT_XREF"},
      {"generated/stamped-lf", ""},
      {"generated/stamped-crlf", ""},
      {"generated/stamped-no-final-eol", ""},
      {"generated/seal-lf", ""},
      {"generated/seal-encrypted", ""},
      {"generated/unstamped", "ERR_NOT_FALLBACKDER"},
      {"generated/no-startxref", "ERR_NOT_XREF"},
      {"generated/no-eof", "ERR_NOT_XREF"},
      {"generated/no-trailer", "ERR_NOT_XREF"},
      {"generated/no-byterange", "ERR_NOT_BYTERANGESTR"},
      {"generated/no-byterange-end", "ERR_NOT_BYTERANGEEND"},
      {"generated/imprint-no-bracket", "ERR_NOT_IMPRINTINFOPOS"},
      {"generated/imprint-no-object", "ERR_NOT_IMPRINTINFO"},
      {"generated/imprint-no-stream", "ERR_NOT_IMPRINTINFO"},
      {"generated/imprint-no-endstream", ""},
      {"generated/contents-not-hex", "ERR_NOT_CONTENTSSTR"},
      {"generated/contents-no-close", "ERR_NOT_CONTENTSEND"},
      {"generated/fallback-no-contents", "ERR_NOT_FALLBACKCONTENTS"},
  };
  return kReasons;
}

std::string RunTsverify(const std::string& arguments) {
  const std::string out_path =
      ::testing::TempDir() + "vrd_reason_out_" + std::to_string(::getpid());
  const std::string command =
      std::string("'") + VRD_TSVERIFY + "' " + arguments + " > '" + out_path + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status)) << command;
  std::ifstream in(out_path, std::ios::binary);
  std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(out_path.c_str());
  return out;
}

// The "reason" value of a JSON line, or "" when the key is absent.
std::string ReasonOf(const std::string& json) {
  const std::string key = "\"reason\":\"";
  const size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const size_t value = at + key.size();
  return json.substr(value, json.find('"', value) - value);
}

TEST(DocStageCliTest, JsonAndTextNameTheFailure) {
  std::vector<test::GoldenDocument> documents;
  ASSERT_TRUE(test::GoldenDocuments(VRD_SOURCE_DIR, documents));
  ASSERT_EQ(documents.size(), ExpectedReasons().size());
  const std::string path =
      ::testing::TempDir() + "vrd_reason_doc_" + std::to_string(::getpid()) + ".pdf";
  for (const auto& document : documents) {
    SCOPED_TRACE(document.name);
    const auto expected = ExpectedReasons().find(document.name);
    ASSERT_NE(expected, ExpectedReasons().end());
    std::ofstream(path, std::ios::binary) << document.bytes;
    const std::string json = RunTsverify("--json '" + path + "'");
    EXPECT_EQ(ReasonOf(json), expected->second) << json;
    const std::string text = RunTsverify("'" + path + "'");
    const size_t line = text.find("  reason:        ");
    if (expected->second.empty()) {
      EXPECT_EQ(line, std::string::npos) << text;
    } else {
      ASSERT_NE(line, std::string::npos) << text;
      EXPECT_EQ(text.compare(line + 17, expected->second.size() + 2, expected->second + " ("), 0)
          << text;
    }
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vrd
