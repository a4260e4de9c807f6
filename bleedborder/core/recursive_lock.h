#pragma once
// A re-entrant lock: the thread that holds it may take it again, and must give
// it back as often as it took it.
#include <mutex>

namespace bleedborder {

class TRecursiveLock {
 public:
  void Enter() { mutex_.lock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Leave() { mutex_.unlock(); }

  // BasicLockable, so std::lock_guard and std::unique_lock work on it.
  void lock() { Enter(); }
  bool try_lock() { return TryEnter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

using TLockGuard = std::lock_guard<TRecursiveLock>;

}  // namespace bleedborder
