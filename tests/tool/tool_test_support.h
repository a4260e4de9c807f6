#pragma once
// Helpers of the tool's tests: a temporary folder, BMP bytes made in the
// test, and a run of the built program with its outputs captured.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tool_test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with all it
// holds (permissions restored first) when the object goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "bleedborder_test.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(pattern);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void PutLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::uint32_t GetLittleEndian(const std::string& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + i));
  return value;
}

// Colours in the tests are 0xRRGGBB.
using PixelFunction = std::function<std::uint32_t(int x, int y)>;
constexpr std::uint32_t kWhite = 0xFFFFFF;

// The 54 header bytes of an uncompressed BMP of the given size and depth
// (no colour table).
inline std::string BmpHeader(int width, int height, int bitCount) {
  const std::uint32_t rowBytes = ((static_cast<std::uint32_t>(width) * bitCount + 31) / 32) * 4;
  const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(height);
  std::string header(54, '\0');
  header[0] = 'B';
  header[1] = 'M';
  PutLittleEndian(header, 2, 54 + imageBytes, 4);
  PutLittleEndian(header, 10, 54, 4);
  PutLittleEndian(header, 14, 40, 4);
  PutLittleEndian(header, 18, static_cast<std::uint32_t>(width), 4);
  PutLittleEndian(header, 22, static_cast<std::uint32_t>(height), 4);
  PutLittleEndian(header, 26, 1, 2);
  PutLittleEndian(header, 28, static_cast<std::uint32_t>(bitCount), 2);
  PutLittleEndian(header, 34, imageBytes, 4);
  return header;
}

// A 24-bit bottom-up BMP file whose pixel (x, y), y from the top, is pixel(x, y).
inline std::string Bmp24(int width, int height, const PixelFunction& pixel) {
  std::string bytes = BmpHeader(width, height, 24);
  const std::size_t rowBytes = ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4;
  for (int row = height - 1; row >= 0; --row) {
    std::string line(rowBytes, '\0');
    for (int x = 0; x < width; ++x) {
      const std::uint32_t rgb = pixel(x, row);
      line[3 * x] = static_cast<char>(rgb & 0xFF);
      line[3 * x + 1] = static_cast<char>((rgb >> 8) & 0xFF);
      line[3 * x + 2] = static_cast<char>((rgb >> 16) & 0xFF);
    }
    bytes += line;
  }
  return bytes;
}

// A 32-bit bottom-up BMP as the tool writes it.
struct Picture32 {
  explicit Picture32(std::string fileBytes) : bytes(std::move(fileBytes)) {
    width = static_cast<int>(GetLittleEndian(bytes, 18, 4));
    height = static_cast<int>(GetLittleEndian(bytes, 22, 4));
  }
  // The colour bytes; the fourth byte of a pixel is left out.
  std::uint32_t Pixel(int x, int y) const {
    const std::size_t offset = 54 + (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
    return GetLittleEndian(bytes, offset, 3);
  }

  std::string bytes;
  int width = 0;
  int height = 0;
};

struct RunResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
  double peakMiB = 0;  // the largest resident memory of the run
};

// Runs the program words[0] in folder with the rest of words as its
// arguments. Its standard output and error go to files beside the folder, not
// into it. The file-size limit's signal is given its default action first:
// one the test runner ignores would stay ignored through exec and hide
// whether the program ignores it itself.
inline RunResult RunProgram(const fs::path& folder, std::vector<std::string> words) {
  const std::string outPath = folder.string() + ".out";
  const std::string errPath = folder.string() + ".err";
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(125);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    signal(SIGXFSZ, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(126);
  }
  RunResult result;
  int status = 0;
  rusage usage {};
  if (child > 0 && wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // reported in KiB
  result.out = ReadBytes(outPath);
  result.err = ReadBytes(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

// Runs the built program in folder with args after the program name.
inline RunResult RunTool(const fs::path& folder, const std::vector<std::string>& args) {
  std::vector<std::string> words{BLEED_TOOL_PATH};
  words.insert(words.end(), args.begin(), args.end());
  return RunProgram(folder, std::move(words));
}

// The report with the eight address digits of its first line replaced by
// "XXXXXXXX", when they are there and hexadecimal.
inline std::string MaskAddress(std::string report) {
  const std::size_t at = report.find(" at ");
  if (at == std::string::npos || at + 12 > report.size()) return report;
  for (std::size_t i = at + 4; i < at + 12; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(report[i])) || std::islower(static_cast<unsigned char>(report[i])))
      return report;
  report.replace(at + 4, 8, "XXXXXXXX");
  return report;
}

inline std::string ExpectedReport(const std::string& className, const std::string& message) {
  return "Exception " + className + " in module bleedborder at XXXXXXXX.\r\n" + message + "\r\n\r\n";
}

inline bool RunningAsRoot() { return geteuid() == 0; }

}  // namespace tool_test
