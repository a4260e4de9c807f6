#pragma once
// The bitmap image: pixel storage shared copy-on-write between TBitmap
// objects, with handles, sections and palettes made on demand.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bleedborder/core/color.h"
#include "bleedborder/core/library_lock.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/export.h"
#include "bleedborder/image/graphic.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TBitmapCanvas;

enum class TPixelDepth : std::uint8_t {
  pdDevice = 0, pd1Bit = 1, pd4Bit = 2, pd8Bit = 3, pd15Bit = 4, pd16Bit = 5, pd24Bit = 6, pd32Bit = 7, pdCustom = 8
};
enum class TBitmapKind : std::uint8_t { bkDIB = 0, bkDDB = 1 };
enum class TTransparencyKind : std::uint8_t { tkAuto = 0, tkFixed = 1 };

// Storage that several bitmaps may use, counted by ShareCount; the last
// sharer to let go destroys it. Sharing behaves like a copy: what one sharer
// changes in the storage is only ever what every sharer would work out the
// same way (a section, a palette made on demand); anything else is changed
// on storage of the bitmap's own.
class BLEEDBORDER_EXPORT TSharedImage {
 public:
  virtual ~TSharedImage() = default;
  virtual void ReleaseHandles() REQUIRES(LibraryLock) = 0;
  void AddShare() REQUIRES(LibraryLock) { ++ShareCount; }
  // Decrements the count and destroys the storage when it reaches 0; an
  // absent storage is ignored.
  static void DropShare(TSharedImage* image) REQUIRES(LibraryLock);

  std::int32_t ShareCount GUARDED_BY(LibraryLock) = 0;
};

// The pixel storage: the handles it owns and the description of its section.
class BLEEDBORDER_EXPORT TBitmapImage : public TSharedImage {
 public:
  TBitmapImage() = default;
  TBitmapImage(const TBitmapImage&) = delete;
  TBitmapImage& operator=(const TBitmapImage&) = delete;
  ~TBitmapImage() override;
  void ReleaseHandles() REQUIRES(LibraryLock) override;

  gdi::HBITMAP BitmapHandle GUARDED_BY(LibraryLock);
  gdi::HBITMAP MaskBitmap GUARDED_BY(LibraryLock);
  gdi::HPALETTE PaletteHandle GUARDED_BY(LibraryLock);
  gdi::HBITMAP SectionHandle GUARDED_BY(LibraryLock);
  gdi::DIBSECTION Section GUARDED_BY(LibraryLock){};
  std::unique_ptr<TMemoryStream> SavedStream GUARDED_BY(LibraryLock);
  bool CoreFormat GUARDED_BY(LibraryLock) = false;
  bool UsesHalftone GUARDED_BY(LibraryLock) = false;
};

class BLEEDBORDER_EXPORT TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  const char* ClassName() const override { return "TBitmap"; }

  // Assignment: shares source's storage (no pixels copied); null empties.
  void TakeFrom(TPersistent* source) override;

  void NotifyChange(void* sender) override;
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsEmpty() override;
  std::int32_t Height() override;
  gdi::HPALETTE PaletteHandle() override;
  std::int32_t Width() override;
  void LoadData(TStream& stream) override;
  void SetHeight(std::int32_t value) override;
  void SetPaletteHandle(gdi::HPALETTE value) override;
  void SetWidth(std::int32_t value) override;
  void StoreData(TStream& stream) override;
  void LoadStream(TStream& stream) override;
  void StoreStream(TStream& stream) override;
  void LoadClipboard(std::uint16_t format, gdi::HBITMAP data, gdi::HPALETTE palette) override;
  void StoreClipboard(std::uint16_t& format, gdi::HBITMAP& data, gdi::HPALETTE& palette) override;

  // Hands out the handle: the bitmap gets private storage first.
  virtual gdi::HBITMAP BitmapHandle();
  virtual gdi::HBITMAP MaskBitmap();
  virtual void SetKind(TBitmapKind value);

  TBitmapKind Kind();
  TPixelDepth Depth();
  void SetDepth(TPixelDepth value);
  // Width and height at once, for a caller that then writes every pixel
  // itself: an empty bitmap of more than 8 bits per pixel gets a section whose
  // pixels are not filled (they start at 0). Any other bitmap is sized as
  // SetWidth and SetHeight size it.
  void SetSizeUnfilled(std::int32_t width, std::int32_t height);
  bool IsMono();
  // Stores the bitmap as StoreFile does, except that writePixels writes its
  // pixel bytes (pixelBytes of them, in the order the memory holds them),
  // for a caller that works them out as they are written rather than keeping
  // them in the bitmap. A bitmap that keeps the bytes of a compressed file
  // writes those, and writePixels is not called.
  using TPixelWriter = std::function<void(TStream& stream, std::uint32_t pixelBytes)>;
  void StoreFileWritingPixels(const std::string& fileName, const TPixelWriter& writePixels);
  void StoreStreamWritingPixels(TStream& stream, const TPixelWriter& writePixels);
  // Loads a BMP file as LoadFile does, except that the pixels of a large
  // uncompressed one that holds all its rows are left unread, for a caller
  // that reads them itself while it uses the rows already in: the answer
  // holds the file, open at the pixels' first byte, and where their bytes go
  // (in the order the file holds them). Nothing but that caller may use the
  // bitmap before every byte is in. Gives nothing, the pixels read, for any
  // other file.
  struct TUnreadPixels {
    std::unique_ptr<TStream> file;
    std::uint8_t* memory = nullptr;
    std::int64_t bytes = 0;
  };
  std::optional<TUnreadPixels> LoadFileLeavingPixels(const std::string& fileName);
  TBitmapCanvas& Canvas();
  bool HasCanvas() const;

  // Transparency: the stored key colour and how it is chosen.
  TColor KeyColor() const;
  void SetKeyColor(TColor value);
  TTransparencyKind KeyKind() const;
  void SetKeyKind(TTransparencyKind value);
  TColor EffectiveKeyColor();

  // Makes the storage private and drops what derives from its pixels, before
  // the bitmap is drawn on (its canvas's BeforeChange).
  void PrepareToModify();

  // ---- Library-internal operations (reader, writer, conversions, canvas),
  // with the library lock held ----
  TBitmapImage& SharedImage() const REQUIRES(LibraryLock) { return *sharedImage_; }
  TBitmapCanvas* CanvasOrNull() const REQUIRES(LibraryLock) { return canvas_.get(); }
  TBitmapCanvas& HeldCanvas() REQUIRES(LibraryLock);
  bool NoPalette() const REQUIRES(LibraryLock) { return noPalette_; }
  bool MaskCurrent() const REQUIRES(LibraryLock) { return maskCurrent_; }
  bool MaskBuilt() const REQUIRES(LibraryLock) { return maskBuilt_; }

  void PrepareHeldToModify() REQUIRES(LibraryLock);
  void DetachImage() REQUIRES(LibraryLock);
  void CloneImage(gdi::HBITMAP handle, gdi::HPALETTE palette, gdi::DIBSECTION record) REQUIRES(LibraryLock);
  void AttachImage(gdi::HBITMAP handle, gdi::HPALETTE palette, std::unique_ptr<TMemoryStream> stream,
                   bool coreFormat, gdi::DIBSECTION record) REQUIRES(LibraryLock);
  void EnsureHandle() REQUIRES(LibraryLock);
  void EnsureSection() REQUIRES(LibraryLock);
  void EnsurePalette() REQUIRES(LibraryLock);
  void ReleaseContext() REQUIRES(LibraryLock);
  void EnsureMask() REQUIRES(LibraryLock);
  TColor HeldEffectiveKeyColor() REQUIRES(LibraryLock);
  // The section's colour table (256 entries at most), read through the
  // canvas's context; the number of entries read.
  std::int32_t ReadSectionColors(gdi::RGBQUAD (&colors)[256]) REQUIRES(LibraryLock);
  TBitmapKind HeldKind() REQUIRES(LibraryLock);
  TPixelDepth HeldDepth() REQUIRES(LibraryLock);
  bool HeldIsMono() REQUIRES(LibraryLock);
  bool HeldIsEmpty() REQUIRES(LibraryLock);

  // Drawing by PaintGraphic: whether Render asks the destination for its
  // context (and so gives it a second BeforeChange), and Render with that
  // notice given already when noticed says so.
  bool RenderNoticesDestination(TCanvas& canvas);
  void RenderHeld(TCanvas& canvas, const TRect& rect, bool noticed) REQUIRES(LibraryLock);

  // Answers whether the bitmap changed, for the notice its caller gives once
  // the lock is back. With unread, the pixels LoadFileLeavingPixels leaves
  // are left, and said where they go.
  bool ReadBmpImage(TStream& stream, std::int64_t count, TUnreadPixels* unread = nullptr) REQUIRES(LibraryLock);
  void WriteBmp(TStream& stream, bool withByteCount, const TPixelWriter* writePixels = nullptr);

 private:
  // Loads the BMP data from the stream's position on, the pixels left as
  // unread says (nullptr: read).
  void LoadRestOf(TStream& stream, TUnreadPixels* unread);
  // Makes a change under the library lock, then, when it changed anything,
  // gives the notice without the lock.
  template <class Value>
  void ChangeThenNotify(bool (TBitmap::*change)(Value), Value value) {
    bool changed;
    {
      TLibraryHold hold;
      changed = (this->*change)(value);
    }
    if (changed) NotifyChange(this);
  }
  bool SetWidthHeld(std::int32_t value) REQUIRES(LibraryLock);
  bool SetHeightHeld(std::int32_t value) REQUIRES(LibraryLock);
  bool SetKindHeld(TBitmapKind value) REQUIRES(LibraryLock);
  bool SetDepthHeld(TPixelDepth value) REQUIRES(LibraryLock);
  bool SetKeyColorHeld(TColor value) REQUIRES(LibraryLock);
  bool AttachUnfilledSection(std::int32_t width, std::int32_t height) REQUIRES(LibraryLock);
  void SetPaletteHandleHeld(gdi::HPALETTE value) REQUIRES(LibraryLock);

  TBitmapImage* sharedImage_ GUARDED_BY(LibraryLock) = nullptr;
  std::unique_ptr<TBitmapCanvas> canvas_ GUARDED_BY(LibraryLock);
  bool noPalette_ GUARDED_BY(LibraryLock) = false;
  bool maskCurrent_ GUARDED_BY(LibraryLock) = false;
  bool maskBuilt_ GUARDED_BY(LibraryLock) = false;
  TColor keyColor_ GUARDED_BY(LibraryLock) = clDefault;
  TTransparencyKind keyKind_ GUARDED_BY(LibraryLock) = TTransparencyKind::tkAuto;
};

}  // namespace bleedborder
