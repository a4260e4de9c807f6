#pragma once
// Byte streams. Read and Write move what they can and report the count;
// ReadBuffer and WriteBuffer insist on the whole count and raise EReadError
// "Stream read error" and EWriteError "Stream write error" on a shortfall.
// A count of 0 always succeeds.
#include <cstdint>
#include <vector>

#include "bleedborder/export.h"

namespace bleedborder {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class BLEEDBORDER_EXPORT TStream {
 public:
  virtual ~TStream() = default;

  // Counts and positions are 64-bit; a negative count moves nothing.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position, or -1 when the stream cannot move there.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size();

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source at its position (count 0: all of source
  // from its start), in bounded chunks; EReadError when source runs short.
  // Returns the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Bytes held in memory. Grows as it is written; reading past the end moves
// nothing.
class BLEEDBORDER_EXPORT TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }

  const std::uint8_t* Memory() const { return bytes_.data(); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  void Clear();

 private:
  std::vector<std::uint8_t> bytes_;
  std::int64_t position_ = 0;
};

}  // namespace bleedborder
