// The built program, run as a user runs it, in a temporary folder.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "tests/tool/tool_test_support.h"

namespace {

using namespace tool_test;

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// A small picture with no white pixel in it.
std::string SmallPicture() {
  return Bmp24(9, 6, [](int x, int y) { return 0x203040u + static_cast<std::uint32_t>(x * 16 + y); });
}

void SetTime1970(const std::string& path) {
  const timeval times[2] = {{0, 0}, {0, 0}};
  if (utimes(path.c_str(), times) != 0) throw std::runtime_error("utimes failed");
}

std::string FileNotOpened(const TempFolder& folder, const std::string& name, int error) {
  return ExpectedReport("EFOpenError",
                        "Cannot open file \"" + (folder / name) + "\". " + std::strerror(error) + ".");
}

std::string FileNotCreated(const TempFolder& folder, const std::string& name, int error) {
  return ExpectedReport("EFCreateError",
                        "Cannot create file \"" + (folder / name) + "\". " + std::strerror(error) + ".");
}

enum class Output { None, Empty, Picture };

struct OutcomeCase {
  const char* situation;
  std::function<void(const TempFolder&)> setUp;
  std::vector<std::string> args;
  int exitCode;
  std::function<std::string(const TempFolder&)> report;  // empty: nothing on standard error
  Output output;
  std::string outputName;  // the file the run makes, if any
  bool needsNonRoot = false;
};

// Files another process holds open for writing while the tool runs.
std::vector<int> heldFiles;

void HoldForWriting(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fd < 0 || fcntl(fd, F_OFD_SETLK, &lock) != 0) throw std::runtime_error("cannot hold " + path);
  heldFiles.push_back(fd);
}

void ReleaseHeldFiles() {
  for (int fd : heldFiles) close(fd);
  heldFiles.clear();
}

auto Write(const std::string& name, std::string bytes) {
  return [name, bytes](const TempFolder& folder) { WriteBytes(folder / name, bytes); };
}

TEST(Outcomes, EveryRow) {
  const std::string picture = SmallPicture();
  std::string badPlanes = picture;
  PutLittleEndian(badPlanes, 26, 2, 2);
  std::string startsBA = picture;
  startsBA[1] = 'A';
  const auto readError = [](const TempFolder&) { return ExpectedReport("EReadError", "Stream read error."); };
  const auto invalid = [](const TempFolder&) { return ExpectedReport("EInvalidGraphic", "Bitmap image is not valid."); };

  const OutcomeCase cases[] = {
      {"no argument", Write("a.bmp", picture), {}, 0, {}, Output::None, ""},
      {"an empty argument", Write("a.bmp", picture), {""}, 0, {}, Output::None, ""},
      {"a missing name", Write("a.bmp", picture), {"b.bmp"}, 0, {}, Output::None, ""},
      {"a directory", [](const TempFolder& f) { fs::create_directory(f / "pics"); }, {"pics"}, 0, {}, Output::None, ""},
      {"a pattern whose first match is a directory",
       [](const TempFolder& f) { fs::create_directory(f / "pics"); }, {"pic*"}, 0, {}, Output::None, ""},
      {"a picture", Write("a.bmp", picture), {"a.bmp"}, 0, {}, Output::Picture, "a.bmp.bmp"},
      {"a name with a blank, as one argument", Write("my picture.bmp", picture), {"my picture.bmp"}, 0, {},
       Output::Picture, "my picture.bmp.bmp"},
      {"a picture dated 1970",
       [&](const TempFolder& f) {
         WriteBytes(f / "old.bmp", picture);
         SetTime1970(f / "old.bmp");
       },
       {"old.bmp"}, 0, {}, Output::Picture, "old.bmp.bmp"},
      {"an output that exists already",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", picture);
         WriteBytes(f / "a.bmp.bmp", std::string(100000, 'x'));
       },
       {"a.bmp"}, 0, {}, Output::Picture, "a.bmp.bmp"},
      {"an empty file", Write("e.bmp", ""), {"e.bmp"}, 0, {}, Output::Empty, "e.bmp.bmp"},
      {"a file of 1 byte", Write("s.bmp", "B"), {"s.bmp"}, 1, readError, Output::None, ""},
      {"a file of 2 bytes", Write("s.bmp", "BM"), {"s.bmp"}, 1, readError, Output::None, ""},
      {"a file of 13 bytes", Write("s.bmp", picture.substr(0, 13)), {"s.bmp"}, 1, readError, Output::None, ""},
      {"a file starting BA", Write("ba.bmp", startsBA), {"ba.bmp"}, 1, invalid, Output::None, ""},
      {"a header with two planes", Write("p.bmp", badPlanes), {"p.bmp"}, 1, invalid, Output::None, ""},
      {"a pattern that matches a file", Write("pic.bmp", picture), {"pi?.bmp"}, 1,
       [](const TempFolder& f) { return FileNotOpened(f, "pi?.bmp", ENOENT); }, Output::None, ""},
      {"a pattern that matches nothing", Write("pic.bmp", picture), {"x*.bmp"}, 0, {}, Output::None, ""},
      {"a pattern that is a file's own name", Write("p?c.bmp", picture), {"p?c.bmp"}, 0, {}, Output::Picture,
       "p?c.bmp.bmp"},
      {"a file without read permission",
       [&](const TempFolder& f) {
         WriteBytes(f / "locked.bmp", picture);
         fs::permissions(f / "locked.bmp", fs::perms::none);
       },
       {"locked.bmp"}, 1, [](const TempFolder& f) { return FileNotOpened(f, "locked.bmp", EACCES); }, Output::None,
       "", true},
      {"a file held open for writing by another process",
       [&](const TempFolder& f) {
         WriteBytes(f / "busy.bmp", picture);
         HoldForWriting(f / "busy.bmp");
       },
       {"busy.bmp"}, 1, [](const TempFolder& f) { return FileNotOpened(f, "busy.bmp", EBUSY); }, Output::None, ""},
      {"a directory at the output's name",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", picture);
         fs::create_directory(f / "a.bmp.bmp");
       },
       {"a.bmp"}, 1, [](const TempFolder& f) { return FileNotCreated(f, "a.bmp.bmp", EISDIR); }, Output::None, ""},
      {"a read-only folder",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", picture);
         fs::permissions(f.Path(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       {"a.bmp"}, 1, [](const TempFolder& f) { return FileNotCreated(f, "a.bmp.bmp", EACCES); }, Output::None, "",
       true},
      {"a dangling link at the output's name: its target is made",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", picture);
         fs::create_symlink("made.bmp", f / "a.bmp.bmp");
       },
       {"a.bmp"}, 0, {}, Output::Picture, "made.bmp"},
      {"an output on a full device",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", picture);
         fs::create_symlink("/dev/full", f / "a.bmp.bmp");
       },
       {"a.bmp"}, 1, [](const TempFolder&) { return ExpectedReport("EWriteError", "Stream write error."); },
       Output::None, ""},
      // Bands of rows written from both threads: the failure of either
      // reaches the report.
      {"a large picture's output on a full device",
       [&](const TempFolder& f) {
         WriteBytes(f / "a.bmp", Bmp24(600, 500, [](int x, int y) { return std::uint32_t(x * 7 + y * 13); }));
         fs::create_symlink("/dev/full", f / "a.bmp.bmp");
       },
       {"a.bmp"}, 1, [](const TempFolder&) { return ExpectedReport("EWriteError", "Stream write error."); },
       Output::None, ""},
  };

  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.situation);
    if (c.needsNonRoot && RunningAsRoot()) continue;  // root reads and writes regardless of permissions
    TempFolder folder;
    c.setUp(folder);
    const std::set<std::string> before = Listing(folder.Path());
    const RunResult run = RunTool(folder.Path(), c.args);
    ReleaseHeldFiles();
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(MaskAddress(run.err), c.report ? c.report(folder) : "");
    fs::permissions(folder.Path(), fs::perms::owner_all, fs::perm_options::add);
    std::set<std::string> expected = before;
    if (!c.outputName.empty()) expected.insert(c.outputName);
    EXPECT_EQ(Listing(folder.Path()), expected) << "no other file is made";
    if (c.output == Output::Empty) {
      EXPECT_EQ(ReadBytes(folder / c.outputName), "");
    } else if (c.output == Output::Picture) {
      const std::string written = ReadBytes(folder / c.outputName);
      EXPECT_EQ(written.size(), 54u + 4 * 10 * 7) << "9 x 6 grows by 1";
      EXPECT_EQ(written.substr(0, 54), BmpHeader(10, 7, 32));
    }
  }
}

// A file-size limit (ulimit -f) stops the output part way. The write past it
// fails and is reported as every failed write is, and the output stays as far
// as it was written: up to the limit, the bytes a run without the limit
// writes. Ended by the signal instead, the tool would print nothing.
TEST(Outcomes, WritePastTheFileSizeLimit) {
  // 663 x 563 out, 1.5 MB: several bands, written from both threads.
  const std::string picture = Bmp24(600, 500, [](int x, int y) { return std::uint32_t(x * 7 + y * 13); });
  TempFolder unlimited;
  WriteBytes(unlimited / "a.bmp", picture);
  ASSERT_EQ(RunTool(unlimited.Path(), {"a.bmp"}).exitCode, 0);
  const std::string whole = ReadBytes(unlimited / "a.bmp.bmp");

  TempFolder folder;
  WriteBytes(folder / "a.bmp", picture);
  // 64 blocks: 32 KiB in a POSIX shell, 64 KiB in bash.
  const RunResult run =
      RunProgram(folder.Path(), {"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" a.bmp", BLEED_TOOL_PATH});
  EXPECT_EQ(run.exitCode, 1) << "-1: ended by a signal";
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(MaskAddress(run.err), ExpectedReport("EWriteError", "Stream write error."));
  const std::string written = ReadBytes(folder / "a.bmp.bmp");
  ASSERT_GT(written.size(), 0u);
  ASSERT_LT(written.size(), whole.size());
  EXPECT_EQ(written.size() % 512, 0u) << "written up to the limit, a whole number of blocks";
  EXPECT_TRUE(written == whole.substr(0, written.size())) << "the first bytes of the whole output";
}

// ---- What the output holds ----

std::uint32_t Opaque(int x, int y) {
  // Never white: blue stays 0x40.
  return (static_cast<std::uint32_t>(x * 37 + 11) & 0xFF) << 16 | (static_cast<std::uint32_t>(y * 53 + 7) & 0xFF) << 8 |
         0x40;
}

Picture32 RunOn(const TempFolder& folder, const std::string& bmp) {
  WriteBytes(folder / "in.bmp", bmp);
  const RunResult run = RunTool(folder.Path(), {"in.bmp"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  return Picture32(ReadBytes(folder / "in.bmp.bmp"));
}

TEST(Output, GeometryAndPicturePlacement) {
  struct Case {
    int width;
    int height;
    int margin;  // added to each side
    int inset;   // where the picture is placed
  };
  const Case cases[] = {
      {1, 1, 0, 0},   {2, 5, 0, 0},   {3, 3, 0, 0},     {7, 4, 0, 0},   // 4/8 rounds to 0
      {5, 9, 1, 0},                                                    // a border right and below only
      {12, 12, 2, 1}, {23, 20, 2, 1},                                  // 1.5 and 2.5 both round to 2
      {24, 31, 3, 2},                                                  // 2 left and above, 1 right and below
      {28, 28, 4, 2}, {100, 60, 8, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    TempFolder folder;
    const Picture32 out = RunOn(folder, Bmp24(c.width, c.height, Opaque));
    const int width = c.width + c.margin;
    const int height = c.height + c.margin;
    ASSERT_EQ(out.bytes.size(), 54u + 4u * width * height);
    EXPECT_EQ(out.bytes.substr(0, 54), BmpHeader(width, height, 32));
    int misplaced = 0;
    int white = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int px = x - c.inset;
        const int py = y - c.inset;
        const bool inPicture = px >= 0 && py >= 0 && px < c.width && py < c.height;
        misplaced += inPicture && out.Pixel(x, y) != Opaque(px, py);
        // The first pass covers the whole output with the picture, so no
        // white is left anywhere.
        white += out.Pixel(x, y) == kWhite;
      }
    EXPECT_EQ(misplaced, 0);
    EXPECT_EQ(white, 0);
  }
}

TEST(Output, WhiteIsTransparent) {
  {
    TempFolder folder;
    const Picture32 out = RunOn(folder, Bmp24(30, 21, [](int, int) { return kWhite; }));
    ASSERT_EQ(out.width * out.height, 33 * 24);
    int notWhite = 0;
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) notWhite += out.Pixel(x, y) != kWhite;
    EXPECT_EQ(notWhite, 0);
  }
  {
    // Red with a white left column: placed at (2, 2), that column shows the
    // border beneath it, which is red, since every stretched copy puts red
    // there.
    TempFolder folder;
    const std::uint32_t red = 0xFF0000;
    const Picture32 out = RunOn(folder, Bmp24(24, 24, [&](int x, int) { return x == 0 ? kWhite : red; }));
    ASSERT_EQ(out.width, 27);
    for (int y = 2; y < 26; ++y) EXPECT_EQ(out.Pixel(2, y), red) << "row " << y;
  }
}

}  // namespace
