// The abstract graphic: change notification, comparison and the "Data"
// property of component streaming.
#include "bleedborder/image/graphic.h"

#include <cstring>
#include <typeinfo>

#include "bleedborder/core/stream.h"

namespace bleedborder {

void TGraphic::DefineProperties(TFiler& filer) {
  bool hasData;
  if (filer.Ancestor) {
    auto* ancestor = dynamic_cast<TGraphic*>(filer.Ancestor);
    hasData = !ancestor || !SameImage(ancestor);
  } else {
    hasData = !IsEmpty();
  }
  filer.DefineBinaryProperty(
      "Data", [this](TStream& stream) { LoadData(stream); }, [this](TStream& stream) { StoreData(stream); }, hasData);
}

void TGraphic::NotifyChange(void*) {
  {
    TLibraryHold hold;
    isModified_ = true;
  }
  if (ChangeHandler) ChangeHandler(this);
}

bool TGraphic::IsModified() const {
  TLibraryHold hold;
  return isModified_;
}

bool TGraphic::PaletteChanged() const {
  TLibraryHold hold;
  return paletteChanged_;
}

void TGraphic::SetPaletteChanged(bool value) {
  TLibraryHold hold;
  paletteChanged_ = value;
}

bool TGraphic::UseTransparency() {
  TLibraryHold hold;
  return useTransparency_;
}

bool TGraphic::SameImage(TGraphic* other) {
  if (!other) return false;
  const bool thisEmpty = IsEmpty();
  const bool otherEmpty = other->IsEmpty();
  if (thisEmpty || otherEmpty) return thisEmpty && otherEmpty;
  if (typeid(*this) != typeid(*other)) return false;

  TMemoryStream mine;
  TMemoryStream theirs;
  StoreData(mine);
  other->StoreData(theirs);
  const std::int64_t size = mine.Size();
  return size == theirs.Size() &&
         (size == 0 || std::memcmp(mine.Memory(), theirs.Memory(), static_cast<std::size_t>(size)) == 0);
}

void TGraphic::LoadData(TStream& stream) { LoadStream(stream); }

void TGraphic::StoreData(TStream& stream) { StoreStream(stream); }

void TGraphic::SetUseTransparency(bool value) {
  {
    TLibraryHold hold;
    if (value == useTransparency_) return;
    useTransparency_ = value;
  }
  NotifyChange(this);
}

void TGraphic::ReportProgress(TGraphic* sender, TProgressStage stage, std::uint8_t percentDone, bool redrawNow,
                              const TRect& rect, const std::string& message) {
  if (ProgressHandler) ProgressHandler(sender, stage, percentDone, redrawNow, rect, message);
}

}  // namespace bleedborder
