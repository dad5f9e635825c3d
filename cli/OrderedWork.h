// The ordered work queue of tsverify: items are worked on by several
// threads, and their results are handed on in the order of the items, each
// as soon as it and all before it are done. Plain runs and --all both print
// through it.
//
// RunInOrder runs work(index) for every index below count on threads
// threads (the calling thread being one of them), then emit(index, result)
// for each in index order. Whichever worker completes the next result to
// emit emits it and every ready one after it, so no result waits for
// another thread to be scheduled; emit and finished(count_done) run under
// the queue's lock, one call at a time, finished after every completed item
// (for a progress display). Each result is released once emitted. Once
// stopping() is true no worker takes a further item; the items taken are
// finished and emitted.
#ifndef VRD_CLI_ORDEREDWORK_H_
#define VRD_CLI_ORDEREDWORK_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vrd {
namespace cli {

template <typename Result, typename Work, typename Emit, typename Finished, typename Stopping>
void RunInOrder(size_t count, size_t threads, Work work, Emit emit, Finished finished,
                Stopping stopping) {
  std::mutex mutex;
  std::vector<std::optional<Result>> results(count);
  std::atomic<size_t> next{0};
  size_t done = 0;
  size_t emitted = 0;
  auto worker = [&]() {
    for (;;) {
      if (stopping()) return;
      const size_t index = next.fetch_add(1);
      if (index >= count) return;
      Result result = work(index);
      std::lock_guard<std::mutex> lock(mutex);
      results[index] = std::move(result);
      ++done;
      while (emitted < count && results[emitted].has_value()) {
        emit(emitted, *results[emitted]);
        results[emitted].reset();
        ++emitted;
      }
      finished(done);
    }
  };
  const size_t thread_count = std::max<size_t>(1, std::min(threads, count));
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < thread_count; ++t) helpers.emplace_back(worker);
  worker();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_ORDEREDWORK_H_
