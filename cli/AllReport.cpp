#include "cli/AllReport.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "report/TokenReport.h"

#if defined(_WIN32)
#include <io.h>
#define VRD_DUP _dup
#define VRD_DUP2 _dup2
#define VRD_OPEN _open
#define VRD_CLOSE _close
#define VRD_NULL_DEVICE "NUL"
#define VRD_WRITE_ONLY _O_WRONLY
#else
#include <sys/stat.h>
#include <unistd.h>
#define VRD_DUP dup
#define VRD_DUP2 dup2
#define VRD_OPEN open
#define VRD_CLOSE close
#define VRD_NULL_DEVICE "/dev/null"
#define VRD_WRITE_ONLY O_WRONLY
#endif

namespace vrd {
namespace cli {
namespace {

std::string JsonBool(bool value) { return value ? "true" : "false"; }

std::string JsonIntegers(const std::vector<int64_t>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ",";
    out += std::to_string(values[i]);
  }
  return out + "]";
}

std::string TimeStampJson(const report::TimeStampReport& ts) {
  using report::VerdictName;
  std::string out = "{\"kind\":" + JsonString(report::KindName(ts.kind));
  out += ",\"field\":" + JsonString(ts.field_name);
  out += ",\"subFilter\":" + JsonString(ts.sub_filter);
  out += ",\"verified\":" + JsonBool(ts.Verified());
  out += ",\"problem\":" + JsonString(ts.problem);
  out += ",\"revision\":" + std::to_string(ts.revision);
  out += ",\"laterRevisions\":" + std::to_string(ts.later_revisions);
  out += ",\"laterChanges\":" + JsonString(report::LaterChangesName(ts.later_changes));
  out += ",\"laterOtherObjects\":" + JsonIntegers(ts.later_other_objects);
  out += ",\"byteRange\":" + JsonIntegers(ts.byte_range);
  out += ",\"byteRangeValid\":" + JsonBool(ts.byte_range_valid);
  out += ",\"coversWholeFile\":" + JsonBool(ts.covers_whole_file);
  out += ",\"coversWholeRevision\":" + JsonBool(ts.covers_whole_revision);
  out += ",\"gapIsContents\":" + JsonBool(ts.gap_is_contents);
  out += ",\"encoding\":" + JsonString(ts.encoding);
  out += ",\"imprintAlgorithm\":" + JsonString(ts.imprint_algorithm);
  out += ",\"weakAlgorithm\":" + JsonBool(ts.weak_algorithm);
  out += ",\"imprint\":" + JsonString(VerdictName(ts.imprint));
  out += ",\"hashedMessage\":" + JsonString(ts.imprint_hex);
  out += ",\"computedDigest\":" + JsonString(ts.computed_hex);
  out += ",\"signature\":" + JsonString(VerdictName(ts.signature));
  out += ",\"signingCertificate\":" + JsonString(VerdictName(ts.signing_certificate));
  out += ",\"timeStampingUsage\":" + JsonString(VerdictName(ts.time_stamping_usage));
  out += ",\"chain\":" + JsonString(VerdictName(ts.chain));
  out += ",\"trustedBy\":" + JsonString(report::TrustSourceName(ts.trusted_by));
  out += ",\"expiredSince\":" + JsonBool(ts.expired_since);
  out += ",\"genTime\":" + JsonString(ts.gen_time);
  out += ",\"tsaSubject\":" + JsonString(ts.tsa_subject);
  out += ",\"serial\":" + JsonString(ts.serial);
  out += ",\"policy\":" + JsonString(ts.policy);
  return out + "}";
}

std::string CoverageText(const report::TimeStampReport& ts) {
  if (!ts.byte_range_valid) return "the /ByteRange does not name bytes of the file";
  std::string out = ts.covers_whole_file       ? "whole file"
                    : ts.covers_whole_revision ? "whole revision " + std::to_string(ts.revision)
                                               : "part of the file only";
  out += ts.gap_is_contents ? "; the gap is exactly /Contents" : "; the gap is NOT only /Contents";
  out += "; /ByteRange [";
  for (size_t i = 0; i < ts.byte_range.size(); ++i) {
    out += (i > 0 ? " " : "") + std::to_string(ts.byte_range[i]);
  }
  return out + "]";
}

}  // namespace

bool AllResult::Verified() const {
  if (!opened || report.timestamps.empty()) return false;
  for (const report::TimeStampReport& ts : report.timestamps) {
    if (!ts.Verified()) return false;
  }
  return true;
}

AllResult ReportFile(const std::string& path, const report::TrustSources& trust,
                     const std::vector<ByteString>& extra_roots) {
  AllResult result;
  // The library's verdict exactly as plain tsverify gets it (its own read of
  // the file), on a second thread beside the report.
  std::thread library([&result, &path, &extra_roots]() {
    result.library_code = VerifyFile(path, extra_roots).code;
  });
  // The report's own reading of the file, as the library opens documents:
  // regular files only, never blocking, below 2 GiB, read as needed (no
  // mapping, which would end the process with SIGBUS if another process
  // truncated the file meanwhile).
  result.opened =
      report::BuildReportFromFile(path, trust, &result.report) == report::ReportStatus::kOk;
  library.join();
  return result;
}

std::string FormatAllJson(const std::string& path, const AllResult& result) {
  std::string out = "{\"file\":" + JsonString(path);
  out += ",\"verified\":" + JsonBool(result.Verified());
  out += ",\"error\":" + JsonString(result.report.error);
  out += ",\"library\":{\"code\":" + std::to_string(result.library_code) +
         ",\"result\":" + JsonString(ResultName(result.library_code)) + "}";
  out += ",\"revisions\":" + std::to_string(result.report.revisions);
  out += ",\"repaired\":" + JsonBool(result.report.recovered);
  out += ",\"timestamps\":[";
  for (size_t i = 0; i < result.report.timestamps.size(); ++i) {
    if (i > 0) out += ",";
    out += TimeStampJson(result.report.timestamps[i]);
  }
  return out + "]}";
}

std::string FormatAllText(const std::string& path, const AllResult& result) {
  const report::DocumentReport& doc = result.report;
  std::string out = path + ": ";
  if (!result.opened) {
    out += "ERROR " + doc.error + "\n";
  } else if (doc.timestamps.empty()) {
    out += "no time-stamp found";
  } else {
    out += result.Verified() ? "VERIFIED" : "NOT VERIFIED";
    out += ", " + std::to_string(doc.timestamps.size()) + " time-stamp(s)";
  }
  if (result.opened) {
    out += ", " + std::to_string(doc.revisions) + " revision(s); library verdict " +
           std::to_string(result.library_code) + " " + ResultName(result.library_code) + "\n";
  }
  int number = 0;
  for (const report::TimeStampReport& ts : doc.timestamps) {
    using report::VerdictName;
    out += "  [" + std::to_string(++number) + "] " + report::KindName(ts.kind) +
           " time-stamp, field \"" + ts.field_name +
           "\": " + (ts.Verified() ? "verified" : "NOT verified: " + ts.problem) + "\n";
    out += "      revision:   " + std::to_string(ts.revision) + " of " +
           std::to_string(doc.revisions) + ", " + std::to_string(ts.later_revisions) + " later (" +
           report::LaterChangesName(ts.later_changes);
    if (!ts.later_other_objects.empty()) {
      out += ": changed objects";
      for (const int64_t object : ts.later_other_objects) out += " " + std::to_string(object);
    }
    out += ")\n";
    out += "      coverage:   " + CoverageText(ts) + "\n";
    out += "      imprint:    " + std::string(VerdictName(ts.imprint)) + " (" +
           ts.imprint_algorithm + (ts.weak_algorithm ? ", WEAK" : "") + ", " + ts.encoding +
           " token)\n";
    out += "      signature:  " + std::string(VerdictName(ts.signature)) + ", ESS binding " +
           VerdictName(ts.signing_certificate) + ", timeStamping EKU " +
           VerdictName(ts.time_stamping_usage) + "\n";
    out += "      chain:      " + std::string(VerdictName(ts.chain));
    if (ts.chain == report::Verdict::kPass) {
      out += std::string(" (") + report::TrustSourceName(ts.trusted_by) +
             (ts.expired_since ? ", valid at genTime, expired since" : "") + ")";
    }
    out += "\n      genTime:    " + ts.gen_time + "\n";
    out += "      TSA:        " + ts.tsa_subject + "\n";
    out += "      serial:     " + ts.serial + ", policy " + ts.policy + "\n";
  }
  return out;
}

namespace {

// The library's scanning writes its own messages to standard output; under
// --all they would break the report's lines, so they go to the null device
// and the report to the original standard output.
class ReportStream {
 public:
  ReportStream() {
    std::fflush(stdout);
    const int saved = VRD_DUP(1);
    const int null_device = VRD_OPEN(VRD_NULL_DEVICE, VRD_WRITE_ONLY);
    if (saved >= 0 && null_device >= 0 && VRD_DUP2(null_device, 1) >= 0) {
      out_ = fdopen(saved, "wb");
    }
    if (null_device >= 0) VRD_CLOSE(null_device);
    if (out_ == nullptr) {
      if (saved >= 0) {
        VRD_DUP2(saved, 1);
        VRD_CLOSE(saved);
      }
      out_ = stdout;
    }
  }
  ~ReportStream() {
    if (out_ == stdout) return;
    std::fflush(stdout);
    std::fflush(out_);
    VRD_DUP2(fileno(out_), 1);
    std::fclose(out_);
  }
  ReportStream(const ReportStream&) = delete;
  ReportStream& operator=(const ReportStream&) = delete;
  FILE* get() const { return out_; }

 private:
  FILE* out_ = nullptr;
};

}  // namespace

int RunAll(const Options& options, const std::vector<ByteString>& extra_roots,
           const std::vector<std::string>& files) {
  ReportStream out;
  report::TrustSettings trust;
  for (const ByteString& root : extra_roots) {
    trust.extra_roots.emplace_back(root.GetData(), static_cast<size_t>(root.GetLength()));
  }
  trust.system_roots = options.system_roots;
  // Loaded once for the run: every file and worker reads the same sources.
  report::TrustSources sources;
  std::string trust_error;
  if (!sources.Load(trust, &trust_error)) {
    std::fprintf(stderr, "tsverify: %s\n", trust_error.c_str());
    return kExitUsage;
  }
  // -j N: N files at a time; results are printed in the order given, each as
  // soon as it and all before it are done.
  std::mutex mutex;
  std::condition_variable ready;
  std::vector<AllResult> results(files.size());
  std::vector<bool> done(files.size(), false);
  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t index; (index = next.fetch_add(1)) < files.size();) {
      AllResult result = ReportFile(files[index], sources, extra_roots);
      std::lock_guard<std::mutex> lock(mutex);
      results[index] = std::move(result);
      done[index] = true;
      ready.notify_one();
    }
  };
  const size_t thread_count =
      std::max<size_t>(1, std::min(static_cast<size_t>(options.jobs), files.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < thread_count; ++t) threads.emplace_back(worker);
  bool all_verified = true;
  for (size_t printed = 0; printed < files.size(); ++printed) {
    AllResult result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      ready.wait(lock, [&] { return done[printed]; });
      result = std::move(results[printed]);
    }
    const std::string& file = files[printed];
    const std::string text =
        options.json ? FormatAllJson(file, result) + "\n" : FormatAllText(file, result);
    std::fwrite(text.data(), 1, text.size(), out.get());
    std::fflush(out.get());
    if (!result.Verified()) all_verified = false;
  }
  for (std::thread& thread : threads) thread.join();
  return all_verified && !files.empty() ? kExitVerified : kExitNotVerified;
}

}  // namespace cli
}  // namespace vrd
