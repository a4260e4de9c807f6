#include "core/library_lock.h"

#include <mutex>

namespace {

std::recursive_mutex& Mutex() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

}  // namespace

void TLibraryLock::Enter() { Mutex().lock(); }

bool TLibraryLock::TryEnter() { return Mutex().try_lock(); }

void TLibraryLock::Leave() { Mutex().unlock(); }
