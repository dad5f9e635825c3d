// Timing helpers shared by the benchmarks (BenchProcess.h).
#include "bench/BenchProcess.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace vrd::bench {

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

namespace {

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

Usage UsageOf(int who) {
  rusage usage{};
  getrusage(who, &usage);
  Usage u;
  u.cpu = CpuSeconds(usage);
  u.voluntary_switches = usage.ru_nvcsw;
  return u;
}

double TimeCommand(const std::string& command, int* status) {
  const auto start = Clock::now();
  *status = std::system(command.c_str());
  return Seconds(start);
}

bool ProcessTime::ExitedWith(std::initializer_list<int> accepted) const {
  if (status < 0 || !WIFEXITED(status)) return false;
  return std::find(accepted.begin(), accepted.end(), WEXITSTATUS(status)) != accepted.end();
}

ProcessTime TimeProcess(const std::vector<std::string>& argv, const std::string& out_path) {
  ProcessTime result;
  if (argv.empty()) return result;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return result;
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.seconds = Seconds(start);
  result.cpu = CpuSeconds(usage);
  result.status = status;
  return result;
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string rest = path;
  while (true) {
    const size_t colon = rest.find(':');
    const std::string dir = rest.substr(0, colon);
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (colon == std::string::npos) return false;
    rest.erase(0, colon + 1);
  }
}

double MachineScaling(int threads, int blocks) {
  const std::string block(16 << 10, 'x');
  auto work = [&block, blocks] {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (int i = 0; i < blocks; ++i) {
      EVP_Digest(block.data(), block.size(), digest, &length, EVP_sha256(), nullptr);
      benchmark::DoNotOptimize(digest);
    }
  };
  auto start = Clock::now();
  work();
  const double one = Seconds(start);
  start = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  const double many = Seconds(start);
  return (threads / many) / (1 / one);
}

}  // namespace vrd::bench
