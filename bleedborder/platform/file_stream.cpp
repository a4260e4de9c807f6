#include "bleedborder/platform/file_stream.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <system_error>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include "bleedborder/core/exceptions.h"

namespace bleedborder {

namespace {

// The largest count one platform call moves; longer transfers take several.
constexpr std::int64_t kMaxCall = std::int64_t{1} << 30;

// Moves count bytes in calls of at most kMaxCall, stopping at the first call
// that moves less than asked (end of file, or a failure counted as 0).
template <class Call>
std::int64_t MoveInCalls(std::int64_t count, Call call) {
  std::int64_t moved = 0;
  while (moved < count) {
    const auto ask = static_cast<sys::DWORD>(std::min(count - moved, kMaxCall));
    sys::DWORD done = 0;
    if (!call(moved, ask, &done)) done = 0;
    moved += done;
    if (done < ask) break;
  }
  return moved;
}

// A large read into memory not touched yet: the kernel clears each fresh page
// as the copy first writes it, which costs about as much as the copy. A helper
// thread has the pages committed ahead of the copy (MADV_POPULATE_WRITE keeps
// what they hold), so that the clearing and the copying share two cores. Only
// the pages the file's remaining bytes will fill are committed; nothing is
// done where the kernel lacks the advice or no thread can start.
constexpr std::int64_t kReadHelpedFrom = std::int64_t{8} << 20;

class TPagesAhead {
 public:
  TPagesAhead(void* buffer, std::int64_t count) {
#if defined(MADV_POPULATE_WRITE)
    if (count < kReadHelpedFrom) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    first_ = (start + page - 1) / page * page;
    end_ = (start + static_cast<std::uintptr_t>(count)) / page * page;
    if (end_ <= first_) return;
    try {
      helper_ = std::thread([this] { Commit(); });
    } catch (const std::system_error&) {
      // The read goes on without help.
    }
#else
    (void)buffer;
    (void)count;
#endif
  }
  TPagesAhead(const TPagesAhead&) = delete;
  TPagesAhead& operator=(const TPagesAhead&) = delete;
  ~TPagesAhead() {
    stop_.store(true, std::memory_order_relaxed);
    if (helper_.joinable()) helper_.join();
  }

 private:
  static constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;

  void Commit() {
#if defined(MADV_POPULATE_WRITE)
    for (std::uintptr_t at = first_; at < end_ && !stop_.load(std::memory_order_relaxed); at += kStep) {
      const std::uintptr_t length = std::min(kStep, end_ - at);
      if (madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0) return;
    }
#endif
  }

  std::uintptr_t first_ = 0;
  std::uintptr_t end_ = 0;
  std::atomic<bool> stop_{false};
  std::thread helper_;
};

}  // namespace

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
  const TPagesAhead ahead(buffer, count >= kReadHelpedFrom ? std::min(count, RemainingBytes()) : 0);
  return MoveInCalls(count, [&](std::int64_t offset, sys::DWORD ask, sys::DWORD* done) {
    return sys::ReadFile(file_.Get(), static_cast<char*>(buffer) + offset, ask, done, nullptr);
  });
}

std::int64_t THandleStream::Write(const void* buffer, std::int64_t count) {
  return MoveInCalls(count, [&](std::int64_t offset, sys::DWORD ask, sys::DWORD* done) {
    return sys::WriteFile(file_.Get(), static_cast<const char*>(buffer) + offset, ask, done, nullptr);
  });
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const sys::DWORD method = origin == TSeekOrigin::soBeginning ? sys::FILE_BEGIN
                            : origin == TSeekOrigin::soCurrent ? sys::FILE_CURRENT
                                                               : sys::FILE_END;
  std::int64_t position = -1;
  return sys::SetFilePointerEx(file_.Get(), offset, &position, method) ? position : -1;
}

std::int64_t THandleStream::RemainingBytes() {
  const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
  if (position < 0) return 0;
  const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  if (Seek(position, TSeekOrigin::soBeginning) != position || end < position) return 0;
  return end - position;
}

void THandleStream::Close() {
  if (!file_.Close()) RaiseMsg<EWriteError>(Msg::WriteError);
}

}  // namespace bleedborder
