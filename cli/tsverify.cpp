// tsverify: verifies the RFC 3161 time-stamp token of PDF files from the
// command line (see UsageText in TsVerifyCore.h for the options).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/VerifyTimeStampToken.h"
#if defined(VRD_HAVE_REPORT)
#include "cli/AllReport.h"
#endif
#include "cli/TsVerifyCore.h"

#if defined(_WIN32)
#include <io.h>
#define VRD_ISATTY _isatty
#define VRD_FILENO _fileno
#else
#include <unistd.h>
#define VRD_ISATTY isatty
#define VRD_FILENO fileno
#endif

namespace {

constexpr int kExitVerified = 0;
constexpr int kExitNotVerified = 1;
constexpr int kExitUsage = 2;
constexpr int kProgressWidth = 30;

// Results are collected per slot by the workers and printed in input order by
// the main thread as soon as the next one is ready.
struct WorkQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::vector<vrd::cli::FileResult> results;
  std::vector<bool> done;
  std::atomic<size_t> next{0};
  size_t finished = 0;
};

void DrawProgress(size_t finished, size_t total) {
  const size_t filled = total == 0 ? 0 : finished * kProgressWidth / total;
  std::string bar(filled, '#');
  bar.append(kProgressWidth - filled, '.');
  std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), finished, total);
  std::fflush(stderr);
}

void ClearProgress() {
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
}

int Run(const vrd::cli::Options& options) {
  std::vector<vrd::ByteString> roots;
  for (const std::string& file : options.trust_anchor_files) {
    std::string text;
    if (!vrd::cli::ReadWholeFile(file, text) || !vrd::cli::ParsePemCertificates(text, roots)) {
      std::fprintf(stderr, "tsverify: cannot read a certificate from %s\n", file.c_str());
      return kExitUsage;
    }
  }
  if (roots.size() > vrd::kMaxExtraTrustedRoots) {
    std::fprintf(stderr, "tsverify: more than %zu trusted root certificates\n",
                 vrd::kMaxExtraTrustedRoots);
    return kExitUsage;
  }

  std::vector<std::string> files = options.files;
  if (!options.files_from.empty()) {
    std::string list;
    if (options.files_from == "-") {
      list.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!vrd::cli::ReadWholeFile(options.files_from, list)) {
      std::fprintf(stderr, "tsverify: cannot read %s\n", options.files_from.c_str());
      return kExitUsage;
    }
    files = vrd::cli::SplitFileList(list);
  }
  if (options.all) {
#if defined(VRD_HAVE_REPORT)
    return vrd::cli::RunAll(options, roots, files);
#else
    std::fprintf(stderr, "tsverify: --all is not available in this build (no PDF parser)\n");
    return kExitUsage;
#endif
  }

  WorkQueue queue;
  queue.results.resize(files.size());
  queue.done.assign(files.size(), false);
  const bool progress = VRD_ISATTY(VRD_FILENO(stderr)) != 0 && !files.empty();

  auto worker = [&]() {
    for (;;) {
      const size_t index = queue.next.fetch_add(1);
      if (index >= files.size()) return;
      vrd::cli::FileResult result = vrd::cli::VerifyFile(files[index], roots);
      std::lock_guard<std::mutex> lock(queue.mutex);
      queue.results[index] = std::move(result);
      queue.done[index] = true;
      ++queue.finished;
      queue.ready.notify_one();
    }
  };
  const size_t thread_count =
      std::min(static_cast<size_t>(options.jobs), files.empty() ? size_t{1} : files.size());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < thread_count; ++t) threads.emplace_back(worker);

  // Prints every result whose predecessors are printed, and redraws the bar
  // whenever any file finished, so a slow file does not freeze it.
  if (progress) DrawProgress(0, files.size());
  bool all_verified = true;
  size_t printed = 0;
  size_t drawn = 0;
  while (printed < files.size()) {
    std::vector<vrd::cli::FileResult> ready;
    size_t finished = 0;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.ready.wait(
          lock, [&] { return queue.done[printed] || (progress && queue.finished != drawn); });
      finished = queue.finished;
      while (printed + ready.size() < files.size() && queue.done[printed + ready.size()]) {
        ready.push_back(std::move(queue.results[printed + ready.size()]));
      }
    }
    if (progress) ClearProgress();
    for (const vrd::cli::FileResult& result : ready) {
      const std::string& file = files[printed++];
      const std::string text = options.json ? vrd::cli::FormatJson(file, result) + "\n"
                                            : vrd::cli::FormatText(file, result);
      std::fwrite(text.data(), 1, text.size(), stdout);
      if (result.code != 0) all_verified = false;
    }
    std::fflush(stdout);
    if (progress) DrawProgress(finished, files.size());
    drawn = finished;
  }
  for (std::thread& thread : threads) thread.join();
  if (progress) ClearProgress();
  return all_verified ? kExitVerified : kExitNotVerified;
}

}  // namespace

int main(int argc, char** argv) {
  vrd::cli::Options options;
  std::string error;
  if (!vrd::cli::ParseCommandLine(argc, argv, options, error)) {
    std::fprintf(stderr, "tsverify: %s\n%s", error.c_str(), vrd::cli::UsageText());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(vrd::cli::UsageText(), stdout);
    return kExitVerified;
  }
  return Run(options);
}
