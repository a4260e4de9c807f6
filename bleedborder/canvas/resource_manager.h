#pragma once
// The tool caches: reference-counted entries keyed by the raw bytes of a
// settings block, with a 16-bit hash in front of the byte comparison. The
// entries, their counts and their platform objects are guarded by the
// library lock.
#include <cstddef>
#include <cstdint>

#include "bleedborder/core/library_lock.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TGraphicsObject;

struct TToolEntry {
  TToolEntry* Link GUARDED_BY(LibraryLock) = nullptr;
  std::int32_t Users GUARDED_BY(LibraryLock) = 0;
  gdi::HGDIOBJ ToolHandle GUARDED_BY(LibraryLock);
  std::uint16_t DataHash = 0;
  // The settings block follows the header in the same allocation.
  std::uint8_t* Settings() { return reinterpret_cast<std::uint8_t*>(this + 1); }
  const std::uint8_t* Settings() const { return reinterpret_cast<const std::uint8_t*>(this + 1); }
};

std::uint16_t HashSettings(const void* bytes, std::size_t count);

class TResourceManager {
 public:
  explicit TResourceManager(std::uint16_t settingsSize) : settingsSize_(settingsSize) {}
  TResourceManager(const TResourceManager&) = delete;
  TResourceManager& operator=(const TResourceManager&) = delete;
  // Entries still listed are left to the process's end.
  ~TResourceManager() = default;

  TToolEntry* ObtainEntry(const void* settings) REQUIRES(LibraryLock);
  void ReleaseEntry(TToolEntry* entry) REQUIRES(LibraryLock);
  void SwapEntry(TGraphicsObject& tool, const void* settings) REQUIRES(LibraryLock);
  void AdoptEntry(TGraphicsObject& tool, TToolEntry* entry) REQUIRES(LibraryLock);

  std::uint16_t SettingsSize() const { return settingsSize_; }
  TToolEntry* Entries() const REQUIRES(LibraryLock) { return entries_; }

 private:
  TToolEntry* entries_ GUARDED_BY(LibraryLock) = nullptr;
  const std::uint16_t settingsSize_;
};

}  // namespace bleedborder
