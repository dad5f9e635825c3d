#include "cli/BatchOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/TsVerifyCore.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vrd {
namespace cli {
namespace {

// The signal that asked the batch to stop, 0 while none did.
volatile std::sig_atomic_t stop_signal = 0;

#if defined(_WIN32)
// Windows has no SIGINT or SIGTERM to send: Ctrl-C and Ctrl-Break in the
// console stop the batch as SIGINT does elsewhere (exit status 130). Closing
// the console, logging off and shutting down are left to the default
// handler, which ends the process.
BOOL WINAPI RequestStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  stop_signal = SIGINT;
  return TRUE;
}
#else
extern "C" void RequestStop(int signal_number) { stop_signal = signal_number; }
#endif

// The exit status of a process that a signal ended (the shells' convention).
constexpr int kExitSignalBase = 128;

}  // namespace

BatchOutput::BatchOutput() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(RequestStop, TRUE);
#else
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
#endif
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
