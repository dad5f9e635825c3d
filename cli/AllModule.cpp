#include "cli/AllModule.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "cli/AllFile.h"
#include "cli/AllReport.h"
#include "cli/BatchOutput.h"
#include "cli/OrderedWork.h"
#include "cli/TsVerifyCore.h"
#include "report/Report.h"
#include "report/TokenReport.h"

namespace vrd {
namespace cli {
namespace {

// False once the trust sources are known not to load (not before they are
// loaded: a worker may go on with the library's verdict meanwhile).
bool TrustLoaded(const std::shared_future<bool>& ready) {
  return ready.wait_for(std::chrono::seconds(0)) != std::future_status::ready || ready.get();
}

// The largest --revocation file read (a CRL of millions of entries).
constexpr size_t kMaxRevocationFileBytes = size_t{256} << 20;

// Every file in the order given, -j N at a time; the exit status.
int RunAll(const Options& options, const std::vector<ByteString>& extra_roots,
           const std::vector<std::string>& files) {
  report::TrustSettings settings = AllTrustSettings(extra_roots, options.system_roots);
  for (const std::string& file : options.revocation_files) {
    std::string item;
    if (!ReadWholeFile(file, item, kMaxRevocationFileBytes)) {
      std::fprintf(stderr, "tsverify: cannot read --revocation file %s\n", file.c_str());
      return kExitUsage;
    }
    settings.revocation_items.push_back(std::move(item));
  }
  const report::ReportOptions report_options = AllReportOptions(options);
  // Loaded once for the run, while the first files have the library's
  // verdict made: every file and worker reads the same sources.
  report::TrustSources trust;
  std::string trust_error;
  const std::shared_future<bool> trust_ready =
      std::async(std::launch::async, [&]() { return trust.Load(settings, &trust_error); }).share();
  // Each worker formats its own file's output; the queue only writes it.
  struct Printed {
    std::string text;
    int exit = kExitVerified;
  };
  int worst = files.empty() ? kExitNotVerified : kExitVerified;
  BatchOutput output;
  RunInOrder<Printed>(
      files.size(), static_cast<size_t>(options.jobs),
      [&](size_t index) {
        const AllResult result =
            ReportFile(files[index], trust, trust_ready, extra_roots, report_options);
        return Printed{options.json ? FormatAllJson(files[index], result) + "\n"
                                    : FormatAllText(files[index], result),
                       result.ExitStatus()};
      },
      [&](size_t, const Printed& printed) {
        if (trust_ready.get() && output.Write(printed.text)) {
          worst = WorseExitStatus(worst, printed.exit);
        }
      },
      [](size_t) {}, [&]() { return output.Stopping() || !TrustLoaded(trust_ready); });
  if (!trust_ready.get()) {
    std::fprintf(stderr, "tsverify: %s\n", trust_error.c_str());
    return kExitUsage;
  }
  return output.ExitStatus(worst);
}

}  // namespace
}  // namespace cli
}  // namespace vrd

extern "C" VRD_MODULE_EXPORT int VrdTsverifyAllMain1(int argc, char** argv) {
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
