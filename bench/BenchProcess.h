// Timing helpers shared by the benchmarks that set our commands against
// other programs, or against the machine itself, in the same run: wall and
// CPU time of a child process, medians, and the machine's own thread scaling
// on pure CPU work (what a run on a shared machine can expect of its cores).
#ifndef VRD_BENCH_BENCHPROCESS_H_
#define VRD_BENCH_BENCHPROCESS_H_
#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

namespace vrd::bench {

using Clock = std::chrono::steady_clock;

// Seconds since start.
double Seconds(Clock::time_point start);

// The median (upper median for an even count); 0 for none.
double Median(std::vector<double> values);

// CPU seconds (user + system) and voluntary context switches so far, of this
// process (RUSAGE_SELF) or of its waited-for children (RUSAGE_CHILDREN).
struct Usage {
  double cpu = 0;
  long voluntary_switches = 0;
};
Usage UsageOf(int who);

// Runs command through the shell; the wall-clock seconds it took. *status is
// what std::system returned.
double TimeCommand(const std::string& command, int* status);

// One child process run directly (no shell in between), its standard output
// to out_path (created or truncated) and its standard error discarded.
struct ProcessTime {
  double seconds = 0;  // wall clock, from spawn to reaped
  double cpu = 0;      // the child's user + system seconds
  int status = -1;     // the wait status; -1 when it could not be started
  // Ran to its end and exited with one of the given statuses.
  bool ExitedWith(std::initializer_list<int> accepted) const;
};
ProcessTime TimeProcess(const std::vector<std::string>& argv,
                        const std::string& out_path = "/dev/null");

// Whether an executable of that name is on PATH.
bool OnPath(const std::string& name);

// The machine's own scaling in the same run: `blocks` SHA-256 passes over
// 16 KiB (about 10 us each) on one thread, then the same on each of
// `threads` threads at once; the throughput of the threads over that of the
// one. On a shared machine it says how many cores there were.
double MachineScaling(int threads, int blocks);

}  // namespace vrd::bench

#endif  // VRD_BENCH_BENCHPROCESS_H_
