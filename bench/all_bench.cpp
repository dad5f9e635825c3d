// What `tsverify --all` costs on a varied set of stamped documents, each
// figure a ratio against a peer timed in the same run, the two sides taking
// turns (which one goes first alternates) and the ratio taken between their
// medians, so that a busy machine slows both alike:
//
//  - BM_AllVsPlain_FilesFrom: one process over the whole set through
//    --files-from, `--all --json` against the library's verdict alone
//    (`--json`); "ratio" is the per-file cost of --all over plain's
//    (target: at most 4).
//  - BM_AllVsPdfsig_PerFile: one process per file, `tsverify --all FILE`
//    against `pdfsig FILE` (poppler-utils), summed over the set; "ratio" is
//    ours over pdfsig's (target: at most 0.5). Skipped, saying so, when
//    pdfsig is not installed. "plain_ratio" times the library's verdict
//    alone (`tsverify FILE`) the same way: what a process that loads
//    libstdc++ and OpenSSL and verifies one token costs, the floor under
//    --all's figure.
//  - BM_AllJobsScaling: `--all -j 2` against `-j 1` over the set repeated to
//    last about a second at -j 1, beside the machine's own two-thread scaling
//    of pure CPU work measured in the same iterations; "relative_scaling" is
//    the speedup over machine_scaling (target: at least 0.9).
//
// Two sets, each figure measured on both: "generated", the committed
// stamped test documents (tests/data/report, less not-a-pdf.pdf and
// unsigned.pdf) and samples/*.pdf, filled up to 50 with generated stamped
// documents; and "real-world", the committed ones with the documents of
// ../shared/realworld/files beside the source tree (VRD_REALWORLD_DIR names
// another folder), skipped, saying so, when there is none. The -j 2
// scaling uses the real-world set when there is one. The 200 MB document is
// verify_bench's (BM_TsverifyAllVsDgst), named again at the end of the run.
//
// The cpu_ratio counters compare the children's own CPU time, for runs where
// other work competes for the cores.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchProcess.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"

namespace {

namespace fs = std::filesystem;
using vrd::bench::Clock;
using vrd::bench::MachineScaling;
using vrd::bench::Median;
using vrd::bench::ProcessTime;
using vrd::bench::Seconds;
using vrd::bench::TimeProcess;

const std::string kSource = VRD_SOURCE_DIR;
constexpr size_t kMinDocuments = 50;
constexpr double kScalingRunSeconds = 1.0;      // -j 1 over the repeated set, about
constexpr double kMachineScalingSeconds = 0.3;  // one thread's share of the reference

enum SetKind { kGenerated = 0, kRealWorld = 1, kSetKinds = 2 };
const char* const kSetNames[kSetKinds] = {"generated", "real-world"};

struct DocumentSet {
  std::string dir;                 // our temporary folder
  std::vector<std::string> files;  // absolute paths
  std::string list;                // the --files-from list, each file once
  size_t committed = 0;
  size_t realworld = 0;
  size_t generated = 0;
  std::string error;  // why there is no set
};

std::string TempDir(SetKind kind) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vrd_all_bench_" +
         std::to_string(::getpid()) + "_" + std::to_string(kind);
}

// The PDF files of dir, sorted, less the excluded names.
std::vector<std::string> PdfsIn(const fs::path& dir, const std::vector<std::string>& excluded) {
  std::vector<std::string> paths;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return paths;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
    const fs::path& path = entry.path();
    if (path.extension() != ".pdf" || !entry.is_regular_file(error)) continue;
    if (std::find(excluded.begin(), excluded.end(), path.filename().string()) != excluded.end()) {
      continue;
    }
    paths.push_back(fs::absolute(path).lexically_normal().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Stamped documents of varied size, line ends and imprint algorithms, from
// the test authority.
bool Generate(DocumentSet& set, size_t count) {
  const std::string pki = kSource + "/tests/data/pki/";
  vrd::test::TokenSigner signer;
  if (!signer.Load(pki + "tsa.key", pki + "tsa.pem", pki + "inter.pem")) return false;
  for (size_t i = 0; i < count; ++i) {
    vrd::test::PdfOptions options;
    options.page_text.assign(size_t{256} << (i % 12), 'a');
    for (size_t at = 48; at < options.page_text.size(); at += 48) options.page_text[at] = ' ';
    options.eol = i % 3 == 2 ? "\r\n" : "\n";
    options.final_eol = i % 5 != 4;
    options.seed = static_cast<uint32_t>(i + 1);
    const auto hash =
        i % 2 == 0 ? vrd::test::ImprintHash::kSha256 : vrd::test::ImprintHash::kSha512;
    vrd::test::PdfDocument pdf;
    std::string token;
    if (!vrd::test::PdfBuilder(options).Build(pdf) ||
        !signer.Sign(pdf.signed_content, hash, token) || !vrd::test::EmbedToken(pdf, token)) {
      return false;
    }
    const std::string path = set.dir + "/generated-" + std::to_string(i) + ".pdf";
    std::ofstream out(path, std::ios::binary);
    out.write(pdf.bytes.data(), static_cast<std::streamsize>(pdf.bytes.size()));
    if (!out) return false;
    set.files.push_back(path);
    ++set.generated;
  }
  return true;
}

bool WriteList(const std::string& path, const std::vector<std::string>& files, int times) {
  std::ofstream list(path);
  for (int t = 0; t < times; ++t) {
    for (const std::string& file : files) list << file << "\n";
  }
  return static_cast<bool>(list);
}

DocumentSet MakeDocuments(SetKind kind) {
  DocumentSet s;
  s.dir = TempDir(kind);
  std::error_code error;
  if (!fs::create_directories(s.dir, error)) {
    s.error = "cannot make " + s.dir;
    return s;
  }
  s.files = PdfsIn(kSource + "/tests/data/report", {"not-a-pdf.pdf", "unsigned.pdf"});
  for (const std::string& sample : PdfsIn(kSource + "/samples", {})) s.files.push_back(sample);
  s.committed = s.files.size();
  const char* override_dir = std::getenv("VRD_REALWORLD_DIR");
  const std::string realworld =
      override_dir != nullptr ? std::string(override_dir) : kSource + "/../shared/realworld/files";
  if (kind == kRealWorld) {
    for (const std::string& file : PdfsIn(realworld, {})) s.files.push_back(file);
    s.realworld = s.files.size() - s.committed;
    if (s.realworld == 0) {
      s.error = "skipped: no real-world documents in " + realworld;
      return s;
    }
  }
  if (s.files.size() < kMinDocuments && !Generate(s, kMinDocuments - s.files.size())) {
    s.error = "could not generate the extra documents";
    return s;
  }
  s.list = s.dir + "/list.txt";
  if (!WriteList(s.list, s.files, 1)) s.error = "cannot write " + s.list;
  return s;
}

// Made on first use only, so that a filtered run leaves nothing behind.
bool documents_requested[kSetKinds] = {};

const DocumentSet& Documents(SetKind kind) {
  if (kind == kGenerated) {
    static const DocumentSet generated = MakeDocuments(kGenerated);
    return generated;
  }
  static const DocumentSet realworld = MakeDocuments(kRealWorld);
  return realworld;
}

const DocumentSet* DocumentsOrSkip(benchmark::State& state, SetKind kind) {
  documents_requested[kind] = true;
  const DocumentSet& set = Documents(kind);
  if (!set.error.empty()) {
    state.SkipWithError(set.error.c_str());
    return nullptr;
  }
  state.counters["files"] = static_cast<double>(set.files.size());
  return &set;
}

std::vector<std::string> Tsverify(std::vector<std::string> options) {
  std::vector<std::string> argv = {VRD_TSVERIFY, "--trust-anchor",
                                   kSource + "/tests/data/pki/root.pem", "--trust-anchor",
                                   kSource + "/samples/sample-root.pem"};
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

// tsverify's statuses for a finished run: every file verified (with --all:
// every time-stamp PASSED), not all, or (--all) some INDETERMINATE.
bool TsverifyRan(const ProcessTime& run) { return run.ExitedWith({0, 1, 3}); }

size_t LineCount(const std::string& path) {
  std::ifstream in(path);
  size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

// The closing summary, against the targets.
struct Summary {
  double files_from_ratio[kSetKinds] = {-1, -1};
  double pdfsig_ratio[kSetKinds] = {-1, -1};
  double plain_pdfsig_ratio[kSetKinds] = {-1, -1};
  std::string pdfsig_note;
  double relative_scaling = -1;
  double big_crl_ratio = -1;
} summary;

// Two sides timed in turn; medians of wall and CPU seconds.
struct Sides {
  std::vector<double> ours, ours_cpu, peer, peer_cpu;
  void Add(double our_seconds, double our_cpu, double peer_seconds, double peer_cpu_seconds) {
    ours.push_back(our_seconds);
    ours_cpu.push_back(our_cpu);
    peer.push_back(peer_seconds);
    peer_cpu.push_back(peer_cpu_seconds);
  }
  double Ratio() const { return Median(ours) / Median(peer); }
  double CpuRatio() const { return Median(ours_cpu) / Median(peer_cpu); }
  // The counters of a comparison over files files; returns the ratio.
  double Report(benchmark::State& state, double files, const char* peer_counter) const {
    state.counters["all_ms_per_file"] = Median(ours) / files * 1e3;
    state.counters[peer_counter] = Median(peer) / files * 1e3;
    state.counters["ratio"] = Ratio();
    state.counters["cpu_ratio"] = CpuRatio();
    return Ratio();
  }
};

// The set three times over in one process, as a batch meets the same
// authorities again and again (and as the cost per file was first measured).
constexpr int kFilesFromRounds = 3;

void BM_AllVsPlain_FilesFrom(benchmark::State& state) {
  const auto kind = static_cast<SetKind>(state.range(0));
  const DocumentSet* set = DocumentsOrSkip(state, kind);
  if (set == nullptr) return;
  const std::string all_out = set->dir + "/all.json";
  const std::string plain_out = set->dir + "/plain.json";
  const std::string list = set->dir + "/rounds.txt";
  if (!WriteList(list, set->files, kFilesFromRounds)) {
    return state.SkipWithError("cannot write the list");
  }
  const auto all = Tsverify({"--all", "--json", "--files-from", list});
  const auto plain = Tsverify({"--json", "--files-from", list});
  const size_t lines = set->files.size() * kFilesFromRounds;
  Sides sides;
  bool all_first = false;
  for (auto _ : state) {
    all_first = !all_first;
    ProcessTime ours;
    ProcessTime peer;
    if (all_first) ours = TimeProcess(all, all_out);
    peer = TimeProcess(plain, plain_out);
    if (!all_first) ours = TimeProcess(all, all_out);
    if (!TsverifyRan(ours) || !TsverifyRan(peer)) {
      return state.SkipWithError(TsverifyRan(ours) ? "tsverify --json failed"
                                                   : "tsverify --all --json failed");
    }
    if (LineCount(all_out) != lines || LineCount(plain_out) != lines) {
      return state.SkipWithError("tsverify did not print one line per file");
    }
    sides.Add(ours.seconds, ours.cpu, peer.seconds, peer.cpu);
    state.SetIterationTime(ours.seconds);
  }
  summary.files_from_ratio[kind] =
      sides.Report(state, static_cast<double>(lines), "plain_ms_per_file");
}

void BM_AllVsPdfsig_PerFile(benchmark::State& state) {
  if (!vrd::bench::OnPath("pdfsig")) {
    summary.pdfsig_note = "skipped: pdfsig not found on PATH (Debian package poppler-utils)";
    std::fprintf(stderr, "all_bench: %s\n", summary.pdfsig_note.c_str());
    return state.SkipWithError(summary.pdfsig_note.c_str());
  }
  const auto kind = static_cast<SetKind>(state.range(0));
  const DocumentSet* set = DocumentsOrSkip(state, kind);
  if (set == nullptr) return;
  Sides sides;
  std::vector<double> plain_ratios;
  bool ours_first = false;
  for (auto _ : state) {
    double ours = 0;
    double ours_cpu = 0;
    double peer = 0;
    double peer_cpu = 0;
    double plain = 0;
    for (const std::string& file : set->files) {
      ours_first = !ours_first;
      ProcessTime our_run;
      if (ours_first) our_run = TimeProcess(Tsverify({"--all", file}));
      // pdfsig's status says what it found, not whether it ran.
      const ProcessTime peer_run = TimeProcess({"pdfsig", file});
      const ProcessTime plain_run = TimeProcess(Tsverify({file}));
      if (!ours_first) our_run = TimeProcess(Tsverify({"--all", file}));
      if (!TsverifyRan(our_run) || !TsverifyRan(plain_run)) {
        return state.SkipWithError(("tsverify failed on " + file).c_str());
      }
      plain += plain_run.seconds;
      if (peer_run.status < 0 || !WIFEXITED(peer_run.status)) {
        return state.SkipWithError(("pdfsig did not run to its end on " + file).c_str());
      }
      ours += our_run.seconds;
      ours_cpu += our_run.cpu;
      peer += peer_run.seconds;
      peer_cpu += peer_run.cpu;
    }
    sides.Add(ours, ours_cpu, peer, peer_cpu);
    plain_ratios.push_back(plain / peer);
    state.SetIterationTime(ours);
  }
  summary.pdfsig_ratio[kind] =
      sides.Report(state, static_cast<double>(set->files.size()), "pdfsig_ms_per_file");
  summary.plain_pdfsig_ratio[kind] = Median(plain_ratios);
  state.counters["plain_ratio"] = summary.plain_pdfsig_ratio[kind];
}

void BM_AllJobsScaling(benchmark::State& state) {
  // The real-world set when there is one: more varied work per file.
  const DocumentSet* set =
      DocumentsOrSkip(state, Documents(kRealWorld).error.empty() ? kRealWorld : kGenerated);
  if (set == nullptr) return;
  // How many times over the set makes a -j 1 run last long enough for a
  // stable speedup, from one run that also warms the caches.
  const auto j1_once = Tsverify({"--all", "-j", "1", "--files-from", set->list});
  const ProcessTime once = TimeProcess(j1_once);
  if (!TsverifyRan(once)) return state.SkipWithError("tsverify --all -j 1 failed");
  const int times = std::max(1, static_cast<int>(std::ceil(kScalingRunSeconds / once.seconds)));
  const std::string list = set->dir + "/repeated.txt";
  if (!WriteList(list, set->files, times)) return state.SkipWithError("cannot write the list");
  // As many hash blocks as keep one thread busy for kMachineScalingSeconds.
  constexpr int kProbeBlocks = 200;
  const auto probe_start = Clock::now();
  MachineScaling(1, kProbeBlocks);
  const double per_block = Seconds(probe_start) / (2 * kProbeBlocks);
  const int blocks = std::max(kProbeBlocks, static_cast<int>(kMachineScalingSeconds / per_block));

  const auto j1 = Tsverify({"--all", "-j", "1", "--files-from", list});
  const auto j2 = Tsverify({"--all", "-j", "2", "--files-from", list});
  Sides sides;  // ours: -j 2, peer: -j 1
  std::vector<double> machine;
  bool two_first = false;
  for (auto _ : state) {
    two_first = !two_first;
    ProcessTime two;
    if (two_first) two = TimeProcess(j2);
    machine.push_back(MachineScaling(2, blocks));
    const ProcessTime one = TimeProcess(j1);
    if (!two_first) two = TimeProcess(j2);
    if (!TsverifyRan(one) || !TsverifyRan(two)) {
      return state.SkipWithError("tsverify --all -j failed");
    }
    sides.Add(two.seconds, two.cpu, one.seconds, one.cpu);
    state.SetIterationTime(two.seconds);
  }
  const double files = static_cast<double>(set->files.size()) * times;
  const double speedup = 1 / sides.Ratio();
  state.counters["list_repeats"] = times;
  state.counters["j1_ms_per_file"] = Median(sides.peer) / files * 1e3;
  state.counters["j2_ms_per_file"] = Median(sides.ours) / files * 1e3;
  state.counters["j2_cpu_over_j1"] = sides.CpuRatio();
  state.counters["speedup"] = speedup;
  state.counters["machine_scaling"] = Median(machine);
  state.counters["relative_scaling"] = speedup / Median(machine);
  summary.relative_scaling = speedup / Median(machine);
}

// Long-term validation against a CRL of 75,000 entries (made by
// scripts/make-ltv-docs.py --big-crl): one process on that document against
// one on the same document with the list's entries blanked (the same bytes
// to read and hash, but no revocation data), taking turns.
constexpr int kBigCrlEntries = 75000;

// Copies the document at from to to with the contents of its one stream
// that holds a DER SEQUENCE of a megabyte or more turned to zeros.
bool BlankLargeList(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = bytes.find("stream\n"); at != std::string::npos;
       at = bytes.find("stream\n", at + 1)) {
    const size_t der = at + 7;
    if (der + 5 > bytes.size() || static_cast<unsigned char>(bytes[der]) != 0x30 ||
        static_cast<unsigned char>(bytes[der + 1]) != 0x83) {
      continue;
    }
    const size_t length = static_cast<size_t>(static_cast<unsigned char>(bytes[der + 2])) << 16 |
                          static_cast<size_t>(static_cast<unsigned char>(bytes[der + 3])) << 8 |
                          static_cast<unsigned char>(bytes[der + 4]);
    if (length < (size_t{1} << 20) || der + 5 + length > bytes.size()) continue;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(der + 5),
              bytes.begin() + static_cast<std::ptrdiff_t>(der + 5 + length), '\0');
    std::ofstream out(to, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
  }
  return false;
}

void BM_AllBigCrl_PerFile(benchmark::State& state) {
  const std::string dir = fs::temp_directory_path() / ("vrd_big_crl_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string big = dir + "/big-crl.pdf";
  const std::string make = "python3 '" VRD_SOURCE_DIR "/scripts/make-ltv-docs.py' --big-crl " +
                           std::to_string(kBigCrlEntries) + " '" + big + "' > /dev/null 2>&1";
  if (std::system(make.c_str()) != 0 || !fs::exists(big)) {
    fs::remove_all(dir);
    return state.SkipWithError("cannot make the big-CRL document (openssl, faketime)");
  }
  const std::string anchor = VRD_SOURCE_DIR "/tests/data/ltv/pki/root.pem";
  const std::string plain = dir + "/blanked.pdf";
  if (!BlankLargeList(big, plain)) {
    fs::remove_all(dir);
    return state.SkipWithError("cannot find the list in the big-CRL document");
  }
  Sides sides;
  bool ours_first = false;
  for (auto _ : state) {
    ours_first = !ours_first;
    ProcessTime ours;
    if (ours_first) ours = TimeProcess(Tsverify({"--all", "--trust-anchor", anchor, big}));
    const ProcessTime peer = TimeProcess(Tsverify({"--all", "--trust-anchor", anchor, plain}));
    if (!ours_first) ours = TimeProcess(Tsverify({"--all", "--trust-anchor", anchor, big}));
    if (!ours.ExitedWith({0}) || !peer.ExitedWith({3})) {
      fs::remove_all(dir);
      return state.SkipWithError(
          "the big-CRL document did not pass, or the other did not stay "
          "indeterminate");
    }
    sides.Add(ours.seconds, ours.cpu, peer.seconds, peer.cpu);
    state.SetIterationTime(ours.seconds);
  }
  summary.big_crl_ratio = sides.Report(state, 1, "blanked_ms");
  fs::remove_all(dir);
}

BENCHMARK(BM_AllVsPlain_FilesFrom)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(7)
    ->ArgName("set")
    ->Arg(kGenerated)
    ->Arg(kRealWorld);
BENCHMARK(BM_AllVsPdfsig_PerFile)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5)
    ->ArgName("set")
    ->Arg(kGenerated)
    ->Arg(kRealWorld);
BENCHMARK(BM_AllJobsScaling)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_AllBigCrl_PerFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(15);

void PrintFigure(const char* what, double value, const char* target) {
  if (value < 0) {
    std::printf("  %-44s not measured in this run\n", what);
  } else {
    std::printf("  %-44s %6.2f  (target %s)\n", what, value, target);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (int k = 0; k < kSetKinds; ++k) {
    const auto kind = static_cast<SetKind>(k);
    if (!documents_requested[kind]) continue;
    const DocumentSet& set = Documents(kind);
    std::printf("\ntsverify --all, %s set: ", kSetNames[kind]);
    if (!set.error.empty()) {
      std::printf("%s\n", set.error.c_str());
      continue;
    }
    std::printf("%zu documents (%zu committed, %zu real-world, %zu generated):\n", set.files.size(),
                set.committed, set.realworld, set.generated);
    PrintFigure("--files-from, per file, --all / plain", summary.files_from_ratio[kind], "<= 4");
    if (summary.pdfsig_note.empty()) {
      PrintFigure("one process per file, --all / pdfsig", summary.pdfsig_ratio[kind], "<= 0.5");
      if (summary.plain_pdfsig_ratio[kind] >= 0) {
        std::printf("  %-44s %6.2f  (the floor under the figure above)\n",
                    "one process per file, plain / pdfsig", summary.plain_pdfsig_ratio[kind]);
      }
    } else {
      std::printf("  %-44s %s\n", "one process per file, --all / pdfsig",
                  summary.pdfsig_note.c_str());
    }
  }
  if (summary.relative_scaling >= 0) {
    PrintFigure("-j 2 speedup / machine's two-thread scaling", summary.relative_scaling, ">= 0.9");
  }
  if (summary.big_crl_ratio >= 0) {
    PrintFigure("75,000-entry CRL / the same list blanked", summary.big_crl_ratio, "<= 2");
  }
  for (int k = 0; k < kSetKinds; ++k) {
    std::error_code error;
    if (documents_requested[k]) fs::remove_all(Documents(static_cast<SetKind>(k)).dir, error);
  }
  std::printf(
      "\nThe 200 MB document (--all --json against openssl dgst -sha256, counter ratio_to_dgst):\n"
      "  %s --benchmark_filter=TsverifyAllVsDgst\n",
      VRD_VERIFY_BENCH);
  return 0;
}
