#include "platform/file_stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "core/exceptions.h"
#include "temp_dir.h"

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
