// Loading and storing a graphic through a named file.
#include <functional>
#include <memory>
#include <string>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/graphic.h"
#include "bleedborder/platform/file_stream.h"
#include "bleedborder/platform/files.h"

namespace bleedborder {

namespace {

// The failure of an open or create: the full path of the name and the
// platform's text for the error, taken before anything can change it.
template <class E>
[[noreturn]] void RaiseFileError(Msg message, const std::string& fileName) {
  const sys::DWORD code = sys::GetLastError();
  const std::string reason = sys::TrimmedErrorMessage(code);
  const std::string fullPath = sys::GetFullPathNameA(fileName);
  RaiseMsg<E>(message, {std::string_view(fullPath), std::string_view(reason)});
}

}  // namespace

void TGraphic::LoadFile(const std::string& fileName) { LoadStream(*OpenFileToLoad(fileName)); }

std::unique_ptr<TStream> TGraphic::OpenFileToLoad(const std::string& fileName) {
  const sys::HANDLE handle = sys::CreateFileA(fileName.c_str(), sys::GENERIC_READ, sys::FILE_SHARE_READ, nullptr,
                                              sys::OPEN_EXISTING, sys::FILE_ATTRIBUTE_NORMAL, sys::HANDLE{});
  if (handle == sys::INVALID_HANDLE_VALUE) RaiseFileError<EFOpenError>(Msg::FOpenError, fileName);
  return std::make_unique<THandleStream>(handle);
}

void TGraphic::StoreFile(const std::string& fileName) {
  StoreFileWith(fileName, [this](TStream& stream) { StoreStream(stream); });
}

void TGraphic::StoreFileWith(const std::string& fileName, const std::function<void(TStream&)>& store) {
  const sys::HANDLE handle = sys::CreateFileA(fileName.c_str(), sys::GENERIC_READ | sys::GENERIC_WRITE, 0, nullptr,
                                              sys::CREATE_ALWAYS, sys::FILE_ATTRIBUTE_NORMAL, sys::HANDLE{});
  if (handle == sys::INVALID_HANDLE_VALUE) RaiseFileError<EFCreateError>(Msg::FCreateError, fileName);
  THandleStream stream(handle);
  store(stream);
  // Some write failures are reported only when the file is closed.
  stream.Close();
}

}  // namespace bleedborder
