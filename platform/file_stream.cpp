#include "platform/file_stream.h"

#include <algorithm>
#include <limits>

#include "core/exceptions.h"

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

}  // namespace

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
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

void THandleStream::Close() {
  if (!file_.Close()) RaiseMsg<EWriteError>(Msg::WriteError);
}
