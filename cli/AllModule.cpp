#include "cli/AllModule.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "api/ComputedDigest.h"
#include "api/ResultCodes.h"
#include "api/VerifyDocumentFile.h"
#include "cli/AllReport.h"
#include "cli/BatchOutput.h"
#include "cli/OrderedWork.h"
#include "cli/TsVerifyCore.h"
#include "report/Report.h"
#include "report/TokenReport.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd {
namespace cli {
namespace {

// One file, opened once: the library's verdict (as QVTSPdfSigVerifyF gives
// it) and the report both read the same open file, and a document small
// enough for the library to load whole is read once, for both.
// trust_ready: true once the run's trust sources are loaded, false when they
// cannot be (the report is then not made).
AllResult ReportFile(const std::string& path, const report::TrustSources& trust,
                     const std::shared_future<bool>& trust_ready,
                     const std::vector<ByteString>& extra_roots) {
  AllResult result;
  DocumentFile file;
  if (file.Open(path.c_str()) != kLoadOk) {
    result.library_code = FileUnreadable;
    result.report.error = "the file cannot be read";
    return result;
  }
  ByteString whole;
  const bool loaded =
      file.size() <= FileReadPlan{}.load_whole_up_to && LoadFile(file, whole) == kLoadOk;
  // The library's digest of the signed content serves the report's
  // time-stamp over the same bytes: a large document is hashed once.
  ComputedDigest computed;
  result.library_code =
      VerifyOpenFile(file, loaded ? &whole : nullptr, extra_roots, &computed).code;
  if (!trust_ready.get()) return result;
  const report::ReportStatus status =
      loaded ? report::BuildReport(whole.GetBytes(), static_cast<size_t>(whole.GetLength()), trust,
                                   &result.report, &computed)
             : report::BuildReportFromFile(file, trust, &result.report, &computed);
  result.opened = status == report::ReportStatus::kOk;
  return result;
}

// False once the trust sources are known not to load (not before they are
// loaded: a worker may go on with the library's verdict meanwhile).
bool TrustLoaded(const std::shared_future<bool>& ready) {
  return ready.wait_for(std::chrono::seconds(0)) != std::future_status::ready || ready.get();
}

// Every file in the order given, -j N at a time; the exit status.
int RunAll(const Options& options, const std::vector<ByteString>& extra_roots,
           const std::vector<std::string>& files) {
  report::TrustSettings settings;
  for (const ByteString& root : extra_roots) {
    settings.extra_roots.emplace_back(root.GetData(), static_cast<size_t>(root.GetLength()));
  }
  settings.system_roots = options.system_roots;
  // Loaded once for the run, while the first files have the library's
  // verdict made: every file and worker reads the same sources.
  report::TrustSources trust;
  std::string trust_error;
  const std::shared_future<bool> trust_ready =
      std::async(std::launch::async, [&]() { return trust.Load(settings, &trust_error); }).share();
  // Each worker formats its own file's output; the queue only writes it.
  struct Printed {
    std::string text;
    bool verified = false;
  };
  bool all_verified = !files.empty();
  BatchOutput output;
  RunInOrder<Printed>(
      files.size(), static_cast<size_t>(options.jobs),
      [&](size_t index) {
        const AllResult result = ReportFile(files[index], trust, trust_ready, extra_roots);
        return Printed{options.json ? FormatAllJson(files[index], result) + "\n"
                                    : FormatAllText(files[index], result),
                       result.Verified()};
      },
      [&](size_t, const Printed& printed) {
        if (trust_ready.get() && output.Write(printed.text) && !printed.verified) {
          all_verified = false;
        }
      },
      [](size_t) {}, [&]() { return output.Stopping() || !TrustLoaded(trust_ready); });
  if (!trust_ready.get()) {
    std::fprintf(stderr, "tsverify: %s\n", trust_error.c_str());
    return kExitUsage;
  }
  return output.ExitStatus(all_verified ? kExitVerified : kExitNotVerified);
}

}  // namespace
}  // namespace cli
}  // namespace vrd

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
