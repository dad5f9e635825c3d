// Writes the document stage's record of every golden document, one line
// each: "<name> <record>" (tests/support/DocStageGolden.h). Usage:
//   docstage_golden_gen <repository root> > tests/data/docstage_golden.txt
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/DocStageGolden.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <repository root>\n", argv[0]);
    return 2;
  }
  std::vector<vrd::test::GoldenDocument> documents;
  if (!vrd::test::GoldenDocuments(argv[1], documents)) {
    fprintf(stderr, "cannot read or build the golden documents\n");
    return 1;
  }
  std::string table;
  for (const auto& document : documents) {
    table += document.name + " " + vrd::test::DocStageRecord(document.bytes) + "\n";
  }
  fwrite(table.data(), 1, table.size(), stdout);
  return 0;
}
