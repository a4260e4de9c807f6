#include "bleedborder/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace bleedborder::sys {
namespace {

// The error a refused sharing lock reports.
constexpr int kSharingViolation = EBUSY;

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11'644'473'600;
constexpr std::int64_t kMaxTransfer = std::numeric_limits<ssize_t>::max();

int Descriptor(HANDLE file) {
  return file.value >= 0 && file.value <= std::numeric_limits<int>::max() ? static_cast<int>(file.value) : -1;
}

std::uint64_t Ticks(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FromTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// A POSIX time as FILETIME; times before 1601 become 1601 and times beyond
// the FILETIME range its largest value.
FILETIME FromTimespec(const timespec& time) {
  const std::int64_t maxSeconds = static_cast<std::int64_t>(std::numeric_limits<std::uint64_t>::max() / kTicksPerSecond);
  const std::int64_t seconds = static_cast<std::int64_t>(time.tv_sec);
  if (seconds < -kEpochDifference) return FromTicks(0);
  if (seconds > maxSeconds - kEpochDifference - 1) return FromTicks(std::numeric_limits<std::uint64_t>::max());
  const auto since1601 = static_cast<std::uint64_t>(seconds + kEpochDifference);
  return FromTicks(since1601 * kTicksPerSecond + static_cast<std::uint64_t>(time.tv_nsec / 100));
}

// Takes an open-file-description lock on the whole file. A lock held through
// another open of the file gives kSharingViolation; a file system without such
// locks counts as granting it, since sharing cannot be enforced there.
bool LockWholeFile(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) {
      errno = kSharingViolation;
      return false;
    }
    if (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP) return true;
    return false;
  }
  return true;
}

void CloseKeepingError(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
}

// Readers share: others may read, nobody may write. O_NONBLOCK only keeps a
// FIFO from blocking the open; reads block as usual afterwards.
HANDLE OpenForReading(const char* name) {
  const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    CloseKeepingError(fd);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return INVALID_HANDLE_VALUE;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !LockWholeFile(fd, F_RDLCK)) {
    CloseKeepingError(fd);
    return INVALID_HANDLE_VALUE;
  }
  return HANDLE{fd};
}

// What the symbolic link at path points to, read against the link's folder
// when it is relative; empty when path is not a link.
std::string LinkTarget(const std::string& path) {
  std::string target(4096, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
  target.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (target.front() == '/' || slash == std::string::npos) return target;
  return path.substr(0, slash + 1) + target;
}

// Creates or replaces, shared with nobody. The file is truncated only once the
// exclusive lock is held, so a refused create leaves an open file untouched;
// a file this call made itself is removed again when the create fails.
HANDLE CreateReplacing(const char* name) {
  // Enough rounds for the links the system itself follows in one open.
  constexpr int kAttempts = 40;
  std::string path = name;
  bool made = false;
  int fd = -1;
  // Opens an existing file, or makes a new one; a file that appears between
  // the two attempts is opened on the next round. An exclusive create does not
  // follow a link, so a link whose target is missing is followed here and its
  // target made, as an open that creates would make it.
  for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 || errno != ENOENT) break;
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
    made = fd >= 0;
    if (fd < 0 && errno != EEXIST) break;
    if (fd < 0) {
      std::string target = LinkTarget(path);
      if (!target.empty()) path = std::move(target);
    }
  }
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0;
  const int flags = ok ? fcntl(fd, F_GETFL) : -1;
  ok = ok && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && LockWholeFile(fd, F_WRLCK);
  // Only a regular file has a length to cut; a device or FIFO is written as it is.
  ok = ok && (!S_ISREG(info.st_mode) || ftruncate(fd, 0) == 0);
  if (!ok) {
    const int error = errno;
    if (made) unlink(path.c_str());
    close(fd);
    errno = error;
    return INVALID_HANDLE_VALUE;
  }
  return HANDLE{fd};
}

// Search state of FindFirstFileA; only the first match is ever reported.
struct Search {};

// '?' matches exactly one character, '*' any run of characters, both
// including a leading dot.
bool MatchesPattern(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starPattern = std::string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starName = n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

// Follows a link, so that a link to a file counts as that file; a dangling
// link still counts as an entry.
bool StatEntry(const std::string& path, struct stat* info) {
  return stat(path.c_str(), info) == 0 || lstat(path.c_str(), info) == 0;
}

void Describe(const struct stat& info, std::string_view name, WIN32_FIND_DATAA* found) {
  found->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  found->ftLastWriteTime = FromTimespec(info.st_mtim);
  found->cFileName.assign(name);
}

HANDLE NewSearch() { return HANDLE{reinterpret_cast<std::intptr_t>(new Search)}; }

bool FirstMatchInDirectory(const std::string& directory, std::string_view pattern, WIN32_FIND_DATAA* found) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return false;
  bool matched = false;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !MatchesPattern(pattern, name)) continue;
    struct stat info {};
    if (!StatEntry(directory + "/" + std::string(name), &info)) continue;
    Describe(info, name, found);
    matched = true;
    break;
  }
  closedir(dir);
  if (!matched) errno = ENOENT;
  return matched;
}

// Seconds since 1601-01-01 to a civil date (proleptic Gregorian).
struct CivilTime {
  std::int64_t year;
  int month, day, hour, minute, second;
};

CivilTime ToCivil(std::uint64_t secondsSince1601) {
  const auto days = static_cast<std::int64_t>(secondsSince1601 / 86400);
  const auto secondOfDay = static_cast<int>(secondsSince1601 % 86400);
  // Days counted from 0000-03-01, so that the leap day ends each cycle.
  constexpr std::int64_t kDaysFromMarch0000To1601 = 584'694;
  const std::int64_t z = days + kDaysFromMarch0000To1601;
  const std::int64_t era = z / 146'097;
  const std::int64_t dayOfEra = z - era * 146'097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
}

std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// Moves count bytes with op(fd, offset, chunk), over partial transfers and
// interruptions, stopping early at the end of a file. A call that moved some
// bytes before an error succeeds with those bytes; the error comes again with
// the next call. Only a call that moved nothing reports the failure.
template <class Op>
BOOL Transfer(HANDLE file, DWORD count, DWORD* done, Op op) {
  const int fd = Descriptor(file);
  DWORD moved = 0;
  bool failed = fd < 0;
  if (failed) errno = EBADF;
  while (!failed && moved < count) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - moved, kMaxTransfer));
    const ssize_t n = op(fd, moved, chunk);
    if (n > 0)
      moved += static_cast<DWORD>(n);
    else if (n == 0)
      break;
    else if (errno != EINTR)
      failed = true;
  }
  if (done) *done = moved;
  return failed && moved == 0 ? FALSE : TRUE;
}

// Joins a GNU strerror_r (returns the text) or an XSI one (fills the buffer).
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

}  // namespace

DWORD GetLastError() { return static_cast<DWORD>(errno); }

void SetLastError(DWORD code) { errno = static_cast<int>(code); }

std::string SysErrorMessage(DWORD code) {
  char buffer[256] = {};
  const char* text = ErrorText(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
  std::string message = text ? text : "Unknown error " + std::to_string(code);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

std::string TrimmedErrorMessage(DWORD code) {
  std::string message = SysErrorMessage(code);
  auto trailing = [](unsigned char c) { return c <= ' ' || c == 0x7F || c == '.'; };
  while (!message.empty() && trailing(static_cast<unsigned char>(message.back()))) message.pop_back();
  return message;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD shareMode, void*, DWORD disposition, DWORD, HANDLE) {
  if (!name || !*name) {
    errno = ENOENT;
    return INVALID_HANDLE_VALUE;
  }
  if (disposition == OPEN_EXISTING && access == GENERIC_READ && shareMode == FILE_SHARE_READ)
    return OpenForReading(name);
  if (disposition == CREATE_ALWAYS && access == (GENERIC_READ | GENERIC_WRITE) && shareMode == 0)
    return CreateReplacing(name);
  // No caller asks for any other combination.
  errno = EINVAL;
  return INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped) {
  if (overlapped) {
    const auto start = static_cast<off_t>((std::uint64_t{overlapped->OffsetHigh} << 32) | overlapped->Offset);
    return Transfer(file, count, done, [buffer, start](int fd, DWORD offset, std::size_t chunk) {
      return pread(fd, static_cast<char*>(buffer) + offset, chunk, start + static_cast<off_t>(offset));
    });
  }
  return Transfer(file, count, done, [buffer](int fd, DWORD offset, std::size_t chunk) {
    return read(fd, static_cast<char*>(buffer) + offset, chunk);
  });
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, void*) {
  return Transfer(file, count, done, [buffer](int fd, DWORD offset, std::size_t chunk) {
    return write(fd, static_cast<const char*>(buffer) + offset, chunk);
  });
}

BOOL SetFilePointerEx(HANDLE file, std::int64_t distance, std::int64_t* newPosition, DWORD method) {
  const int fd = Descriptor(file);
  const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (fd < 0 || whence < 0) {
    errno = fd < 0 ? EBADF : EINVAL;
    return FALSE;
  }
  const off_t position = lseek(fd, static_cast<off_t>(distance), whence);
  if (position < 0) return FALSE;
  if (newPosition) *newPosition = static_cast<std::int64_t>(position);
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  const int fd = Descriptor(handle);
  if (fd < 0) {
    errno = EBADF;
    return FALSE;
  }
  // The descriptor is gone after close whatever it answers (EINTR included).
  return close(fd) == 0 || errno == EINTR ? TRUE : FALSE;
}

HANDLE FindFirstFileA(const char* name, WIN32_FIND_DATAA* found) {
  if (!name || !*name || !found) {
    errno = ENOENT;
    return INVALID_HANDLE_VALUE;
  }
  const std::string_view path = name;
  const std::size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (!HasWildcard(last)) {
    struct stat info {};
    if (!StatEntry(std::string(path), &info)) return INVALID_HANDLE_VALUE;
    Describe(info, last, found);
    return NewSearch();
  }
  const std::string directory = slash == std::string_view::npos ? "." : slash == 0 ? "/" : std::string(path.substr(0, slash));
  if (!FirstMatchInDirectory(directory, last, found)) return INVALID_HANDLE_VALUE;
  return NewSearch();
}

BOOL FindClose(HANDLE search) {
  if (search == INVALID_HANDLE_VALUE || search.value == 0) {
    errno = EBADF;
    return FALSE;
  }
  delete reinterpret_cast<Search*>(search.value);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (!utc || !local) return FALSE;
  const std::uint64_t ticks = Ticks(*utc);
  const auto unixSeconds = static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference;
  const auto when = static_cast<time_t>(unixSeconds);
  struct tm parts {};
  if (static_cast<std::int64_t>(when) != unixSeconds || !localtime_r(&when, &parts)) return FALSE;
  const std::int64_t offset = static_cast<std::int64_t>(parts.tm_gmtoff) * kTicksPerSecond;
  const auto magnitude = static_cast<std::uint64_t>(offset < 0 ? -offset : offset);
  if (offset < 0 ? ticks < magnitude : ticks > std::numeric_limits<std::uint64_t>::max() - magnitude) return FALSE;
  *local = FromTicks(offset < 0 ? ticks - magnitude : ticks + magnitude);
  return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime) {
  if (!time || !dosDate || !dosTime) return FALSE;
  const CivilTime civil = ToCivil(Ticks(*time) / kTicksPerSecond);
  if (civil.year < 1980 || civil.year > 2107) return FALSE;
  *dosDate = static_cast<WORD>(((civil.year - 1980) << 9) | (civil.month << 5) | civil.day);
  *dosTime = static_cast<WORD>((civil.hour << 11) | (civil.minute << 5) | (civil.second / 2));
  return TRUE;
}

std::string GetFullPathNameA(std::string_view name) {
  if (name.empty()) return {};
  const std::string joined = name.front() == '/' ? std::string(name) : CurrentDirectory() + "/" + std::string(name);
  if (joined.front() != '/') return std::string(name);  // no current directory to resolve against
  std::vector<std::string_view> parts;
  const std::string_view text = joined;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full;
  for (std::string_view part : parts) (full += '/') += part;
  // A trailing separator is kept: it still says "a directory".
  if (full.empty() || name.back() == '/') full += '/';
  return full;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (Valid()) CloseHandle(handle_);
    handle_ = other.Release();
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (Valid()) CloseHandle(handle_);
}

bool FileHandle::Close() {
  return !Valid() || CloseHandle(Release());
}

HANDLE FileHandle::Release() {
  const HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  return handle;
}

}  // namespace bleedborder::sys
