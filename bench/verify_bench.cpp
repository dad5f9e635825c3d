// Whole-document verification of a generated 200 MB time-stamped PDF through
// QVTSPdfSigVerifyF, set against the openssl command on the same bytes in the
// same run: `openssl dgst -sha256` over the file (the floor: one read and one
// SHA-256 pass) and `openssl ts -verify -data` over the signed content. The
// stages of our verification are timed on their own too, to show where the
// time goes: loading the file, assembling the signed content (a second
// whole-document copy), and the digest.
//
// The external commands are timed with wall-clock manual time; their output
// is discarded. The document lives in the system's temporary directory for
// the duration of the run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/AssembleSignedContent.h"
#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "bench/BenchProcess.h"
#include "report/Report.h"
#include "src/VORirori/QVHash.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"
#include "util/ByteString.h"
#include "util/LoadFile.h"

namespace {

using vrd::bench::Median;
using vrd::bench::TimeCommand;
using vrd::bench::UsageOf;

constexpr size_t kDocumentBytes = size_t{200} << 20;
const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

struct Fixture {
  std::string dir;
  std::string pdf_path;
  std::string content_path;  // the signed content alone, for openssl ts -verify -data
  std::string token_path;
  int64_t bytes = 0;
  bool ok = false;
  double dgst_seconds = 0;  // median of the calibration runs
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

Fixture& Get() {
  static Fixture f = [] {
    Fixture x;
    const char* tmp = std::getenv("TMPDIR");
    x.dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vrd_verify_bench_" +
            std::to_string(::getpid());
    if (std::system(("mkdir -p '" + x.dir + "'").c_str()) != 0) return x;
    x.pdf_path = x.dir + "/large.pdf";
    x.content_path = x.dir + "/signed-content.bin";
    x.token_path = x.dir + "/token.der";

    vrd::test::PdfOptions options;
    options.page_text.assign(kDocumentBytes, 'A');
    for (size_t i = 64; i < options.page_text.size(); i += 64) options.page_text[i] = ' ';
    vrd::test::PdfDocument pdf;
    if (!vrd::test::PdfBuilder(options).Build(pdf)) return x;
    options.page_text.clear();
    options.page_text.shrink_to_fit();
    vrd::test::TokenSigner signer;
    std::string token;
    if (!signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem") ||
        !signer.Sign(pdf.signed_content, vrd::test::ImprintHash::kSha256, token) ||
        !vrd::test::EmbedToken(pdf, token)) {
      return x;
    }
    if (!WriteFile(x.pdf_path, pdf.bytes) || !WriteFile(x.content_path, pdf.signed_content) ||
        !WriteFile(x.token_path, token)) {
      return x;
    }
    x.bytes = static_cast<int64_t>(pdf.bytes.size());
    x.ok = true;
    return x;
  }();
  return f;
}

void Cleanup() {
  Fixture& f = Get();
  if (!f.dir.empty()) {
    std::remove(f.pdf_path.c_str());
    std::remove(f.content_path.c_str());
    std::remove(f.token_path.c_str());
    std::remove(f.dir.c_str());
  }
}

// The generated document in memory, for the stages that start from it;
// false (with the benchmark marked skipped) when it cannot be had.
bool LoadFixtureDocument(benchmark::State& state, vrd::ByteString& document) {
  const Fixture& f = Get();
  if (!f.ok) {
    state.SkipWithError("could not generate the document");
    return false;
  }
  if (vrd::LoadFile(f.pdf_path.c_str(), document) != vrd::kLoadOk) {
    state.SkipWithError("cannot load");
    return false;
  }
  return true;
}

void BM_QVTSPdfSigVerifyF(benchmark::State& state) {
  Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  VrdWideChar out[4][512];
  for (auto _ : state) {
    const int code = QVTSPdfSigVerifyF(f.pdf_path.c_str(), out[0], out[1], out[2], out[3]);
    // The test authority does not chain to the built-in anchors; anything but
    // 2109 means the digest or the token went wrong.
    if (code != vrd::CertificateVerifyFailed) return state.SkipWithError("unexpected result");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_QVTSPdfSigVerifyD(benchmark::State& state) {
  Fixture& f = Get();
  vrd::ByteString document;
  if (!LoadFixtureDocument(state, document)) return;
  VrdWideChar out[4][512];
  for (auto _ : state) {
    const int code = QVTSPdfSigVerifyD(document.GetBytes(), document.GetLength(), out[0], out[1],
                                       out[2], out[3]);
    if (code != vrd::CertificateVerifyFailed) return state.SkipWithError("unexpected result");
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

// The stages, one at a time.
void BM_Stage_LoadFile(benchmark::State& state) {
  Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  for (auto _ : state) {
    vrd::ByteString document;
    if (vrd::LoadFile(f.pdf_path.c_str(), document) != vrd::kLoadOk) {
      return state.SkipWithError("cannot load");
    }
    benchmark::DoNotOptimize(document.GetData());
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_Stage_CopyDocument(benchmark::State& state) {
  Fixture& f = Get();
  vrd::ByteString document;
  if (!LoadFixtureDocument(state, document)) return;
  for (auto _ : state) {
    vrd::ByteString copy;
    if (copy.SetData(document.GetData(), document.GetLength()) != vrd::ByteString::kOk) {
      return state.SkipWithError("no memory");
    }
    benchmark::DoNotOptimize(copy.GetData());
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_Stage_AssembleSignedContent(benchmark::State& state) {
  Fixture& f = Get();
  vrd::ByteString document;
  if (!LoadFixtureDocument(state, document)) return;
  for (auto _ : state) {
    // The document stage hands over pieces of the document; nothing is copied.
    vrd::WorkingDocument working(document);
    vrd::SignedContent content;
    vrd::ByteString token;
    if (vrd::AssembleDocument(working, content, token) != vrd::DocumentOutcome::kAssembled) {
      return state.SkipWithError("assembly failed");
    }
    benchmark::DoNotOptimize(content.pieces.data());
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_Stage_DigestSha256(benchmark::State& state) {
  Fixture& f = Get();
  vrd::ByteString document;
  if (!LoadFixtureDocument(state, document)) return;
  for (auto _ : state) {
    vrd::QVHash hash;
    vrd::ByteString digest;
    if (hash.DigestData(vrd::kFacadeSha256, document, digest, 1) != 0)
      return state.SkipWithError("digest");
    benchmark::DoNotOptimize(digest.GetData());
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

// Wall time as the iteration time; the command's own CPU time (user + system,
// through the shell) as the counter cpu_ms, comparable with the CPU column of
// our benchmarks when other work competes for the cores.
void RunExternal(benchmark::State& state, const std::string& command) {
  Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  const double cpu_before = UsageOf(RUSAGE_CHILDREN).cpu;
  for (auto _ : state) {
    int status = 0;
    const double seconds = TimeCommand(command, &status);
    if (status != 0) return state.SkipWithError(("failed: " + command).c_str());
    state.SetIterationTime(seconds);
  }
  state.counters["cpu_ms"] = benchmark::Counter((UsageOf(RUSAGE_CHILDREN).cpu - cpu_before) * 1e3 /
                                                static_cast<double>(state.iterations()));
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_OpensslDgstSha256(benchmark::State& state) {
  RunExternal(state, "openssl dgst -sha256 '" + Get().pdf_path + "' > /dev/null");
}

void BM_OpensslTsVerifyData(benchmark::State& state) {
  Fixture& f = Get();
  RunExternal(state, "openssl ts -verify -token_in -in '" + f.token_path + "' -data '" +
                         f.content_path + "' -CAfile '" + kPki + "root.pem' > /dev/null 2>&1");
}

// The report of `tsverify --all` in process: qpdf, the token checks and one
// SHA-256 pass over the signed ranges.
void BM_Report_BuildReport(benchmark::State& state) {
  Fixture& f = Get();
  vrd::ByteString document;
  if (!LoadFixtureDocument(state, document)) return;
  vrd::report::TrustSettings trust;
  trust.extra_roots.emplace_back();
  std::ifstream root(kPki + "root.der", std::ios::binary);
  trust.extra_roots.back().assign(std::istreambuf_iterator<char>(root),
                                  std::istreambuf_iterator<char>());
  for (auto _ : state) {
    vrd::report::DocumentReport report;
    if (vrd::report::BuildReport(document.GetBytes(), static_cast<size_t>(document.GetLength()),
                                 trust, &report) != vrd::report::ReportStatus::kOk ||
        report.timestamps.size() != 1 || !report.timestamps[0].Verified()) {
      return state.SkipWithError("the report does not verify the document");
    }
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

// A whole tsverify command against `openssl dgst -sha256` of the same file,
// alternating in the same run: the counter ratio_to_dgst is the median
// tsverify time over the median dgst time. verified_status: the exit status
// of a document that verifies (--all exits 3 when, as here, no revocation
// data is at hand: INDETERMINATE, not failed).
void CompareWithDgst(benchmark::State& state, const std::string& options, int verified_status) {
  Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  const std::string tsverify = std::string("'") + VRD_TSVERIFY + "' " + options +
                               " --trust-anchor '" + kPki + "root.pem' '" + f.pdf_path +
                               "' > /dev/null";
  const std::string dgst = "openssl dgst -sha256 '" + f.pdf_path + "' > /dev/null";
  std::vector<double> ours;
  std::vector<double> theirs;
  for (auto _ : state) {
    int status = 0;
    theirs.push_back(TimeCommand(dgst, &status));
    if (status != 0) return state.SkipWithError("openssl dgst failed");
    const double seconds = TimeCommand(tsverify, &status);
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != verified_status) {
      return state.SkipWithError(("did not verify: " + tsverify).c_str());
    }
    ours.push_back(seconds);
    state.SetIterationTime(seconds);
  }
  state.counters["dgst_ms"] = Median(theirs) * 1e3;
  state.counters["ratio_to_dgst"] = Median(ours) / Median(theirs);
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

// `tsverify FILE`: the library's file entry as QVTSPdfSigVerifyF runs it
// (target: at most 1.0).
void BM_TsverifyVsDgst(benchmark::State& state) { CompareWithDgst(state, "--json", 0); }

// `tsverify --all --json`: file read, report and the library's verdict beside
// it (target: at most 1.3).
void BM_TsverifyAllVsDgst(benchmark::State& state) { CompareWithDgst(state, "--all --json", 3); }

BENCHMARK(BM_OpensslDgstSha256)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_OpensslTsVerifyData)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_QVTSPdfSigVerifyF)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_QVTSPdfSigVerifyD)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Stage_LoadFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Stage_CopyDocument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Stage_AssembleSignedContent)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_Stage_DigestSha256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Report_BuildReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_TsverifyVsDgst)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);
BENCHMARK(BM_TsverifyAllVsDgst)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Cleanup();
  return 0;
}
