// Throughput of our five digests (through ECSP_DigestData, as the library
// uses them) against OpenSSL's EVP digests on the same bytes, for 64 B,
// 16 KiB, 16 MiB and 64 MiB inputs; the SHA cores also on the portable path.
// After the run a table gives our/OpenSSL throughput ratios.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/VORirori/ECSP.h"
#include "src/VORirori/HashCores.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kSizes[] = {64, 16 * 1024, 16 * kMiB, 64 * kMiB};

const char* SizeName(size_t size) {
  if (size == 64) return "64B";
  if (size == 16 * 1024) return "16KiB";
  if (size == 16 * kMiB) return "16MiB";
  return "64MiB";
}

const std::vector<unsigned char>& Input() {
  static const std::vector<unsigned char> data = [] {
    std::vector<unsigned char> bytes(64 * kMiB);
    std::mt19937 rng(1);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
    return bytes;
  }();
  return data;
}

void Ours(benchmark::State& state, int ecsp_id, size_t size, bool portable) {
  const unsigned char* data = Input().data();
  vrd::SetPortableHashOnly(portable);
  unsigned char out[64];
  for (auto _ : state) {
    int len = sizeof(out);
    const int code = vrd::ECSP_DigestData(ecsp_id, out, &len, data, static_cast<int>(size));
    if (code != 0) state.SkipWithError("ECSP_DigestData failed");
    benchmark::DoNotOptimize(out);
  }
  vrd::SetPortableHashOnly(false);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void OpenSsl(benchmark::State& state, const char* name, size_t size) {
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const unsigned char* data = Input().data();
  unsigned char out[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    unsigned int len = 0;
    if (EVP_DigestInit_ex2(ctx, md, nullptr) != 1 || EVP_DigestUpdate(ctx, data, size) != 1 ||
        EVP_DigestFinal_ex(ctx, out, &len) != 1) {
      state.SkipWithError("EVP digest failed");
    }
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

struct Algorithm {
  const char* label;
  int ecsp_id;
  const char* openssl_name;  // null: OpenSSL has no such digest
  bool has_portable_variant;
};

constexpr Algorithm kAlgorithms[] = {
    {"SHA-256", 1500, "SHA256", true}, {"SHA-512", 1700, "SHA512", true},
    {"SHA-1", 1400, "SHA1", true},     {"MD5", 1200, "MD5", false},
    {"HAS-160", 1800, nullptr, false},
};

// Keeps every run's time per iteration, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // CPU time: both sides are single-threaded, and on a shared machine it
    // is steadier than wall time. With --benchmark_repetitions the median
    // replaces the single runs.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Iteration) {
        const std::string name = run.benchmark_name();
        if (medians_.count(name) == 0) times_[name] = run.GetAdjustedCPUTime();
      } else if (run.aggregate_name == "median") {
        const std::string name = run.run_name.function_name;
        medians_.insert(name);
        times_[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    std::printf("\nThroughput ratio ours / OpenSSL by CPU time (higher is better; 1.00 = equal)\n");
    std::printf("%-10s %-8s %8s %10s\n", "algorithm", "size", "native", "portable");
    for (const Algorithm& a : kAlgorithms) {
      if (a.openssl_name == nullptr) continue;
      for (size_t size : kSizes) {
        const std::string suffix = std::string("/") + SizeName(size);
        const double theirs = Find(std::string(a.label) + "/openssl" + suffix);
        const double ours = Find(std::string(a.label) + "/ours" + suffix);
        const double portable = Find(std::string(a.label) + "/ours-portable" + suffix);
        std::printf("%-10s %-8s", a.label, SizeName(size));
        PrintRatio(theirs, ours, 8);
        PrintRatio(theirs, portable, 10);
        std::printf("\n");
      }
    }
  }

 private:
  double Find(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }
  static void PrintRatio(double theirs, double ours, int width) {
    if (theirs > 0.0 && ours > 0.0) {
      std::printf(" %*.2f", width, theirs / ours);
    } else {
      std::printf(" %*s", width, "-");
    }
  }

  std::map<std::string, double> times_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  Input();
  for (const Algorithm& a : kAlgorithms) {
    for (size_t size : kSizes) {
      const std::string suffix = std::string("/") + SizeName(size);
      benchmark::RegisterBenchmark((std::string(a.label) + "/ours" + suffix).c_str(), Ours,
                                   a.ecsp_id, size, false);
      if (a.has_portable_variant && vrd::HashAccelerationAvailable()) {
        benchmark::RegisterBenchmark((std::string(a.label) + "/ours-portable" + suffix).c_str(),
                                     Ours, a.ecsp_id, size, true);
      }
      if (a.openssl_name != nullptr) {
        benchmark::RegisterBenchmark((std::string(a.label) + "/openssl" + suffix).c_str(), OpenSsl,
                                     a.openssl_name, size);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
