#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <vector>

namespace {

// Work below this many operations in all is done on the calling thread:
// starting and joining a thread costs more.
constexpr std::int64_t kOperationsPerThread = std::int64_t{1} << 20;
constexpr unsigned kMostThreads = 8;

// The chunks still to take and the first failure; shared by the threads.
class TChunkQueue {
 public:
  TChunkQueue(std::int32_t count, std::int32_t chunk) : count_(count), chunk_(std::max(chunk, 1)) {}

  // Takes and works chunks until none is left or a thread has failed.
  void Drain(const TChunkWork& work) {
    try {
      for (;;) {
        if (failed_.load(std::memory_order_relaxed)) return;
        const std::int64_t first = next_.fetch_add(chunk_, std::memory_order_relaxed);
        if (first >= count_) return;
        work(static_cast<std::int32_t>(first), static_cast<std::int32_t>(std::min<std::int64_t>(count_, first + chunk_)));
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  void RethrowFailure() {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void Fail(std::exception_ptr failure) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!failure_) failure_ = std::move(failure);
    failed_.store(true, std::memory_order_relaxed);
  }

  const std::int64_t count_;
  const std::int64_t chunk_;
  std::atomic<std::int64_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex lock_;
  std::exception_ptr failure_;
};

// Joins every thread started, on every path.
class TJoiner {
 public:
  ~TJoiner() {
    for (std::thread& thread : threads_) thread.join();
  }
  void Add(std::thread thread) { threads_.push_back(std::move(thread)); }
  void Reserve(std::size_t count) { threads_.reserve(count); }

 private:
  std::vector<std::thread> threads_;
};

std::thread StartThread(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace

unsigned ThreadsFor(std::int64_t count, std::int64_t itemCost) {
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
  return count * std::max<std::int64_t>(itemCost, 1) < kOperationsPerThread ? 1u : cores;
}

void ShareOut(std::int32_t count, std::int32_t chunk, unsigned threads, const TChunkWork& work) {
  ShareOut(count, chunk, threads, work, StartThread);
}

void ShareOut(std::int32_t count, std::int32_t chunk, unsigned threads, const TChunkWork& work,
              const TThreadStarter& starter) {
  if (count <= 0) return;
  TChunkQueue queue(count, chunk);
  {
    TJoiner joiner;
    try {
      const unsigned helpers = threads > 1 ? threads - 1 : 0;
      joiner.Reserve(helpers);
      for (unsigned i = 0; i < helpers; ++i) joiner.Add(starter([&queue, &work] { queue.Drain(work); }));
    } catch (...) {
      // A thread that cannot start (or the room to record it): the threads
      // already running and this one share the work.
    }
    queue.Drain(work);
  }
  queue.RethrowFailure();
}
