#include "tool/file_presence.h"

#include <optional>

#include "bleedborder/platform/files.h"

namespace bleedborder::tool {
namespace {

std::optional<sys::WIN32_FIND_DATAA> FirstMatch(const std::string& name) {
  if (name.empty()) return std::nullopt;
  sys::WIN32_FIND_DATAA found;
  const sys::HANDLE search = sys::FindFirstFileA(name.c_str(), &found);
  if (search == sys::INVALID_HANDLE_VALUE) return std::nullopt;
  sys::FindClose(search);
  return found;
}

bool IsDirectory(const sys::WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & sys::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::int32_t FileStamp(const std::string& name) {
  const auto entry = FirstMatch(name);
  if (!entry || IsDirectory(*entry)) return -1;
  sys::FILETIME local;
  sys::FileTimeToLocalFileTime(&entry->ftLastWriteTime, &local);
  sys::WORD date = 0;
  sys::WORD time = 0;
  if (!sys::FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<std::int32_t>((std::uint32_t{date} << 16) | time);
}

bool FileIsPresent(const std::string& name) {
  const auto entry = FirstMatch(name);
  return entry && !IsDirectory(*entry);
}

}  // namespace bleedborder::tool
