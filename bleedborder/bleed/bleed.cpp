#include "bleedborder/bleed/bleed.h"

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/bleed_passes.h"
#include "bleedborder/bleed/renderer/direct_renderer.h"
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

// The passes, for a picture the direct renderer does not take (an empty
// one): drawn from a copy converted to 32 bits on a composite that sizing
// clears to white (it has no canvas yet), which store writes once the copy
// and the work image are gone.
template <class Store>
void StoreByPasses(TBitmap& picture, const TBleedGeometry& g, Store store) {
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
  store(composite);
}

}  // namespace

void StoreBleedBorder(TBitmap& picture, const std::string& fileName) {
  const TBleedGeometry g = CheckedGeometry(picture);
  if (bleed::StoreBleedDirect(picture, g, fileName)) return;
  StoreByPasses(picture, g, [&](TBitmap& composite) { composite.StoreFile(fileName); });
}

void StoreBleedBorder(TBitmap& picture, TStream& stream) {
  const TBleedGeometry g = CheckedGeometry(picture);
  if (bleed::StoreBleedDirect(picture, g, stream)) return;
  StoreByPasses(picture, g, [&](TBitmap& composite) { composite.StoreStream(stream); });
}

}  // namespace bleedborder
