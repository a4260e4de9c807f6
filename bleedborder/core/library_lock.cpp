#include "bleedborder/core/library_lock.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace bleedborder {

namespace {

// A re-entrant ticket lock: threads get the lock in the order they asked for
// it, so a thread that gives the lock back and asks again at once (a loop of
// drawing operations) lines up behind the threads already waiting instead of
// taking it from under them.
class FairRecursiveLock {
 public:
  void Enter() {
    std::unique_lock<std::mutex> guard(mutex_);
    if (owner_ == std::this_thread::get_id()) {
      ++depth_;
      return;
    }
    const std::uint64_t ticket = nextTicket_++;
    turn_.wait(guard, [&] { return serving_ == ticket; });
    Own();
  }

  bool TryEnter() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (owner_ == std::this_thread::get_id()) {
      ++depth_;
      return true;
    }
    // Free only when nobody holds the lock and nobody waits for it.
    if (nextTicket_ != serving_) return false;
    ++nextTicket_;
    Own();
    return true;
  }

  void Leave() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (--depth_ > 0) return;
      owner_ = std::thread::id{};
      ++serving_;
    }
    turn_.notify_all();
  }

 private:
  void Own() {
    owner_ = std::this_thread::get_id();
    depth_ = 1;
  }

  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t nextTicket_ = 0;  // the ticket the next thread to ask gets
  std::uint64_t serving_ = 0;     // the ticket of the thread holding the lock, or of the next one
  std::thread::id owner_;
  std::int32_t depth_ = 0;
};

FairRecursiveLock& Lock() {
  static auto* lock = new FairRecursiveLock;
  return *lock;
}

}  // namespace

void TLibraryLock::Enter() { Lock().Enter(); }

bool TLibraryLock::TryEnter() { return Lock().TryEnter(); }

void TLibraryLock::Leave() { Lock().Leave(); }

}  // namespace bleedborder
