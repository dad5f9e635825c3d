// The document stage gives, on every golden document, exactly the record
// tests/data/docstage_golden.txt holds: the same result code, the same
// hashed bytes, the same token bytes and the same standard-output bytes as
// the stage did when the table was written.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/DocStageGolden.h"

namespace vrd {
namespace {

std::map<std::string, std::string> ReadGoldenTable() {
  std::map<std::string, std::string> table;
  std::ifstream in(std::string(VRD_TEST_DATA_DIR) + "/docstage_golden.txt");
  std::string line;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    table[line.substr(0, space)] = line.substr(space + 1);
  }
  return table;
}

TEST(DocStageGoldenTest, EveryDocumentGivesItsRecordedResult) {
  const std::map<std::string, std::string> table = ReadGoldenTable();
  std::vector<test::GoldenDocument> documents;
  ASSERT_TRUE(test::GoldenDocuments(VRD_SOURCE_DIR, documents));
  ASSERT_EQ(table.size(), documents.size());
  for (const auto& document : documents) {
    const auto recorded = table.find(document.name);
    ASSERT_NE(recorded, table.end()) << document.name;
    EXPECT_EQ(test::DocStageRecord(document.bytes), recorded->second) << document.name;
    EXPECT_EQ(test::DocStageRecord(document.bytes, /*borrowed=*/true), recorded->second)
        << document.name << " (borrowed bytes)";
  }
}

}  // namespace
}  // namespace vrd
