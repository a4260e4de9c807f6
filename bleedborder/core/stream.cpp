#include "bleedborder/core/stream.h"

#include <algorithm>
#include <cstring>

#include "bleedborder/core/exceptions.h"

namespace bleedborder {

std::int64_t TStream::Size() {
  std::int64_t position = Position();
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) RaiseMsg<EReadError>(Msg::ReadError);
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) RaiseMsg<EWriteError>(Msg::WriteError);
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  // A negative count (or the size of a stream that has none) copies nothing.
  if (count <= 0) return 0;
  // A bounded buffer: a count taken from a file never sizes an allocation.
  constexpr std::int64_t kChunk = 1 << 16;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  std::int64_t left = count;
  while (left > 0) {
    std::int64_t n = std::min(left, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  std::int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t end = 0;
  // A write that would end beyond what memory can address moves nothing.
  if (count <= 0 || __builtin_add_overflow(position_, count, &end) ||
      static_cast<std::uint64_t>(end) > bytes_.max_size())
    return 0;
  if (end > Size()) bytes_.resize(static_cast<std::size_t>(end));
  std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : Size();
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::Clear() {
  bytes_.clear();
  position_ = 0;
}

}  // namespace bleedborder
