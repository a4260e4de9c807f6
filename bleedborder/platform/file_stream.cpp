#include "bleedborder/platform/file_stream.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>

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

// A large read of a file is made by two threads at once, each reading
// pieces at their own offsets: the kernel's copy, and the clearing of each
// fresh page the copy first writes, which costs about as much, then share
// two cores. The pieces go to whichever thread is free, so that a thread
// slowed down (by a page that takes long to clear, say) does not keep the
// other waiting with half of the work. Only the file's remaining bytes are
// asked for, so that a buffer larger than the file has no page touched past
// them.
constexpr std::int64_t kReadInPiecesFrom = std::int64_t{8} << 20;
constexpr std::int64_t kPieceBytes = std::int64_t{2} << 20;

// Reads count bytes at offset (a failed read counts as 0 bytes); gives the
// bytes read.
std::int64_t ReadAt(sys::HANDLE file, void* buffer, std::int64_t count, std::int64_t offset) {
  return MoveInCalls(count, [&](std::int64_t moved, sys::DWORD ask, sys::DWORD* done) {
    sys::OVERLAPPED at;
    const auto position = static_cast<std::uint64_t>(offset + moved);
    at.Offset = static_cast<sys::DWORD>(position);
    at.OffsetHigh = static_cast<sys::DWORD>(position >> 32);
    return sys::ReadFile(file, static_cast<char*>(buffer) + moved, ask, done, &at);
  });
}

}  // namespace

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
  if (count >= kReadInPiecesFrom) {
    const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t available = position >= 0 ? std::min(count, BytesAfter(position)) : 0;
    if (available >= kReadInPiecesFrom) return ReadInPieces(buffer, available, position);
  }
  return MoveInCalls(count, [&](std::int64_t offset, sys::DWORD ask, sys::DWORD* done) {
    return sys::ReadFile(file_.Get(), static_cast<char*>(buffer) + offset, ask, done, nullptr);
  });
}

// count bytes from position, in pieces taken in turn by this thread and a
// helper where one can start; the position is then moved past the bytes
// read: those before the first piece that came short (the file ended, or a
// read failed), all of them when none did.
std::int64_t THandleStream::ReadInPieces(void* buffer, std::int64_t count, std::int64_t position) {
  std::atomic<std::int64_t> nextPiece{0};
  std::atomic<std::int64_t> readUpTo{count};
  const auto readPieces = [&] {
    for (std::int64_t first; (first = nextPiece.fetch_add(kPieceBytes)) < count;) {
      const std::int64_t asked = std::min(kPieceBytes, count - first);
      const std::int64_t read = ReadAt(file_.Get(), static_cast<char*>(buffer) + first, asked, position + first);
      if (read == asked) continue;
      for (std::int64_t upTo = readUpTo.load(); first + read < upTo;)
        if (readUpTo.compare_exchange_weak(upTo, first + read)) break;
    }
  };
  std::thread helper;
  try {
    helper = std::thread(readPieces);
  } catch (const std::system_error&) {
    // This thread reads every piece.
  }
  readPieces();
  if (helper.joinable()) helper.join();
  const std::int64_t read = readUpTo.load();
  Seek(position + read, TSeekOrigin::soBeginning);
  return read;
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

std::int64_t THandleStream::BytesAfter(std::int64_t position) {
  const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  if (Seek(position, TSeekOrigin::soBeginning) != position || end < position) return 0;
  return end - position;
}

void THandleStream::Close() {
  if (!file_.Close()) RaiseMsg<EWriteError>(Msg::WriteError);
}

}  // namespace bleedborder
