#include "cli/ReportEntry.h"

#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/AssembleSignedContent.h"
#include "api/DocumentOutcome.h"
#include "api/VerifyDocumentFile.h"
#include "api/VerifyTimeStampToken.h"
#include "cli/AllFile.h"
#include "cli/AllReport.h"
#include "cli/TsVerifyCore.h"
#include "pdf/Messages.h"

namespace vrd {
namespace cli {
namespace {

// The trust of one setting, loaded once and then only read.
struct LoadedTrust {
  std::vector<ByteString> roots;  // the anchor files' certificates (DER)
  report::TrustSources sources;
  std::shared_future<bool> ready;  // always true: only loaded trust is kept
};

// The setting's trust, loaded on first use; null with error set when it
// cannot be loaded (nothing is kept then, so a later call tries again).
std::shared_ptr<const LoadedTrust> TrustFor(const std::vector<std::string>& anchor_files,
                                            bool system_roots, std::string& error) {
  static std::mutex mutex;
  static std::map<std::pair<std::vector<std::string>, bool>, std::shared_ptr<const LoadedTrust>>
      cache;
  const std::lock_guard<std::mutex> lock(mutex);
  auto key = std::make_pair(anchor_files, system_roots);
  const auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  auto trust = std::make_shared<LoadedTrust>();
  if (!LoadTrustAnchorFiles(anchor_files, trust->roots, error) ||
      !trust->sources.Load(AllTrustSettings(trust->roots, system_roots), &error)) {
    return nullptr;
  }
  std::promise<bool> loaded;
  loaded.set_value(true);
  trust->ready = loaded.get_future().share();
  cache.emplace(std::move(key), trust);
  return trust;
}

// A malloc'd copy, for the caller to free with VrdTsverifyFreeText1.
char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void DropMessage(void*, PdfMessage) noexcept {}

}  // namespace
}  // namespace cli
}  // namespace vrd

extern "C" int VrdTsverifyReportJson1(const char* path, const char* const* anchor_files,
                                      int anchor_count, int system_roots, char** text) {
  using namespace vrd::cli;
  if (text == nullptr) return VRD_REPORT_USAGE;
  *text = nullptr;
  try {
    std::string error;
    if (path == nullptr || anchor_count < 0 || (anchor_count > 0 && anchor_files == nullptr)) {
      error = "a path, and an array of anchor_count file names, are needed";
    } else {
      std::vector<std::string> files;
      for (int i = 0; i < anchor_count && error.empty(); ++i) {
        if (anchor_files[i] == nullptr) error = "a trust anchor file name is null";
        if (error.empty()) files.emplace_back(anchor_files[i]);
      }
      const std::shared_ptr<const LoadedTrust> trust =
          error.empty() ? TrustFor(files, system_roots != 0, error) : nullptr;
      if (trust != nullptr) {
        const AllResult result = ReportFile(path, trust->sources, trust->ready, trust->roots);
        *text = CopyText(FormatAllJson(path, result));
        return *text != nullptr ? VRD_REPORT_OK : VRD_REPORT_FAILURE;
      }
    }
    *text = CopyText(error);
    return *text != nullptr ? VRD_REPORT_USAGE : VRD_REPORT_FAILURE;
  } catch (...) {
    return VRD_REPORT_FAILURE;
  }
}

extern "C" void VrdTsverifyFreeText1(char* text) { std::free(text); }

extern "C" const char* VrdTsverifyDocumentOutcome1(const char* path, const unsigned char* data,
                                                   int32_t size) {
  try {
    const vrd::ScopedPdfMessageReceiver quiet(&vrd::cli::DropMessage, nullptr);
    vrd::DocumentOutcome outcome = vrd::DocumentOutcome::kAssembled;
    if (path != nullptr) {
      static_cast<void>(vrd::VerifyDocumentFile(path, {}, {}, &outcome));
    } else {
      vrd::WorkingDocument document(data, size);
      static_cast<void>(vrd::VerifyWorkingDocument(document, {}, {}, &outcome));
    }
    return vrd::DocumentOutcomeName(outcome);
  } catch (...) {
    return nullptr;
  }
}
