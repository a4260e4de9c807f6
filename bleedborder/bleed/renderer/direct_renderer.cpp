#include "bleedborder/bleed/renderer/direct_renderer.h"

#include <optional>
#include <vector>

#include "bleedborder/bleed/renderer/pixel_view.h"
#include "bleedborder/core/parallel.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/row_writer.h"

namespace bleedborder::bleed {

namespace {

// A band is what a thread renders before it writes: small enough to stay in
// its core's cache until it is written.
constexpr std::int64_t kBandBytes = std::int64_t{256} << 10;

// The picture's pixels, when the renderer takes them with this geometry.
std::optional<PixelView> PictureFor(TBitmap& source, const TBleedGeometry& g) {
  std::optional<PixelView> picture = PixelView::Of(source, PixelView::Depths::Any);
  if (!picture || picture->Width() != g.sourceWidth || picture->Height() != g.sourceHeight ||
      !PassGeometry(g).Fits())
    return std::nullopt;
  return picture;
}

unsigned ThreadsOf(const TBleedGeometry& g, unsigned asked) {
  return asked != 0 ? asked : ThreadsFor(g.outputHeight, std::int64_t{g.outputWidth} * 4);
}

// The file's bytes, written by store, which writes a composite of the
// output's size as a BMP with the pixel writer it is given.
template <class Store>
bool WriteBleedDirect(TBitmap& source, const TBleedGeometry& geometry, TBandOptions band,
                      const TPictureReader& readPicture, Store store) {
  const std::optional<PixelView> picture = PictureFor(source, geometry);
  if (!picture) return false;
  const PassGeometry g(geometry);
  const RowRenderer renderer(*picture, g, {TUnpaintedPixels::White, band.threads}, ThreadsOf(g, band.threads),
                             readPicture);
  // A 32-bit section, sized without its pixels being set: its header is
  // written, and the rendered rows in place of its pixels.
  TBitmap composite;
  composite.SetDepth(TPixelDepth::pd32Bit);
  composite.SetSizeUnfilled(g.outputWidth, g.outputHeight);
  const std::optional<PixelView> output = PixelView::Of(composite, PixelView::Depths::Only32);
  const TRowLayout layout{g.outputWidth, g.outputHeight, 4, std::int64_t{g.outputWidth} * 4, output->TopDown()};
  TBandedRowWriter rows(layout, band.bandBytes > 0 ? band.bandBytes : kBandBytes, kWordBits, renderer.Threads());
  std::vector<RowRenderer::RowScratch> scratch;
  scratch.reserve(rows.Workers());
  for (unsigned i = 0; i < rows.Workers(); ++i) scratch.emplace_back(g, rows.WidestPart());
  // The pixel bytes the header counts are the section's, which rows writes.
  store(composite, [&](TStream& stream, std::uint32_t) {
    rows.Write(stream, [&](unsigned worker, const TRowBand& band) { renderer.RenderRows(band, scratch[worker]); });
  });
  return true;
}

}  // namespace

bool BleedDirectFits(TBitmap& source, const TBleedGeometry& g) { return PictureFor(source, g).has_value(); }

bool DrawBleedDirect(TBitmap& source, TBitmap& composite, const TBleedGeometry& geometry, TBleedOptions options) {
  if (!BleedDirectFits(source, geometry) || !PixelView::Of(composite, PixelView::Depths::Only32)) return false;
  if (composite.Width() != geometry.outputWidth || composite.Height() != geometry.outputHeight) return false;
  // As a drawing operation would: private storage first, a change notice
  // after. The views are taken after it: source may share the storage.
  composite.PrepareToModify();
  const PassGeometry g(geometry);
  const RowRenderer renderer(*PixelView::Of(source, PixelView::Depths::Any), g, options,
                             ThreadsOf(g, options.threads));
  renderer.Render(*PixelView::Of(composite, PixelView::Depths::Only32));
  composite.NotifyChange(&composite);
  return true;
}

bool StoreBleedDirect(TBitmap& source, const TBleedGeometry& g, const std::string& fileName, TBandOptions options,
                      const TPictureReader& readPicture) {
  return WriteBleedDirect(source, g, options, readPicture,
                          [&](TBitmap& composite, const TBitmap::TPixelWriter& writePixels) {
                            composite.StoreFileWritingPixels(fileName, writePixels);
                          });
}

bool StoreBleedDirect(TBitmap& source, const TBleedGeometry& g, TStream& stream, TBandOptions options) {
  return WriteBleedDirect(source, g, options, {}, [&](TBitmap& composite, const TBitmap::TPixelWriter& writePixels) {
    composite.StoreStreamWritingPixels(stream, writePixels);
  });
}

}  // namespace bleedborder::bleed
