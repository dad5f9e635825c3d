// tsverify: verifies the RFC 3161 time-stamp token of PDF files from the
// command line (see UsageText in TsVerifyCore.h for the options).
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "api/VerifyTimeStampToken.h"
#if defined(VRD_HAVE_REPORT)
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "cli/AllModule.h"
#endif
#include "cli/BatchOutput.h"
#include "cli/OrderedWork.h"
#include "cli/TsVerifyCore.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

using vrd::cli::kExitNotVerified;
using vrd::cli::kExitUsage;
using vrd::cli::kExitVerified;
constexpr int kProgressWidth = 30;

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

#if defined(VRD_HAVE_REPORT) && defined(_WIN32)
// Loads the module from tsverify.exe's own folder (never from the DLL search
// path: a file of that name elsewhere is not ours). The folder is taken in
// UTF-16, so any folder name works whatever the ANSI code page; the command
// line goes on in that code page, as the rest of tsverify.exe reads it.
int RunAllModule(int argc, char** argv) {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0) return kExitUsage;
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  const std::wstring file(vrd::cli::kAllModuleFile,
                          vrd::cli::kAllModuleFile + sizeof(vrd::cli::kAllModuleFile) - 1);
  const std::wstring path = self.substr(0, self.find_last_of(L"\\/") + 1) + file;
  // The module's own imports (the crypto toolkit) are found beside it.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    std::fprintf(stderr, "tsverify: --all needs %s, not found beside tsverify.exe (error %lu)\n",
                 vrd::cli::kAllModuleFile, static_cast<unsigned long>(GetLastError()));
    return kExitUsage;
  }
  // Through void (*)(void), so that the compiler accepts the cast.
  auto entry = reinterpret_cast<vrd::cli::AllModuleEntry>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(module, vrd::cli::kAllModuleEntry)));
  if (entry == nullptr) {
    std::fprintf(stderr, "tsverify: %s is not this version's --all module\n",
                 vrd::cli::kAllModuleFile);
    return kExitUsage;
  }
  return entry(argc, argv);
}
#elif defined(VRD_HAVE_REPORT)
// The module's path: beside the executable in the build tree, in the library
// folder's vrd/ once installed. Found from the executable's own location
// rather than its run path, which an interposed dlopen (a sanitizer's) would
// not search.
std::vector<std::string> AllModuleCandidates() {
  std::vector<std::string> candidates;
  constexpr size_t kMaxExecutablePath = 4096;  // Linux's PATH_MAX
  std::string self(kMaxExecutablePath, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0 || static_cast<size_t>(length) >= self.size()) return candidates;
  self.resize(static_cast<size_t>(length));
  const std::string folder = self.substr(0, self.rfind('/') + 1);
  candidates.push_back(folder + VRD_BIN_TO_LIB "/vrd/" + vrd::cli::kAllModuleFile);
  candidates.push_back(folder + vrd::cli::kAllModuleFile);
  return candidates;
}

// Hands the command line to the --all module; it stays loaded until exit.
int RunAllModule(int argc, char** argv) {
  void* module = nullptr;
  std::string tried;
  for (const std::string& path : AllModuleCandidates()) {
    module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) break;
    tried += std::string("\n  ") + dlerror();
  }
  if (module == nullptr) {
    std::fprintf(stderr, "tsverify: --all needs %s, not found beside tsverify:%s\n",
                 vrd::cli::kAllModuleFile, tried.c_str());
    return kExitUsage;
  }
  auto entry = reinterpret_cast<vrd::cli::AllModuleEntry>(dlsym(module, vrd::cli::kAllModuleEntry));
  if (entry == nullptr) {
    std::fprintf(stderr, "tsverify: %s is not this version's --all module\n",
                 vrd::cli::kAllModuleFile);
    return kExitUsage;
  }
  return entry(argc, argv);
}
#endif

int Run(const vrd::cli::Options& options) {
  std::vector<vrd::ByteString> roots;
  std::vector<std::string> files;
  if (!vrd::cli::LoadRunInputs(options, roots, files)) return kExitUsage;

  const bool progress = VRD_ISATTY(VRD_FILENO(stderr)) != 0 && !files.empty();
  bool all_verified = true;
  // Each worker formats its own file's output; the queue only writes it.
  struct Printed {
    std::string text;
    bool verified = false;
  };
  vrd::cli::BatchOutput output;
  auto emit = [&](size_t, const Printed& printed) {
    if (progress) ClearProgress();
    if (!output.Write(printed.text)) return;
    if (!printed.verified) all_verified = false;
  };
  // The bar is redrawn whenever any file finished, so a slow file does not
  // freeze it.
  auto finished = [&](size_t done) {
    if (progress) DrawProgress(done, files.size());
  };
  if (progress) DrawProgress(0, files.size());
  vrd::cli::RunInOrder<Printed>(
      files.size(), static_cast<size_t>(options.jobs),
      [&](size_t index) {
        const vrd::cli::FileResult result = vrd::cli::VerifyFile(files[index], roots);
        return Printed{options.json ? vrd::cli::FormatJson(files[index], result) + "\n"
                                    : vrd::cli::FormatText(files[index], result),
                       result.code == 0};
      },
      emit, finished, [&output]() { return output.Stopping(); });
  if (progress) ClearProgress();
  return output.ExitStatus(all_verified ? kExitVerified : kExitNotVerified);
}

// glibc hands blocks from 128 KiB up to its own mmap and gives freed heap
// tops back to the kernel; its thresholds rise with use, but only after the
// first large frees. A run over many documents decodes streams and strings
// of megabytes per file, so each file would pay for fresh, zeroed pages
// again (page faults cost more than the decoding in a virtual machine).
// tsverify owns its process: blocks up to 32 MiB come from the heap, and up
// to 64 MiB of freed heap is kept for the next file. Peak memory is the
// same; what is kept is what one document needed.
void TuneAllocator() {
#if defined(__GLIBC__)
  constexpr int kMmapThreshold = 32 << 20;  // glibc's largest on 64-bit
  constexpr int kTrimThreshold = 64 << 20;
  (void)mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  (void)mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  TuneAllocator();
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
  if (options.version) {
    std::fputs(vrd::cli::VersionText().c_str(), stdout);
    return kExitVerified;
  }
  if (options.all) {
#if defined(VRD_HAVE_REPORT)
    return RunAllModule(argc, argv);
#else
    std::fprintf(stderr, "tsverify: --all is not available in this build (no PDF parser)\n");
    return kExitUsage;
#endif
  }
  return Run(options);
}
