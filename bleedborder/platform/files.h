#pragma once
// File services under the platform's names, over POSIX.
//
// Sharing: an open for reading takes a shared open-file-description lock
// ("others may read, nobody may write"); a create takes an exclusive one before
// the file is truncated ("shared with nobody"). An open that the locks of
// another open forbid fails with EBUSY and changes nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "bleedborder/export.h"

namespace bleedborder::sys {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BOOL = int;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// A file or search handle: an owned POSIX descriptor (files) or search state.
struct HANDLE {
  std::intptr_t value = -1;
  friend constexpr bool operator==(HANDLE, HANDLE) = default;
};
constexpr HANDLE INVALID_HANDLE_VALUE{-1};

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// The last error of the calling thread: the errno value.
BLEEDBORDER_EXPORT DWORD GetLastError();
BLEEDBORDER_EXPORT void SetLastError(DWORD code);
// The platform's text for an error code (strerror), with no line break.
BLEEDBORDER_EXPORT std::string SysErrorMessage(DWORD code);
// The text trimmed of trailing blanks, control characters and full stops, as
// the file messages use it.
BLEEDBORDER_EXPORT std::string TrimmedErrorMessage(DWORD code);

BLEEDBORDER_EXPORT HANDLE CreateFileA(const char* name, DWORD access, DWORD shareMode, void* security,
                                      DWORD disposition, DWORD flags, HANDLE templateFile);
// Where a read starts when it is given one: the file's offset, low and high
// 32 bits.
struct OVERLAPPED {
  DWORD Offset = 0;
  DWORD OffsetHigh = 0;
};

// The bytes moved go to *done (0 when the call fails). With an overlapped
// the read starts at its offset and leaves the file's position as it was, so
// that threads may read parts of one file at once.
BLEEDBORDER_EXPORT BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped);
BLEEDBORDER_EXPORT BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, void* overlapped);
// Moves by distance from FILE_BEGIN, FILE_CURRENT or FILE_END; the new
// position goes to *newPosition.
BLEEDBORDER_EXPORT BOOL SetFilePointerEx(HANDLE file, std::int64_t distance, std::int64_t* newPosition, DWORD method);
BLEEDBORDER_EXPORT BOOL CloseHandle(HANDLE handle);

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  FILETIME ftLastWriteTime;
  std::string cFileName;
};

// The first entry matching name, whose last component may hold * and ?.
BLEEDBORDER_EXPORT HANDLE FindFirstFileA(const char* name, WIN32_FIND_DATAA* found);
BLEEDBORDER_EXPORT BOOL FindClose(HANDLE search);
BLEEDBORDER_EXPORT BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// Fails outside the years 1980 to 2107; seconds are stored in steps of two.
BLEEDBORDER_EXPORT BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime);

// name made absolute against the current directory, with "." and ".."
// folded; links are not resolved.
BLEEDBORDER_EXPORT std::string GetFullPathNameA(std::string_view name);

// Owns a file handle and closes it on every path.
class BLEEDBORDER_EXPORT FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : handle_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  ~FileHandle();
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release();
  // Closes the handle now (nothing when none is held); false when the system
  // reports a failure, such as a write it could not complete.
  bool Close();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace bleedborder::sys
