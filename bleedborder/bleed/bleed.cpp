#include "bleedborder/bleed/bleed.h"

#include <cstdint>
#include <optional>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/bleed_passes.h"
#include "bleedborder/bleed/renderer/direct_renderer.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/dib.h"

namespace bleedborder {

namespace {

// The picture's geometry, its output refused as sizing a bitmap would refuse
// it, before anything is made: a small file may merely claim a picture.
TBleedGeometry CheckedGeometry(TBitmap& picture) {
  const TBleedGeometry g = BleedGeometryOf(picture.Width(), picture.Height());
  CheckedImageBytes(g.outputWidth, g.outputHeight, 32);
  return g;
}

void StoreComposite(TBitmap& composite, const std::string& fileName) { composite.StoreFile(fileName); }
void StoreComposite(TBitmap& composite, TStream& stream) { composite.StoreStream(stream); }

// The passes, for a picture the direct renderer does not take (an empty
// one): drawn from a copy converted to 32 bits on a composite that sizing
// clears to white (it has no canvas yet), written once the copy and the work
// image are gone.
template <class Target>
void StoreByPasses(TBitmap& picture, const TBleedGeometry& g, Target& target) {
  TBitmap composite;
  composite.SetDepth(TPixelDepth::pd32Bit);
  {
    TBitmap source, work;
    source.TakeFrom(&picture);
    source.SetDepth(TPixelDepth::pd32Bit);
    work.SetDepth(TPixelDepth::pd32Bit);
    PrepareBleedBitmaps(source, work);
    composite.SetWidth(g.outputWidth);
    composite.SetHeight(g.outputHeight);
    work.SetWidth(g.outputWidth);
    work.SetHeight(g.outputHeight);
    DrawBleedPasses(source, work, composite, g);
  }
  StoreComposite(composite, target);
}

// The border written to a file or a stream. The work is done on a bitmap that
// shares the picture's storage (no pixel is copied): the renderer reads that
// storage without the library lock, and a thread that draws on the picture
// meanwhile gives the picture storage of its own, as drawing on one of two
// sharers does, instead of changing what is being read.
template <class Target>
void StoreBordered(TBitmap& picture, Target& target) {
  TBitmap held;
  held.TakeFrom(&picture);
  const TBleedGeometry g = CheckedGeometry(held);
  if (bleed::StoreBleedDirect(held, g, target)) return;
  StoreByPasses(held, g, target);
}

}  // namespace

void StoreBleedBorder(TBitmap& picture, const std::string& fileName) { StoreBordered(picture, fileName); }

void StoreBleedBorder(TBitmap& picture, TStream& stream) { StoreBordered(picture, stream); }

void StoreBleedBorderOfFile(const std::string& inputName, const std::string& outputName) {
  TBitmap picture;
  std::optional<TBitmap::TUnreadPixels> unread = picture.LoadFileLeavingPixels(inputName);
  if (!unread) return StoreBleedBorder(picture, outputName);
  // Bytes [from, to) of the pixels' memory, from where they lie in the file.
  const std::int64_t start = unread->file->Position();
  const bleed::TPictureReader readPixels = [&](std::int64_t from, std::int64_t to) {
    unread->file->SetPosition(start + from);
    unread->file->ReadBuffer(unread->memory + from, to - from);
  };
  const TBleedGeometry g = CheckedGeometry(picture);
  try {
    if (bleed::StoreBleedDirect(picture, g, outputName, {}, readPixels)) return;
  } catch (const EFCreateError&) {
    // The output may be the input itself (a link to it), which cannot be
    // replaced while it is open for reading: it is read whole and let go
    // first, as loading it does, and the output created again.
  }
  readPixels(0, unread->bytes);
  unread->file.reset();
  StoreBleedBorder(picture, outputName);
}

}  // namespace bleedborder
