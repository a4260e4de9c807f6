#include "bleedborder/bleed/bleed_passes.h"

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/color.h"
#include "bleedborder/image/bitmap.h"

namespace bleedborder {

void PrepareBleedBitmaps(TBitmap& source, TBitmap& work) {
  TBrush& brush = work.Canvas().Brush();
  brush.SetColor(clWhite);
  brush.SetStyle(TBrushStyle::bsSolid);
  TPen& pen = work.Canvas().Pen();
  pen.SetStyle(TPenStyle::psSolid);
  pen.SetColor(clWhite);
  work.SetUseTransparency(true);
  work.SetKeyKind(TTransparencyKind::tkAuto);
  work.SetKeyColor(clWhite);
  source.SetUseTransparency(true);
  source.SetKeyKind(TTransparencyKind::tkFixed);
  source.SetKeyColor(clWhite);
}

void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, const TBleedGeometry& g) {
  for (std::int32_t k = 0; k < g.Passes(); ++k) {
    work.Canvas().FillArea(g.OutputRect());
    work.Canvas().StretchCopy(g.PassRect(k), source.Canvas(), g.SourceRect());
    composite.Canvas().PaintGraphic(0, 0, &work);
  }
  composite.Canvas().PaintGraphic(g.inset, g.inset, &source);
}

}  // namespace bleedborder
