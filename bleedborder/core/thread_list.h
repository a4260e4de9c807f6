#pragma once
// A list of object references guarded by its own re-entrant lock. Adding an
// object that is already present does nothing; removing takes out the first
// occurrence. LockList gives exclusive access to the items for iteration.
#include <algorithm>
#include <vector>

#include "bleedborder/core/recursive_lock.h"

namespace bleedborder {

template <class T>
class TThreadList {
 public:
  void Add(T* item) {
    TLockGuard guard(lock_);
    if (std::find(items_.begin(), items_.end(), item) == items_.end()) items_.push_back(item);
  }
  void Remove(T* item) {
    TLockGuard guard(lock_);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end()) items_.erase(it);
  }
  bool Contains(T* item) {
    TLockGuard guard(lock_);
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }
  std::size_t Count() {
    TLockGuard guard(lock_);
    return items_.size();
  }
  std::vector<T*>& LockList() {
    lock_.Enter();
    return items_;
  }
  bool TryLockList() { return lock_.TryEnter(); }
  void UnlockList() { lock_.Leave(); }

 private:
  TRecursiveLock lock_;
  std::vector<T*> items_;
};

}  // namespace bleedborder
