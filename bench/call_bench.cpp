// Per-call cost and thread scaling on small documents: what an archive that
// verifies millions of small stamped PDFs pays per document.
//
//  - One QVTSPdfSigVerifyD call on a generated small stamped document, timed
//    in turn with OpenSSL's own RFC 3161 check of the same token over the
//    same signed content (TS_RESP_verify_token), once with an X509 store
//    built once and once with a fresh store per call. The counters give both
//    times and their ratio (ours / OpenSSL's) from the same iterations.
//  - 1, 2 and 4 threads calling QVTSPdfSigVerifyD concurrently: each
//    iteration runs a batch on one thread and then the same batch on every
//    thread; "scaling" is the throughput of the threads over that of one,
//    "machine_scaling" the same for pure CPU work in the same run (the
//    cores this run actually had).
//  - tsverify -j 1 against -j 2 on a few hundred small files, process
//    against process, alternating; "speedup" is the -j 1 time over -j 2's.
//
// On a machine shared with other work the wall-clock ratios of the threaded
// runs say little; the CPU time per call and the voluntary context switches
// per call (a thread that waits for a lock gives up its core) are reported
// beside them: equal CPU per call and no switches mean nothing serialises.
//
// The test authority does not chain to the built-in anchors, so our calls
// give 2109 after the full work (scan, CMS, imprint, chain building); the
// OpenSSL peer is given the authority's root and must succeed.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "bench/BenchProcess.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"

namespace {

using vrd::bench::Clock;
using vrd::bench::MachineScaling;
using vrd::bench::Seconds;
using vrd::bench::Usage;
using vrd::bench::UsageOf;

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";
constexpr int kFileCount = 300;   // small files for the tsverify comparison
constexpr int kBatchCalls = 200;  // calls per thread per scaling iteration

struct Fixture {
  std::string document;        // a small stamped PDF
  std::string signed_content;  // what its token's imprint covers
  std::string token;           // the token's DER
  std::string root_der;        // the test authority's root
  bool ok = false;
};

const Fixture& Get() {
  static const Fixture fixture = [] {
    Fixture f;
    vrd::test::PdfOptions options;
    vrd::test::PdfDocument pdf;
    vrd::test::TokenSigner signer;
    if (!vrd::test::PdfBuilder(options).Build(pdf) ||
        !signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem") ||
        !signer.Sign(pdf.signed_content, vrd::test::ImprintHash::kSha256, f.token) ||
        !vrd::test::EmbedToken(pdf, f.token)) {
      return f;
    }
    f.document = pdf.bytes;
    f.signed_content = pdf.signed_content;
    f.root_der = vrd::test::CertificateDerFromPem(kPki + "root.pem");
    f.ok = !f.root_der.empty();
    return f;
  }();
  return fixture;
}

bool OurCall(const Fixture& f) {
  VrdWideChar out[4][512];
  const int code =
      QVTSPdfSigVerifyD(reinterpret_cast<const unsigned char*>(f.document.data()),
                        static_cast<int32_t>(f.document.size()), out[0], out[1], out[2], out[3]);
  return code == vrd::CertificateVerifyFailed;
}

X509_STORE* NewStore(const std::string& root_der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(root_der.data());
  X509* root = d2i_X509(nullptr, &p, static_cast<long>(root_der.size()));
  X509_STORE* store = X509_STORE_new();
  if (root == nullptr || store == nullptr || X509_STORE_add_cert(store, root) != 1) {
    X509_free(root);
    X509_STORE_free(store);
    return nullptr;
  }
  X509_free(root);
  return store;
}

// What a C programmer would write by hand: parse the token, check signature,
// signer chain and imprint over the content with TS_RESP_verify_token.
bool PeerCall(const Fixture& f, X509_STORE* store) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(f.token.data());
  PKCS7* token = d2i_PKCS7(nullptr, &p, static_cast<long>(f.token.size()));
  TS_VERIFY_CTX* ctx = TS_VERIFY_CTX_new();
  BIO* data = BIO_new_mem_buf(f.signed_content.data(), static_cast<int>(f.signed_content.size()));
  bool ok = false;
  if (token != nullptr && ctx != nullptr && data != nullptr && X509_STORE_up_ref(store) == 1) {
    TS_VERIFY_CTX_set_flags(ctx, TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    TS_VERIFY_CTX_set_data(ctx, data);  // the context owns both from here on
    TS_VERIFY_CTX_set_store(ctx, store);
    data = nullptr;
    ok = TS_RESP_verify_token(ctx, token) == 1;
  }
  BIO_free(data);
  TS_VERIFY_CTX_free(ctx);
  PKCS7_free(token);
  ERR_clear_error();
  return ok;
}

// Ours and the peer in turn within each iteration; the iteration time is ours.
void CallAgainstPeer(benchmark::State& state, bool fresh_store) {
  const Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  X509_STORE* shared = fresh_store ? nullptr : NewStore(f.root_der);
  if (!fresh_store && shared == nullptr) return state.SkipWithError("no store");
  double ours = 0;
  double peer = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    const bool our_ok = OurCall(f);
    const double our_seconds = Seconds(start);
    start = Clock::now();
    X509_STORE* store = fresh_store ? NewStore(f.root_der) : shared;
    const bool peer_ok = store != nullptr && PeerCall(f, store);
    if (fresh_store) X509_STORE_free(store);
    const double peer_seconds = Seconds(start);
    if (!our_ok || !peer_ok) {
      X509_STORE_free(shared);
      return state.SkipWithError(our_ok ? "OpenSSL's check failed" : "unexpected result");
    }
    ours += our_seconds;
    peer += peer_seconds;
    state.SetIterationTime(our_seconds);
  }
  X509_STORE_free(shared);
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_us"] = ours / n * 1e6;
  state.counters["openssl_us"] = peer / n * 1e6;
  state.counters["ratio"] = ours / peer;
  state.counters["calls_per_s"] = n / ours;
}

void BM_CallVsOpensslStoreOnce(benchmark::State& state) { CallAgainstPeer(state, false); }
void BM_CallVsOpensslFreshStore(benchmark::State& state) { CallAgainstPeer(state, true); }

// Runs calls on `threads` threads at once; false when any call went wrong.
bool RunBatch(const Fixture& f, int threads, int calls_per_thread, double* seconds, Usage* used) {
  std::vector<char> ok(static_cast<size_t>(threads), 1);
  const Usage before = UsageOf(RUSAGE_SELF);
  const auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < calls_per_thread; ++i) {
        if (!OurCall(f)) ok[static_cast<size_t>(t)] = 0;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  *seconds = Seconds(start);
  const Usage after = UsageOf(RUSAGE_SELF);
  used->cpu += after.cpu - before.cpu;
  used->voluntary_switches += after.voluntary_switches - before.voluntary_switches;
  for (char good : ok) {
    if (good == 0) return false;
  }
  return true;
}

void BM_ConcurrentCalls(benchmark::State& state) {
  const Fixture& f = Get();
  if (!f.ok) return state.SkipWithError("could not generate the document");
  const int threads = static_cast<int>(state.range(0));
  double one = 0;
  double many = 0;
  Usage one_used;
  Usage many_used;
  double machine = 0;
  for (auto _ : state) {
    double one_seconds = 0;
    double many_seconds = 0;
    machine += MachineScaling(threads, kBatchCalls);
    if (!RunBatch(f, 1, kBatchCalls, &one_seconds, &one_used) ||
        !RunBatch(f, threads, kBatchCalls, &many_seconds, &many_used)) {
      return state.SkipWithError("unexpected result");
    }
    one += one_seconds;
    many += many_seconds;
    state.SetIterationTime(many_seconds);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["calls_per_s"] = n * kBatchCalls * threads / many;
  state.counters["one_thread_calls_per_s"] = n * kBatchCalls / one;
  state.counters["scaling"] = (kBatchCalls * threads / many) / (kBatchCalls / one);
  state.counters["machine_scaling"] = machine / n;
  const double one_calls = n * kBatchCalls;
  const double many_calls = n * kBatchCalls * threads;
  state.counters["cpu_us_per_call"] = many_used.cpu / many_calls * 1e6;
  state.counters["one_thread_cpu_us_per_call"] = one_used.cpu / one_calls * 1e6;
  state.counters["waits_per_call"] = static_cast<double>(many_used.voluntary_switches) / many_calls;
}

struct FileSet {
  std::string dir;
  bool written = false;  // the files exist
  std::string list;      // the --files-from list
  bool ok = false;
};

const FileSet& Files() {
  static const FileSet files = [] {
    FileSet s;
    const Fixture& f = Get();
    const char* tmp = std::getenv("TMPDIR");
    s.dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vrd_call_bench_" +
            std::to_string(::getpid());
    if (!f.ok || std::system(("mkdir -p '" + s.dir + "'").c_str()) != 0) return s;
    s.list = s.dir + "/files.txt";
    std::ofstream list(s.list);
    for (int i = 0; i < kFileCount; ++i) {
      const std::string path = s.dir + "/doc" + std::to_string(i) + ".pdf";
      std::ofstream(path, std::ios::binary)
          .write(f.document.data(), static_cast<std::streamsize>(f.document.size()));
      list << path << "\n";
    }
    s.written = true;
    s.ok = static_cast<bool>(list);
    return s;
  }();
  return files;
}

// Files() made the set when any benchmark asked for it.
bool files_requested = false;

void RemoveFiles() {
  if (!files_requested) return;
  const FileSet& s = Files();
  if (s.written) {
    for (int i = 0; i < kFileCount; ++i) {
      std::remove((s.dir + "/doc" + std::to_string(i) + ".pdf").c_str());
    }
    std::remove(s.list.c_str());
    std::remove(s.dir.c_str());
  }
}

// tsverify exits 1 when a file does not verify, which every file here does not.
bool RunTsverify(const FileSet& s, int jobs, double* seconds, Usage* used) {
  const Usage before = UsageOf(RUSAGE_CHILDREN);
  const std::string command = std::string("'") + VRD_TSVERIFY + "' -j " + std::to_string(jobs) +
                              " --files-from '" + s.list + "' > /dev/null 2>&1";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  *seconds = Seconds(start);
  const Usage after = UsageOf(RUSAGE_CHILDREN);
  used->cpu += after.cpu - before.cpu;
  used->voluntary_switches += after.voluntary_switches - before.voluntary_switches;
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

void BM_TsverifyJobs(benchmark::State& state) {
  files_requested = true;
  const FileSet& s = Files();
  if (!s.ok) return state.SkipWithError("could not write the files");
  double one = 0;
  double two = 0;
  Usage one_used;
  Usage two_used;
  for (auto _ : state) {
    double one_seconds = 0;
    double two_seconds = 0;
    if (!RunTsverify(s, 1, &one_seconds, &one_used) ||
        !RunTsverify(s, 2, &two_seconds, &two_used)) {
      return state.SkipWithError("tsverify failed");
    }
    one += one_seconds;
    two += two_seconds;
    state.SetIterationTime(two_seconds);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["j1_files_per_s"] = n * kFileCount / one;
  state.counters["j2_files_per_s"] = n * kFileCount / two;
  state.counters["speedup"] = one / two;
  const double files = n * kFileCount;
  state.counters["j1_cpu_us_per_file"] = one_used.cpu / files * 1e6;
  state.counters["j2_cpu_us_per_file"] = two_used.cpu / files * 1e6;
  state.counters["j2_waits_per_file"] = static_cast<double>(two_used.voluntary_switches) / files;
}

BENCHMARK(BM_CallVsOpensslStoreOnce)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_CallVsOpensslFreshStore)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_ConcurrentCalls)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_TsverifyJobs)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RemoveFiles();
  return 0;
}
