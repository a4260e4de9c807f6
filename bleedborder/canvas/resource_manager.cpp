#include "bleedborder/canvas/resource_manager.h"

#include <cstring>
#include <new>

#include "bleedborder/canvas/tools.h"

namespace bleedborder {

std::uint16_t HashSettings(const void* bytes, std::size_t count) {
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  std::uint16_t hash = 0;
  for (std::size_t i = 0; i < count; ++i) {
    hash = static_cast<std::uint16_t>((hash << 5) | (hash >> 11));
    hash ^= data[i];
  }
  return hash;
}

namespace {

TToolEntry* AllocateEntry(std::uint16_t settingsSize) {
  void* block = ::operator new(sizeof(TToolEntry) + settingsSize);
  return new (block) TToolEntry{};
}

void FreeEntry(TToolEntry* entry) {
  entry->~TToolEntry();
  ::operator delete(static_cast<void*>(entry));
}

// A settings block starts with its own 32-bit handle field.
std::uint32_t LeadingHandle(const void* settings) {
  std::uint32_t value;
  std::memcpy(&value, settings, sizeof value);
  return value;
}

}  // namespace

TToolEntry* TResourceManager::ObtainEntry(const void* settings) {
  const std::uint16_t hash = HashSettings(settings, settingsSize_);
  TToolEntry* entry = entries_;
  while (entry && !(entry->DataHash == hash && std::memcmp(entry->Settings(), settings, settingsSize_) == 0))
    entry = entry->Link;
  if (!entry) {
    entry = AllocateEntry(settingsSize_);
    entry->Link = entries_;
    entry->ToolHandle = gdi::HGDIOBJ{};
    entry->ToolHandle.value = LeadingHandle(settings);
    entry->DataHash = hash;
    std::memcpy(entry->Settings(), settings, settingsSize_);
    entries_ = entry;
  }
  ++entry->Users;
  return entry;
}

void TResourceManager::ReleaseEntry(TToolEntry* entry) {
  if (!entry) return;
  if (--entry->Users > 0) return;
  if (entries_ == entry) {
    entries_ = entry->Link;
  } else {
    TToolEntry* before = entries_;
    while (before && before->Link != entry) before = before->Link;
    if (before) before->Link = entry->Link;
  }
  if (entry->ToolHandle) gdi::DeleteObject(entry->ToolHandle);
  FreeEntry(entry);
}

void TResourceManager::SwapEntry(TGraphicsObject& tool, const void* settings) {
  TToolEntry* old = tool.Entry;
  TToolEntry* fresh = ObtainEntry(settings);
  tool.Entry = fresh;
  // The owner deselects the old platform object before the old entry can go.
  if (fresh != old) tool.Altered();
  ReleaseEntry(old);
}

void TResourceManager::AdoptEntry(TGraphicsObject& tool, TToolEntry* entry) {
  TToolEntry* old = tool.Entry;
  if (entry == old) return;
  ++entry->Users;
  tool.Entry = entry;
  tool.Altered();
  ReleaseEntry(old);
}

}  // namespace bleedborder
