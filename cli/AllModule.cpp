#include "cli/AllModule.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/AllReport.h"
#include "cli/TsVerifyCore.h"

extern "C" __attribute__((visibility("default"))) int VrdTsverifyAllMain1(int argc, char** argv) {
  try {
    vrd::cli::Options options;
    std::string error;
    if (!vrd::cli::ParseCommandLine(argc, argv, options, error) || !options.all) {
      std::fprintf(stderr, "tsverify: %s\n", error.empty() ? "--all expected" : error.c_str());
      return vrd::cli::kExitUsage;
    }
    std::vector<vrd::ByteString> roots;
    std::vector<std::string> files;
    if (!vrd::cli::LoadRunInputs(options, roots, files)) return vrd::cli::kExitUsage;
    return vrd::cli::RunAll(options, roots, files);
  } catch (...) {
    std::fprintf(stderr, "tsverify: --all stopped: out of memory or threads\n");
    return vrd::cli::kExitUsage;
  }
}
