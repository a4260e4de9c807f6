#pragma once
// The tool caches: reference-counted entries keyed by the raw bytes of a
// settings block, with a 16-bit hash in front of the byte comparison.
#include <cstddef>
#include <cstdint>

#include "core/recursive_lock.h"
#include "platform/gdi.h"

class TGraphicsObject;

struct TToolEntry {
  TToolEntry* Link = nullptr;
  std::int32_t Users = 0;
  gdi::HGDIOBJ ToolHandle;
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
  // Releases only the lock: entries still listed are left to the process's end.
  ~TResourceManager() = default;

  TToolEntry* ObtainEntry(const void* settings);
  void ReleaseEntry(TToolEntry* entry);
  void SwapEntry(TGraphicsObject& tool, const void* settings);
  void AdoptEntry(TGraphicsObject& tool, TToolEntry* entry);
  void EnterLock() { managerLock_.Enter(); }
  void LeaveLock() { managerLock_.Leave(); }
  TRecursiveLock& Lock() { return managerLock_; }

  std::uint16_t SettingsSize() const { return settingsSize_; }
  TToolEntry* Entries() const { return entries_; }

 private:
  TToolEntry* entries_ = nullptr;
  TRecursiveLock managerLock_;
  std::uint16_t settingsSize_;
};
