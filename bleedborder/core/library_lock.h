#pragma once
// The library lock: one process-wide re-entrant lock that every public
// operation of bitmaps, canvases, tools and graphics holds while it reads or
// changes their state. One lock for everything: no lock order to keep, and
// no wait between two of the library's own locks. The raster device's lock is
// the only one taken below it.
#include "bleedborder/core/thread_annotations.h"
#include "bleedborder/export.h"

namespace bleedborder {

class CAPABILITY("library lock") BLEEDBORDER_EXPORT TLibraryLock {
 public:
  constexpr TLibraryLock() = default;
  TLibraryLock(const TLibraryLock&) = delete;
  TLibraryLock& operator=(const TLibraryLock&) = delete;

  void Enter() ACQUIRE();
  // Never waits: false when another thread holds the lock.
  bool TryEnter() TRY_ACQUIRE(true);
  void Leave() RELEASE();
};

// The lock itself. It holds no state of its own (the mutex behind it is made
// on first use and never destroyed), so it may be taken before main and after
// the end of main.
inline constinit BLEEDBORDER_EXPORT TLibraryLock LibraryLock;

// The library lock, held for a scope.
class SCOPED_CAPABILITY TLibraryHold {
 public:
  TLibraryHold() ACQUIRE(LibraryLock) { LibraryLock.Enter(); }
  TLibraryHold(const TLibraryHold&) = delete;
  TLibraryHold& operator=(const TLibraryHold&) = delete;
  ~TLibraryHold() RELEASE() { LibraryLock.Leave(); }
};

}  // namespace bleedborder
