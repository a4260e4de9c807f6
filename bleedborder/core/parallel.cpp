#include "bleedborder/core/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <vector>

namespace bleedborder {

namespace {

// Work below this many operations in all is done on the calling thread:
// starting and joining a thread costs more.
constexpr std::int64_t kOperationsPerThread = std::int64_t{1} << 20;
constexpr unsigned kMostThreads = 8;

// The chunks still to take, the turn of handing them on, and the first
// failure; shared by the threads.
class TChunkQueue {
 public:
  TChunkQueue(std::int32_t count, std::int32_t chunk) : count_(count), chunk_(std::max(chunk, 1)) {}

  // Takes and works chunks until none is left or a thread has failed; with
  // handOn, each chunk is handed on in order once made.
  void Drain(unsigned worker, const TWorkerChunkWork& make, const TWorkerChunkWork* handOn) {
    try {
      for (;;) {
        if (failed_.load(std::memory_order_relaxed)) return;
        const std::int64_t first = next_.fetch_add(chunk_, std::memory_order_relaxed);
        if (first >= count_) return;
        const auto last = static_cast<std::int32_t>(std::min<std::int64_t>(count_, first + chunk_));
        make(worker, static_cast<std::int32_t>(first), last);
        if (handOn == nullptr) continue;
        if (!AwaitTurn(first)) return;
        (*handOn)(worker, static_cast<std::int32_t>(first), last);
        PassTurn(last);
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  void RethrowFailure() {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  // Chunks are taken in order, so every chunk before first is held by a
  // thread that hands it on (or fails) without waiting for a later one.
  bool AwaitTurn(std::int64_t first) {
    std::unique_lock<std::mutex> guard(lock_);
    turnChanged_.wait(guard, [&] { return handedOn_ == first || failed_.load(std::memory_order_relaxed); });
    return handedOn_ == first && !failed_.load(std::memory_order_relaxed);
  }

  void PassTurn(std::int64_t last) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      handedOn_ = last;
    }
    turnChanged_.notify_all();
  }

  void Fail(std::exception_ptr failure) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (!failure_) failure_ = std::move(failure);
      failed_.store(true, std::memory_order_relaxed);
    }
    turnChanged_.notify_all();
  }

  const std::int64_t count_;
  const std::int64_t chunk_;
  std::atomic<std::int64_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex lock_;
  std::condition_variable turnChanged_;
  std::int64_t handedOn_ = 0;  // the chunks before it are handed on
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

void Share(std::int32_t count, std::int32_t chunk, unsigned threads, const TWorkerChunkWork& make,
           const TWorkerChunkWork* handOn, const TThreadStarter& starter) {
  if (count <= 0) return;
  TChunkQueue queue(count, chunk);
  {
    TJoiner joiner;
    try {
      const unsigned helpers = threads > 1 ? threads - 1 : 0;
      joiner.Reserve(helpers);
      for (unsigned worker = 1; worker <= helpers; ++worker)
        joiner.Add(starter([&queue, &make, handOn, worker] { queue.Drain(worker, make, handOn); }));
    } catch (...) {
      // A thread that cannot start (or the room to record it): the threads
      // already running and this one share the work.
    }
    queue.Drain(0, make, handOn);
  }
  queue.RethrowFailure();
}

TWorkerChunkWork AnyWorker(const TChunkWork& work) {
  return [&work](unsigned, std::int32_t first, std::int32_t last) { work(first, last); };
}

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
  Share(count, chunk, threads, AnyWorker(work), nullptr, starter);
}

void ShareOutInOrder(std::int32_t count, std::int32_t chunk, unsigned threads, const TWorkerChunkWork& make,
                     const TWorkerChunkWork& handOn) {
  ShareOutInOrder(count, chunk, threads, make, handOn, StartThread);
}

void ShareOutInOrder(std::int32_t count, std::int32_t chunk, unsigned threads, const TWorkerChunkWork& make,
                     const TWorkerChunkWork& handOn, const TThreadStarter& starter) {
  Share(count, chunk, threads, make, &handOn, starter);
}

TBackgroundWork::TBackgroundWork(const std::function<void()>& work, bool onAThread) {
  if (onAThread) {
    try {
      done_ = std::async(std::launch::async, work).share();
      return;
    } catch (const std::system_error&) {
      // Done here instead.
    }
  }
  work();
  std::promise<void> doneAtOnce;
  doneAtOnce.set_value();
  done_ = doneAtOnce.get_future().share();
}

}  // namespace bleedborder
