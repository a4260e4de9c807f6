#include "bleedborder/platform/file_stream.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bleedborder/core/exceptions.h"
#include "temp_dir.h"

using namespace bleedborder;

namespace {

using namespace sys;

HANDLE Create(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     HANDLE{});
}

TEST(FileStreamTest, WritesSeeksAndReadsBack) {
  TempDir dir;
  THandleStream stream(Create(dir / "data.bin"));
  ASSERT_NE(stream.Handle(), INVALID_HANDLE_VALUE);
  stream.WriteBuffer("hello world", 11);
  EXPECT_EQ(stream.Size(), 11);
  EXPECT_EQ(stream.Position(), 11) << "Size moved the position";
  stream.SetPosition(6);
  char word[5] = {};
  stream.ReadBuffer(word, 5);
  EXPECT_EQ(std::string(word, 5), "world");
  // Past the end a read moves nothing and a read-exactly fails.
  EXPECT_EQ(stream.Read(word, 5), 0);
  stream.SetPosition(8);
  EXPECT_THROW(stream.ReadBuffer(word, 5), EReadError);
}

// A read large enough to be made in pieces by two threads at once lands the
// file's bytes, and only those, in fresh memory, and leaves the position past
// them; the buffer starts inside a page and asks for more than the file
// holds, whose size is no multiple of a piece.
TEST(FileStreamTest, ALargeReadIntoFreshMemoryGetsEveryByte) {
  TempDir dir;
  const std::int64_t fileBytes = (std::int64_t{20} << 20) + 123;
  std::vector<std::uint8_t> content(static_cast<std::size_t>(fileBytes));
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  {
    THandleStream writer(Create(dir / "large.bin"));
    writer.WriteBuffer(content.data(), fileBytes);
  }
  // Pages no one has touched, but for the bytes past the file's, which are
  // set first and must keep their value.
  const std::size_t room = content.size() + (std::size_t{4} << 20);
  void* block = mmap(nullptr, room + 7, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  auto* fresh = static_cast<std::uint8_t*>(block);
  std::uint8_t* const past = fresh + 7 + (fileBytes - 100);
  std::fill(past, fresh + room + 7, 0xA5);
  THandleStream reader(CreateFileA((dir / "large.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, HANDLE{}));
  reader.SetPosition(100);
  EXPECT_EQ(reader.Read(fresh + 7, static_cast<std::int64_t>(room)), fileBytes - 100);
  EXPECT_TRUE(std::equal(content.begin() + 100, content.end(), fresh + 7));
  EXPECT_TRUE(std::all_of(past, fresh + room + 7, [](std::uint8_t b) { return b == 0xA5; }))
      << "bytes past the file's changed";
  EXPECT_EQ(reader.Position(), fileBytes);
  EXPECT_EQ(reader.Read(fresh, 1), 0);
  munmap(block, room + 7);
}

// A large read of a handle that cannot seek (a pipe) is made in one, in
// order.
TEST(FileStreamTest, ALargeReadOfAPipeGetsEveryByteInOrder) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::vector<std::uint8_t> content((std::size_t{9} << 20) + 5);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  std::thread writer([&] {
    THandleStream out(HANDLE{ends[1]});
    out.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
  });
  THandleStream in(HANDLE{ends[0]});
  std::vector<std::uint8_t> read(content.size() + 100);
  std::int64_t got = 0;
  for (std::int64_t n = 1; n > 0; got += n) n = in.Read(read.data() + got, static_cast<std::int64_t>(read.size()) - got);
  writer.join();
  ASSERT_EQ(got, static_cast<std::int64_t>(content.size()));
  EXPECT_TRUE(std::equal(content.begin(), content.end(), read.begin()));
}

TEST(FileStreamTest, AStreamWithoutAFileMovesNothing) {
  THandleStream stream(INVALID_HANDLE_VALUE);
  char byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_EQ(stream.Write(&byte, 1), 0);
  EXPECT_EQ(stream.Seek(0, TSeekOrigin::soEnd), -1);
  EXPECT_THROW(stream.WriteBuffer(&byte, 1), EWriteError);
  EXPECT_NO_THROW(stream.WriteBuffer(&byte, 0));
}

TEST(FileStreamTest, AFullDeviceFailsTheWrite) {
  // /dev/full takes no byte: every write fails with ENOSPC.
  THandleStream stream(Create("/dev/full"));
  if (stream.Handle() == INVALID_HANDLE_VALUE) GTEST_SKIP() << "/dev/full cannot be opened here";
  const char bytes[4] = {};
  EXPECT_THROW(stream.WriteBuffer(bytes, 4), EWriteError);
}

// A failure the system reports only when the file is closed (a delayed write
// error) is a write failure. Closing the descriptor behind the stream's back
// makes the stream's own close fail the way such a close does.
TEST(FileStreamTest, AFailedCloseIsAWriteFailure) {
  TempDir dir;
  THandleStream stream(Create(dir / "data.bin"));
  ASSERT_NE(stream.Handle(), INVALID_HANDLE_VALUE);
  stream.WriteBuffer("abc", 3);
  ASSERT_EQ(close(static_cast<int>(stream.Handle().value)), 0);
  EXPECT_THROW(stream.Close(), EWriteError);
  EXPECT_EQ(stream.Handle(), INVALID_HANDLE_VALUE) << "the handle is gone either way";
  EXPECT_NO_THROW(stream.Close()) << "nothing left to close";

  THandleStream good(Create(dir / "good.bin"));
  good.WriteBuffer("abc", 3);
  EXPECT_NO_THROW(good.Close());
}

}  // namespace
