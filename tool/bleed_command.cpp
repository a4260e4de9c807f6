#include "tool/bleed_command.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "bleedborder/canvas/bleed_border.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/geometry.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/dib.h"
#include "tool/arguments.h"
#include "tool/file_presence.h"
#include "tool/rounding.h"

namespace bleedborder::tool {
namespace {

// Source size plus margin, refused when it does not fit the 32-bit sizes
// of a bitmap (no picture that can be loaded comes near).
std::int32_t Grown(std::int32_t side, std::int32_t margin) {
  const std::int64_t grown = std::int64_t{side} + margin;
  if (grown > std::numeric_limits<std::int32_t>::max()) RaiseMsg<EOutOfResources>(Msg::OutOfResources);
  return static_cast<std::int32_t>(grown);
}

}  // namespace

void BleedBorder(const std::string& inputPath) {
  if (!FileIsPresent(inputPath)) return;

  auto source = std::make_unique<TBitmap>();
  auto work = std::make_unique<TBitmap>();
  auto composite = std::make_unique<TBitmap>();
  source->LoadFile(inputPath);

  // The sizes come before the conversion to 32 bits (which keeps them): an
  // output image that cannot be made is refused, with the exception making
  // it would raise, before the conversion commits memory for a picture that
  // a small file may merely claim.
  const std::int32_t sourceWidth = source->Width();
  const std::int32_t sourceHeight = source->Height();
  const std::int32_t margin = RoundToNearest(std::min(sourceWidth, sourceHeight) / 8.0);
  const std::int32_t outputWidth = Grown(sourceWidth, margin);
  const std::int32_t outputHeight = Grown(sourceHeight, margin);
  CheckedImageBytes(outputWidth, outputHeight, 32);
  const std::int32_t inset = RoundToNearest(margin / 2.0);

  // The direct renderer reads the picture as it was loaded, through its
  // colour table or masks where it has them: converting it to 32 bits would
  // change no colour, only spend the time and memory.
  if (!BleedDirectFits(*source, outputWidth, outputHeight, inset)) source->SetDepth(TPixelDepth::pd32Bit);
  // Work and composite are still empty: the depth decides the storage they
  // get when they are sized.
  work->SetDepth(TPixelDepth::pd32Bit);
  composite->SetDepth(TPixelDepth::pd32Bit);
  PrepareBleedBitmaps(*source, *work);
  const std::string outputPath = inputPath + ".bmp";

  // The border passes and the picture over them: computed directly, a band
  // of rows at a time as the file is written, which gives every pixel (white
  // where nothing is drawn, the colour sizing would have cleared it to). So
  // the composite is sized without that clearing and its own pixels are
  // never set, and the picture lives until the file is written.
  if (BleedDirectFits(*source, outputWidth, outputHeight, inset)) {
    composite->SetSizeUnfilled(outputWidth, outputHeight);
    if (StoreBleedDirect(*source, *composite, inset, outputPath)) return;
    // Not so for the section just made; were it, the passes draw the border.
    source->SetDepth(TPixelDepth::pd32Bit);
    composite = std::make_unique<TBitmap>();
    composite->SetDepth(TPixelDepth::pd32Bit);
  }
  // Pass by pass, on a composite that sizing clears to white (it has no
  // canvas yet); only the passes need the work image, so only they give it
  // its pixels.
  composite->SetWidth(outputWidth);
  composite->SetHeight(outputHeight);
  work->SetWidth(outputWidth);
  work->SetHeight(outputHeight);
  DrawBleedPasses(*source, *work, *composite, inset);
  source.reset();
  work.reset();
  composite->StoreFile(outputPath);
  composite.reset();
}

void BleedBorderCommand() { BleedBorder(CommandArgument(1)); }

}  // namespace bleedborder::tool
