#include "bleedborder/core/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "bleedborder/core/exceptions.h"

using namespace bleedborder;

namespace {

// A memory stream that accepts at most `room` bytes in all.
class FullStream : public TMemoryStream {
 public:
  explicit FullStream(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t n = TMemoryStream::Write(buffer, std::min(count, room_));
    room_ -= n;
    return n;
  }

 private:
  std::int64_t room_;
};

std::vector<std::uint8_t> Counting(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

TMemoryStream Holding(const std::vector<std::uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

TEST(StreamTest, ShortTransfersRaiseWithTheirTexts) {
  TMemoryStream source = Holding(Counting(4));
  std::uint8_t buffer[8] = {};
  try {
    source.ReadBuffer(buffer, 5);
    FAIL() << "a short read passed";
  } catch (const EReadError& error) {
    EXPECT_STREQ(error.what(), "Stream read error");
  }
  FullStream target(3);
  try {
    target.WriteBuffer(buffer, 4);
    FAIL() << "a short write passed";
  } catch (const EWriteError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
  }
  // What fitted stays written.
  EXPECT_EQ(target.Size(), 3);
}

TEST(StreamTest, CountZeroAlwaysSucceeds) {
  TMemoryStream empty;
  FullStream full(0);
  EXPECT_NO_THROW(empty.ReadBuffer(nullptr, 0));
  EXPECT_NO_THROW(full.WriteBuffer(nullptr, 0));
}

TEST(StreamTest, CopyFromZeroCopiesAllOfTheSourceFromItsStart) {
  // Larger than one copy chunk, so the copy takes several rounds.
  const auto bytes = Counting(200'000);
  TMemoryStream source = Holding(bytes);
  source.SetPosition(1234);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 200'000);
  EXPECT_EQ(target.Bytes(), bytes);
}

TEST(StreamTest, CopyFromTakesCountFromThePositionAndFailsWhenTheSourceRunsShort) {
  TMemoryStream source = Holding(Counting(10));
  source.SetPosition(6);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 3), 3);
  EXPECT_EQ(target.Bytes(), (std::vector<std::uint8_t>{6, 7, 8}));
  EXPECT_THROW(target.CopyFrom(source, 2), EReadError);
  EXPECT_EQ(target.CopyFrom(source, -5), 0);
  FullStream narrow(2);
  source.SetPosition(0);
  EXPECT_THROW(narrow.CopyFrom(source, 4), EWriteError);
}

TEST(MemoryStreamTest, WritingPastTheEndFillsTheGapWithZeros) {
  TMemoryStream stream;
  const std::uint8_t byte = 7;
  EXPECT_EQ(stream.Seek(3, TSeekOrigin::soBeginning), 3);
  stream.WriteBuffer(&byte, 1);
  EXPECT_EQ(stream.Bytes(), (std::vector<std::uint8_t>{0, 0, 0, 7}));
  // Reading at the end moves nothing.
  EXPECT_EQ(stream.Read(const_cast<std::uint8_t*>(&byte), 1), 0);
}

TEST(MemoryStreamTest, PositionsThatCannotBeReachedAreRefused) {
  TMemoryStream stream = Holding(Counting(4));
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(stream.Seek(-1, TSeekOrigin::soBeginning), -1);
  EXPECT_EQ(stream.Seek(kMax, TSeekOrigin::soEnd), -1);
  EXPECT_EQ(stream.Position(), 0);
  // A write that would end beyond any addressable size moves nothing.
  ASSERT_EQ(stream.Seek(kMax, TSeekOrigin::soBeginning), kMax);
  const std::uint8_t byte = 1;
  EXPECT_EQ(stream.Write(&byte, 1), 0);
  EXPECT_EQ(stream.Size(), 4);
}

}  // namespace
