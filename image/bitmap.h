#pragma once
// The bitmap image: pixel storage shared copy-on-write between TBitmap
// objects, with handles, sections and palettes made on demand.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/color.h"
#include "core/stream.h"
#include "image/graphic.h"
#include "platform/gdi.h"

class TBitmapCanvas;

enum class TPixelDepth : std::uint8_t {
  pdDevice = 0, pd1Bit = 1, pd4Bit = 2, pd8Bit = 3, pd15Bit = 4, pd16Bit = 5, pd24Bit = 6, pd32Bit = 7, pdCustom = 8
};
enum class TBitmapKind : std::uint8_t { bkDIB = 0, bkDDB = 1 };
enum class TTransparencyKind : std::uint8_t { tkAuto = 0, tkFixed = 1 };

// Storage that several bitmaps may use, counted by ShareCount. The count is
// atomic: sharers on different threads take and drop their shares
// independently, and the last one destroys the storage.
class TSharedImage {
 public:
  virtual ~TSharedImage() = default;
  virtual void ReleaseHandles() = 0;
  void AddShare() { ShareCount.fetch_add(1, std::memory_order_relaxed); }
  // Decrements the count and destroys the storage when it reaches 0; an
  // absent storage is ignored. Destroying takes the context lock, so no
  // caller holds ImageShareLock here.
  static void DropShare(TSharedImage* image);

  std::atomic<std::int32_t> ShareCount = 0;
};

// The pixel storage: the handles it owns and the description of its section.
class TBitmapImage : public TSharedImage {
 public:
  TBitmapImage() = default;
  TBitmapImage(const TBitmapImage&) = delete;
  TBitmapImage& operator=(const TBitmapImage&) = delete;
  ~TBitmapImage() override;
  void ReleaseHandles() override;

  gdi::HBITMAP BitmapHandle;
  gdi::HBITMAP MaskBitmap;
  gdi::HPALETTE PaletteHandle;
  gdi::HBITMAP SectionHandle;
  gdi::DIBSECTION Section{};
  std::unique_ptr<TMemoryStream> SavedStream;
  bool CoreFormat = false;
  bool UsesHalftone = false;
};

class TBitmap : public TGraphic {
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
  TBitmapCanvas& Canvas();
  bool HasCanvas() const { return canvas_ != nullptr; }

  // Transparency: the stored key colour and how it is chosen.
  TColor KeyColor() const { return keyColor_; }
  void SetKeyColor(TColor value);
  TTransparencyKind KeyKind() const { return keyKind_; }
  void SetKeyKind(TTransparencyKind value);
  TColor EffectiveKeyColor();

  // ---- Library-internal operations (reader, writer, conversions, canvas) ----
  TBitmapImage& SharedImage() const { return *sharedImage_; }
  TBitmapCanvas* CanvasOrNull() const { return canvas_.get(); }
  bool NoPalette() const { return noPalette_; }
  bool MaskCurrent() const { return maskCurrent_; }
  bool MaskBuilt() const { return maskBuilt_; }

  void PrepareToModify();
  void DetachImage();
  void CloneImage(gdi::HBITMAP handle, gdi::HPALETTE palette, gdi::DIBSECTION record);
  void AttachImage(gdi::HBITMAP handle, gdi::HPALETTE palette, std::unique_ptr<TMemoryStream> stream,
                   bool coreFormat, gdi::DIBSECTION record);
  void EnsureHandle();
  void EnsureSection();
  void EnsurePalette();
  void ReleaseContext();
  void EnsureMask();

  void ReadBmpImage(TStream& stream, std::int64_t count);
  void ReadBmpBody(TStream& stream, std::int64_t remaining, const gdi::BITMAPFILEHEADER& fileHeader);
  void WriteBmp(TStream& stream, bool withByteCount, const TPixelWriter* writePixels = nullptr);

 private:
  TBitmapImage* sharedImage_ = nullptr;
  std::unique_ptr<TBitmapCanvas> canvas_;
  bool noPalette_ = false;
  bool maskCurrent_ = false;
  bool maskBuilt_ = false;
  TColor keyColor_ = clDefault;
  TTransparencyKind keyKind_ = TTransparencyKind::tkAuto;
};
