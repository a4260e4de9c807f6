#pragma once
// A byte stream over a file handle of the platform's file services. A failed
// read or write counts as 0 bytes moved.
#include "bleedborder/core/stream.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/files.h"

namespace bleedborder {

class BLEEDBORDER_EXPORT THandleStream : public TStream {
 public:
  // Takes ownership of handle and closes it when destroyed.
  explicit THandleStream(sys::HANDLE handle) : file_(handle) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  sys::HANDLE Handle() const { return file_.Get(); }
  // Closes the file now. A failure the system reports only at close (a write
  // it could not complete on a full quota or a network file system) raises
  // EWriteError "Stream write error"; the handle is gone either way.
  void Close();

 private:
  // The bytes between position (the current one) and the end of the file,
  // the position kept; 0 when the handle cannot seek.
  std::int64_t BytesAfter(std::int64_t position);
  std::int64_t ReadInPieces(void* buffer, std::int64_t count, std::int64_t position);

  sys::FileHandle file_;
};

}  // namespace bleedborder
