#pragma once
// The abstract graphic: change notification, transparency flag and the
// stream and file persistence that concrete graphics implement.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bleedborder/core/geometry.h"
#include "bleedborder/core/library_lock.h"
#include "bleedborder/core/persistent.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TCanvas;
class TStream;

enum class TProgressStage : std::uint8_t { psStarting, psRunning, psEnding };

class BLEEDBORDER_EXPORT TGraphic : public TPersistent {
 public:
  using TChangeHandler = std::function<void(TGraphic*)>;
  using TProgressHandler = std::function<void(TGraphic* sender, TProgressStage stage, std::uint8_t percentDone,
                                              bool redrawNow, const TRect& rect, const std::string& message)>;

  TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;
  ~TGraphic() override = default;
  const char* ClassName() const override { return "TGraphic"; }

  // Declares the "Data" property, written when the graphic differs from the
  // filer's ancestor or, without one, when it is not empty.
  void DefineProperties(TFiler& filer) override;

  // Marks the graphic changed and calls ChangeHandler, without the library
  // lock unless the caller holds it.
  virtual void NotifyChange(void* sender);
  virtual void Render(TCanvas& canvas, const TRect& rect) = 0;
  virtual bool SameImage(TGraphic* other);
  virtual bool IsEmpty() = 0;
  virtual std::int32_t Height() = 0;
  virtual gdi::HPALETTE PaletteHandle() { return {}; }
  virtual bool UseTransparency();
  virtual std::int32_t Width() = 0;
  virtual void LoadData(TStream& stream);
  virtual void SetHeight(std::int32_t value) = 0;
  virtual void SetPaletteHandle(gdi::HPALETTE) {}
  virtual void SetUseTransparency(bool value);
  virtual void SetWidth(std::int32_t value) = 0;
  virtual void StoreData(TStream& stream);
  virtual void LoadFile(const std::string& fileName);
  virtual void StoreFile(const std::string& fileName);
  virtual void LoadStream(TStream& stream) = 0;
  virtual void StoreStream(TStream& stream) = 0;
  virtual void LoadClipboard(std::uint16_t format, gdi::HBITMAP data, gdi::HPALETTE palette) = 0;
  virtual void StoreClipboard(std::uint16_t& format, gdi::HBITMAP& data, gdi::HPALETTE& palette) = 0;
  virtual void ReportProgress(TGraphic* sender, TProgressStage stage, std::uint8_t percentDone, bool redrawNow,
                              const TRect& rect, const std::string& message);

  TChangeHandler ChangeHandler;
  TProgressHandler ProgressHandler;

  bool IsModified() const;
  bool PaletteChanged() const;
  void SetPaletteChanged(bool value);

 protected:
  // Takes the flag over without a notification (assignment notifies once).
  void StoreUseTransparency(bool value) REQUIRES(LibraryLock) { useTransparency_ = value; }
  bool HeldUseTransparency() const REQUIRES(LibraryLock) { return useTransparency_; }
  // Creates (or replaces) the file as StoreFile does and lets store write it.
  static void StoreFileWith(const std::string& fileName, const std::function<void(TStream&)>& store);
  // Opens the file as LoadFile does, for reading from its start.
  static std::unique_ptr<TStream> OpenFileToLoad(const std::string& fileName);

 private:
  bool isModified_ GUARDED_BY(LibraryLock) = false;
  bool useTransparency_ GUARDED_BY(LibraryLock) = false;
  bool paletteChanged_ GUARDED_BY(LibraryLock) = false;
};

}  // namespace bleedborder
