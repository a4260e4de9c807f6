#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "bleedborder/platform/files.h"
#include "temp_dir.h"

using namespace bleedborder;

namespace {

using namespace sys;

FileHandle OpenReading(const std::string& name) {
  return FileHandle(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, HANDLE{}));
}

FileHandle CreateReplacing(const std::string& name) {
  return FileHandle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, HANDLE{}));
}

void Put(const FileHandle& file, const std::string& text) {
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr));
  ASSERT_EQ(done, text.size());
}

TEST(FileSharingTest, ReadersShare) {
  TempDir dir;
  const std::string name = dir.Write("picture.bmp", "BM");
  FileHandle first = OpenReading(name);
  FileHandle second = OpenReading(name);
  EXPECT_TRUE(first.Valid());
  EXPECT_TRUE(second.Valid());
}

TEST(FileSharingTest, AnOpenReaderRefusesACreateThatWouldTruncate) {
  TempDir dir;
  const std::string name = dir.Write("picture.bmp", "original content");
  {
    FileHandle reader = OpenReading(name);
    ASSERT_TRUE(reader.Valid());
    SetLastError(0);
    FileHandle creator = CreateReplacing(name);
    EXPECT_FALSE(creator.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBUSY));
    EXPECT_EQ(ContentOf(name), "original content");
  }
  // Once the reader is gone the create goes through.
  EXPECT_TRUE(CreateReplacing(name).Valid());
}

TEST(FileSharingTest, AnOpenCreatorRefusesReadersAndOtherCreators) {
  TempDir dir;
  const std::string name = dir / "out.bmp";
  FileHandle creator = CreateReplacing(name);
  ASSERT_TRUE(creator.Valid());
  Put(creator, "partial");
  EXPECT_FALSE(OpenReading(name).Valid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBUSY));
  EXPECT_FALSE(CreateReplacing(name).Valid());
  EXPECT_EQ(ContentOf(name), "partial");
}

TEST(FileSharingTest, CreateReplacesAndTruncates) {
  TempDir dir;
  const std::string name = dir.Write("out.bmp", "a much longer old content");
  {
    FileHandle file = CreateReplacing(name);
    ASSERT_TRUE(file.Valid());
    EXPECT_EQ(ContentOf(name), "");
    Put(file, "new");
  }
  EXPECT_EQ(ContentOf(name), "new");
}

TEST(FileSharingTest, NewFilesTakeTheUmaskedDefaultMode) {
  TempDir dir;
  const std::string name = dir / "made.bmp";
  const mode_t old = umask(022);
  const bool made = CreateReplacing(name).Valid();
  umask(old);
  ASSERT_TRUE(made);
  struct stat info {};
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// A link at the name is followed and its target written; a target that does
// not exist yet is made, through relative, absolute and chained links alike.
TEST(FileSharingTest, CreateThroughALinkWritesItsTargetAndMakesAMissingOne) {
  TempDir dir;
  ASSERT_EQ(symlink("made.bmp", (dir / "relative.bmp").c_str()), 0);
  ASSERT_EQ(symlink((dir / "absolute-made.bmp").c_str(), (dir / "absolute.bmp").c_str()), 0);
  ASSERT_EQ(symlink("middle.bmp", (dir / "chained.bmp").c_str()), 0);
  ASSERT_EQ(symlink("chain-end.bmp", (dir / "middle.bmp").c_str()), 0);
  dir.Write("existing.bmp", "old content");
  ASSERT_EQ(symlink("existing.bmp", (dir / "to-existing.bmp").c_str()), 0);
  const struct {
    const char* link;
    const char* target;
  } cases[] = {{"relative.bmp", "made.bmp"},
               {"absolute.bmp", "absolute-made.bmp"},
               {"chained.bmp", "chain-end.bmp"},
               {"to-existing.bmp", "existing.bmp"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    {
      FileHandle file = CreateReplacing(dir / c.link);
      ASSERT_TRUE(file.Valid()) << GetLastError();
      Put(file, "new");
    }
    EXPECT_EQ(ContentOf(dir / c.target), "new");
    struct stat info {};
    ASSERT_EQ(lstat((dir / c.link).c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
  }
  // A link into a folder that does not exist makes nothing.
  ASSERT_EQ(symlink("no/such/folder.bmp", (dir / "nowhere.bmp").c_str()), 0);
  EXPECT_FALSE(CreateReplacing(dir / "nowhere.bmp").Valid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
}

TEST(FileSharingTest, FailedOpensNameTheirErrorAndMakeNothing) {
  TempDir dir;
  struct Case {
    std::string name;
    bool create;
    int error;
  };
  const Case cases[] = {
      {dir / "missing.bmp", false, ENOENT},
      {dir / "no/such/dir.bmp", true, ENOENT},
      {dir.Path(), false, EISDIR},
      {dir.Path(), true, EISDIR},
      {"", false, ENOENT},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    const FileHandle file = c.create ? CreateReplacing(c.name) : OpenReading(c.name);
    EXPECT_FALSE(file.Valid()) << c.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error)) << c.name;
  }
  EXPECT_FALSE(OpenReading(dir / "missing.bmp").Valid()) << "a read open made the file";
}

TEST(FileTransferTest, ReadWriteAndSeekReportWhatMoved) {
  TempDir dir;
  FileHandle file = CreateReplacing(dir / "data.bin");
  ASSERT_TRUE(file.Valid());
  Put(file, "0123456789");
  std::int64_t position = -1;
  EXPECT_TRUE(SetFilePointerEx(file.Get(), 0, &position, FILE_END));
  EXPECT_EQ(position, 10);
  EXPECT_TRUE(SetFilePointerEx(file.Get(), -4, &position, FILE_CURRENT));
  EXPECT_EQ(position, 6);
  char buffer[8] = {};
  DWORD done = 99;
  EXPECT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "6789");
  EXPECT_FALSE(SetFilePointerEx(file.Get(), -1, &position, FILE_BEGIN));

  done = 99;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 1, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 1, &done, nullptr));
  EXPECT_EQ(done, 0u);
}

TEST(FileMessagesTest, ErrorCodesAndTheirTextsComeFromTheSystem) {
  SetLastError(ENOENT);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
  EXPECT_EQ(SysErrorMessage(ENOENT), "No such file or directory");
  EXPECT_EQ(TrimmedErrorMessage(EBUSY), "Device or resource busy");
  EXPECT_FALSE(SysErrorMessage(987654).empty());
}

}  // namespace
