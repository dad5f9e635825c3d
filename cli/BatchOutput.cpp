#include "cli/BatchOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/TsVerifyCore.h"

namespace vrd {
namespace cli {
namespace {

// The signal that asked the batch to stop, 0 while none did.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void RequestStop(int signal_number) { stop_signal = signal_number; }

// The exit status of a process that a signal ended (the shells' convention).
constexpr int kExitSignalBase = 128;

}  // namespace

BatchOutput::BatchOutput() {
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
}

bool BatchOutput::Write(const std::string& text) {
  if (failed_) return false;
  errno = 0;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  if (written) return true;
  failed_ = true;
  const int error = errno;
  std::fprintf(stderr, "tsverify: cannot write the results: %s\n",
               error != 0 ? std::strerror(error) : "write error");
  return false;
}

bool BatchOutput::Stopping() const { return failed_ || stop_signal != 0; }

int BatchOutput::ExitStatus(int verified_status) const {
  if (failed_) return kExitUsage;
  if (stop_signal != 0) return kExitSignalBase + stop_signal;
  return verified_status;
}

}  // namespace cli
}  // namespace vrd
