#pragma once
// Sharing a loop over independent items (rows, as a rule) among threads.
//
// The calling thread always takes part, so the work is done even when no
// other thread can be started: a thread that cannot start only means fewer
// threads. A failure inside any thread (an allocation, say) stops the others
// at their next chunk and is rethrown to the caller, as it was raised, once
// every thread has finished; it never ends the process.
#include <cstdint>
#include <functional>
#include <future>
#include <thread>

#include "bleedborder/export.h"

namespace bleedborder {

// Work on the items [first, last).
using TChunkWork = std::function<void(std::int32_t first, std::int32_t last)>;
// Starts a thread running body; throws when it cannot (std::thread does).
using TThreadStarter = std::function<std::thread(std::function<void()> body)>;

// The threads worth starting for count items of about itemCost operations
// each: one per core (at most 8), one when the whole loop is too small to pay
// for a thread.
BLEEDBORDER_EXPORT unsigned ThreadsFor(std::int64_t count, std::int64_t itemCost);

// Runs work over [0, count) in chunks of chunk items (the last may be
// shorter), taken in order by up to threads threads, the caller included.
BLEEDBORDER_EXPORT void ShareOut(std::int32_t count, std::int32_t chunk, unsigned threads, const TChunkWork& work);
// The same with the threads started by starter (tests make it fail).
BLEEDBORDER_EXPORT void ShareOut(std::int32_t count, std::int32_t chunk, unsigned threads, const TChunkWork& work,
                                 const TThreadStarter& starter);

// Work on the items [first, last) by the thread numbered worker: 0 is the
// calling thread, the others 1 .. threads - 1, so that each may keep
// scratch memory of its own, made before the loop.
using TWorkerChunkWork = std::function<void(unsigned worker, std::int32_t first, std::int32_t last)>;

// ShareOut for chunks whose results are handed on in order (written to a
// file, say): a thread makes a chunk, waits until every earlier chunk has
// been handed on, then hands its own on, one thread at a time. While one
// thread hands on, the others make the next chunks.
BLEEDBORDER_EXPORT void ShareOutInOrder(std::int32_t count, std::int32_t chunk, unsigned threads,
                                        const TWorkerChunkWork& make, const TWorkerChunkWork& handOn);
BLEEDBORDER_EXPORT void ShareOutInOrder(std::int32_t count, std::int32_t chunk, unsigned threads,
                                        const TWorkerChunkWork& make, const TWorkerChunkWork& handOn,
                                        const TThreadStarter& starter);

// Work done on a thread of its own while its starter goes on with something
// else, for the threads that need its result to wait for: any number of
// them, each as often as it likes. Without onAThread, or where no thread can
// start, the work is done at once, in the constructor. The object waits for
// the work before it goes, on every path.
class BLEEDBORDER_EXPORT TBackgroundWork {
 public:
  TBackgroundWork(const std::function<void()>& work, bool onAThread);
  // Waits until the work is done; raises what it raised.
  void Await() const { done_.get(); }

 private:
  std::shared_future<void> done_;
};

}  // namespace bleedborder
