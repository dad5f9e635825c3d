// How tsverify writes a batch's results and ends it: each result is written
// whole and flushed at once, so that whatever stops the run leaves only whole
// lines behind; SIGINT and SIGTERM (on Windows, Ctrl-C and Ctrl-Break in the
// console) stop the batch once the files in flight are written instead of
// ending the process mid-line; a write that fails
// (full disk, closed standard output, a pipe whose reader left while SIGPIPE
// is ignored) stops the batch with a message on standard error. A reader
// that leaves a pipe otherwise ends the process quietly (SIGPIPE).
//
// One BatchOutput per run: Write from one thread at a time, Stopping from
// any; the stop request is process-wide (a signal handler sets it).
#ifndef VRD_CLI_BATCHOUTPUT_H_
#define VRD_CLI_BATCHOUTPUT_H_

#include <atomic>
#include <string>

namespace vrd {
namespace cli {

class BatchOutput {
 public:
  // Installs the SIGINT and SIGTERM handlers (Windows: the console control
  // handler) for the run.
  BatchOutput();

  // Writes text to standard output and flushes it; false once a write has
  // failed (the message is printed once, and nothing more is written).
  [[nodiscard]] bool Write(const std::string& text);

  // True once a stop signal came or a write failed: take no further file.
  [[nodiscard]] bool Stopping() const;

  // The run's exit status: verified_status when it ran to its end, 2 after
  // a write error, 128 plus the signal's number when a signal stopped it.
  [[nodiscard]] int ExitStatus(int verified_status) const;

 private:
  std::atomic<bool> failed_{false};  // read by every worker
};

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_BATCHOUTPUT_H_
