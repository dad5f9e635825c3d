// Test-only (POSIX): paths that name something other than a regular file
// (directory, FIFO with and without a writer, character devices, a bound
// Unix socket, symbolic links to them), for the suites that check that only
// regular files are read as documents. SpecialFiles owns what it creates in
// the temporary directory and removes it on destruction; it also holds the
// FIFO writer's descriptor.
#ifndef VRD_TESTS_SUPPORT_SPECIALFILES_H_
#define VRD_TESTS_SUPPORT_SPECIALFILES_H_

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vrd::test {

struct SpecialFile {
  std::string name;
  std::string path;
};

class SpecialFiles {
 public:
  // dir ends with '/'; tag keeps concurrent suites apart.
  SpecialFiles(const std::string& dir, const std::string& tag) {
    const std::string base = dir + "vrd_special_" + tag + "_" + std::to_string(::getpid());
    const std::string fifo = base + ".fifo";
    const std::string fed_fifo = base + ".fed.fifo";
    const std::string socket_path = base + ".sock";
    const std::string link_to_zero = base + ".zero.link";
    if (::mkfifo(fifo.c_str(), 0600) == 0) Add("Fifo", fifo);
    if (::mkfifo(fed_fifo.c_str(), 0600) == 0) {
      // Held open for reading and writing: a writer exists, but never writes.
      writer_ = ::open(fed_fifo.c_str(), O_RDWR | O_NONBLOCK);
      Add("FifoWithSilentWriter", fed_fifo);
    }
    socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_ >= 0 && socket_path.size() < sizeof address.sun_path) {
      std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
      if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        Add("UnixSocket", socket_path);
      }
    }
    if (::symlink("/dev/zero", link_to_zero.c_str()) == 0) Add("LinkToDevZero", link_to_zero);
    files_.push_back({"Directory", dir});
    files_.push_back({"DevZero", "/dev/zero"});
    files_.push_back({"DevNull", "/dev/null"});
    files_.push_back({"DevUrandom", "/dev/urandom"});
  }
  ~SpecialFiles() {
    if (writer_ >= 0) ::close(writer_);
    if (socket_ >= 0) ::close(socket_);
    for (const std::string& path : created_) std::remove(path.c_str());
  }
  SpecialFiles(const SpecialFiles&) = delete;
  SpecialFiles& operator=(const SpecialFiles&) = delete;

  const std::vector<SpecialFile>& files() const { return files_; }

 private:
  void Add(const char* name, const std::string& path) {
    files_.push_back({name, path});
    created_.push_back(path);
  }
  std::vector<SpecialFile> files_;
  std::vector<std::string> created_;
  int writer_ = -1;
  int socket_ = -1;
};

// Runs body in a child process that an alarm ends after seconds; the result
// is body's value (0 to 125), or -signal when the child died of a signal
// (SIGALRM: it hung). The caller's process never sees the signal.
inline int RunInChild(unsigned seconds, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1000;
  if (child == 0) {
    ::alarm(seconds);
    ::_exit(body());
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1000;
  }
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

}  // namespace vrd::test

#endif  // !_WIN32
#endif  // VRD_TESTS_SUPPORT_SPECIALFILES_H_
