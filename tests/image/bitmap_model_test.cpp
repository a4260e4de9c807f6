// The bitmap model: derived kind and depth, copy on write, assignment,
// handles and palettes on demand, and the release of every platform object.
#include <gtest/gtest.h>

#include <memory>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/image_globals.h"
#include "tests/image/bitmap_test_support.h"

using namespace bleedborder;

namespace {

using namespace bitmap_test;

TEST(BitmapModel, NewBitmapIsEmptyDeviceBitmapWithoutPalette) {
  TBitmap bitmap;
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDDB);
  EXPECT_EQ(bitmap.Depth(), TPixelDepth::pdDevice);
  EXPECT_FALSE(bitmap.PaletteHandle());
  EXPECT_FALSE(bitmap.NoPalette());  // no section to ask
  EXPECT_FALSE(bitmap.HasCanvas());
  EXPECT_EQ(bitmap.KeyColor(), clDefault);
  EXPECT_EQ(bitmap.KeyKind(), TTransparencyKind::tkAuto);
  EXPECT_EQ(bitmap.SharedImage().ShareCount, 1);
}

TEST(BitmapModel, DepthFollowsBitCountCompressionAndGreenMask) {
  struct Case {
    std::uint16_t bits;
    std::uint32_t compression;
    std::uint32_t masks[3];
    TPixelDepth depth;
  };
  const Case cases[] = {
      {1, gdi::BI_RGB, {}, TPixelDepth::pd1Bit},
      {4, gdi::BI_RGB, {}, TPixelDepth::pd4Bit},
      {8, gdi::BI_RGB, {}, TPixelDepth::pd8Bit},
      {16, gdi::BI_RGB, {}, TPixelDepth::pd15Bit},
      {16, gdi::BI_BITFIELDS, {0xF800, 0x7E0, 0x1F}, TPixelDepth::pd16Bit},
      {16, gdi::BI_BITFIELDS, {0x7C00, 0x3E0, 0x1F}, TPixelDepth::pdCustom},
      {24, gdi::BI_RGB, {}, TPixelDepth::pd24Bit},
      {32, gdi::BI_RGB, {}, TPixelDepth::pd32Bit},
      {32, gdi::BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, TPixelDepth::pdCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bits " << c.bits << " compression " << c.compression);
    SectionShape shape{2, 2, c.bits, c.compression, {c.masks[0], c.masks[1], c.masks[2]}, {}};
    if (c.bits <= 8) shape.table.assign(std::size_t{1} << c.bits, gdi::RGBQUAD{});
    TBitmap bitmap;
    AttachSection(bitmap, MakeSection(shape));
    EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDIB);
    EXPECT_EQ(bitmap.Depth(), c.depth);
  }
}

TEST(BitmapModel, KindAndSizeComeFromTheStoredRecord) {
  TBitmap bitmap;
  gdi::DIBSECTION record{};
  record.dsBm.bmWidth = 4;
  record.dsBm.bmHeight = -10;  // a top-down record
  bitmap.AttachImage({}, {}, nullptr, false, record);
  EXPECT_EQ(bitmap.Height(), 10);
  EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDDB);
  record.dsBmih.biSize = 40;  // a header without storage
  bitmap.AttachImage({}, {}, nullptr, false, record);
  EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDIB);
  EXPECT_TRUE(bitmap.IsEmpty());
}

TEST(BitmapModel, ReadingTheHandleOfASharerCopiesThePixels) {
  TBitmap first;
  AttachSection(first, MakeSection32(2, 1, {kRed, kBlue}));
  TBitmap second;
  second.TakeFrom(&first);
  TBitmapImage* shared = &first.SharedImage();
  ASSERT_EQ(&second.SharedImage(), shared);
  EXPECT_EQ(shared->ShareCount, 2);

  const gdi::HBITMAP handle = second.BitmapHandle();
  EXPECT_NE(&second.SharedImage(), shared);
  EXPECT_NE(handle, shared->BitmapHandle);
  EXPECT_EQ(&first.SharedImage(), shared);
  EXPECT_EQ(shared->ShareCount, 1);
  EXPECT_EQ(PixelsOf(second), (std::vector<gdi::COLORREF>{kRed, kBlue}));
  EXPECT_EQ(PixelsOf(first), (std::vector<gdi::COLORREF>{kRed, kBlue}));

  // A sole user keeps its storage.
  first.BitmapHandle();
  EXPECT_EQ(&first.SharedImage(), shared);
}

TEST(BitmapModel, AssignmentSharesAndCopiesTransparencySettings) {
  TBitmap source;
  AttachSection(source, MakeSection32(1, 1, {kGreen}));
  source.SetUseTransparency(true);
  TBitmap target;
  ChangeCounter changes(target);
  target.TakeFrom(&source);
  EXPECT_EQ(&target.SharedImage(), &source.SharedImage());
  EXPECT_TRUE(target.UseTransparency());
  EXPECT_EQ(changes.count, 1);

  target.TakeFrom(&target);  // itself: only the notification
  EXPECT_EQ(source.SharedImage().ShareCount, 2);
  EXPECT_EQ(changes.count, 2);

  target.TakeFrom(nullptr);  // nothing: empties
  EXPECT_TRUE(target.IsEmpty());
  EXPECT_EQ(source.SharedImage().ShareCount, 1);
}

TEST(BitmapModel, AssignmentFromAnotherClassFailsAndKeepsTheBitmap) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection32(1, 1, {kGreen}));
  TBitmapImage* before = &bitmap.SharedImage();
  TCanvas notABitmap;
  try {
    bitmap.TakeFrom(&notABitmap);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TCanvas to a TBitmap");
  }
  EXPECT_EQ(&bitmap.SharedImage(), before);
}

TEST(BitmapModel, PaletteComesFromTheColourTableOrNotAtAll) {
  TBitmap indexed;
  AttachSection(indexed, MakeSection({1, 1, 8, gdi::BI_RGB, {}, {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}}));
  const gdi::HPALETTE palette = indexed.PaletteHandle();
  ASSERT_TRUE(palette);
  gdi::PALETTEENTRY entries[3];
  ASSERT_EQ(gdi::GetPaletteEntries(palette, 0, 3, entries), 3u);
  EXPECT_EQ(entries[2].peRed, 9);  // converted from blue, green, red order
  EXPECT_EQ(entries[2].peBlue, 7);

  TBitmap trueColor;
  AttachSection(trueColor, MakeSection32(1, 1, {kRed}));
  EXPECT_FALSE(trueColor.PaletteHandle());
  EXPECT_TRUE(trueColor.NoPalette());
}

TEST(BitmapModel, EveryPlatformObjectIsReleased) {
  const std::size_t before = gdi::LiveObjectCount();
  {
    TBitmap a;
    AttachSection(a, MakeSection({4, 4, 4, gdi::BI_RGB, {}, std::vector<gdi::RGBQUAD>(16)}));
    a.PaletteHandle();
    a.Canvas().RequireParts(cpAll);  // a context with the tools selected
    TBitmap b;
    b.TakeFrom(&a);
    b.SetKind(TBitmapKind::bkDDB);  // a device bitmap and a section copy
    b.SetWidth(6);
    TBitmap c;
    c.TakeFrom(&b);
    c.BitmapHandle();
  }
  EXPECT_EQ(gdi::LiveObjectCount(), before);
}

TEST(BitmapModel, ClipboardTakesOnlyDeviceBitmapsAndRoundTrips) {
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadClipboard(8, gdi::HBITMAP{1}, {}), EInvalidGraphic);
  EXPECT_THROW(bitmap.LoadClipboard(2, {}, {}), EInvalidGraphic);
  EXPECT_TRUE(bitmap.IsEmpty());

  AttachSection(bitmap, MakeSection32(2, 1, {kBlue, kRed}));
  std::uint16_t format = 0;
  gdi::HBITMAP data;
  gdi::HPALETTE palette;
  bitmap.StoreClipboard(format, data, palette);
  EXPECT_EQ(format, 2);
  ASSERT_TRUE(data);
  EXPECT_EQ(PixelOf(data, 0, 0), kBlue);

  TBitmap pasted;
  ChangeCounter changes(pasted);
  pasted.LoadClipboard(format, data, palette);
  EXPECT_EQ(pasted.Kind(), TBitmapKind::bkDDB);
  EXPECT_EQ(PixelsOf(pasted), (std::vector<gdi::COLORREF>{kBlue, kRed}));
  EXPECT_EQ(changes.count, 1);
  gdi::DeleteObject(data);  // the clipboard data stays the caller's
}

TEST(BitmapModel, CanvasIsMadeOnceAndRoutesChangesToTheBitmap) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection32(2, 2, {kRed, kRed, kRed, kRed}));
  TBitmap sharer;
  sharer.TakeFrom(&bitmap);
  ChangeCounter changes(bitmap);
  TBitmapCanvas& canvas = bitmap.Canvas();
  EXPECT_EQ(&bitmap.Canvas(), &canvas);
  EXPECT_EQ(canvas.OwnerBitmap(), &bitmap);

  // What every drawing operation does around its work.
  canvas.BeforeChange();
  canvas.AfterChange();
  EXPECT_EQ(changes.count, 1);
  EXPECT_TRUE(bitmap.IsModified());
  EXPECT_NE(&bitmap.SharedImage(), &sharer.SharedImage());  // made private first
  EXPECT_EQ(PixelOf(sharer, 0, 0), kRed);
}

// A filer that records whether "Data" would be written.
class RecordingFiler : public TFiler {
 public:
  void DefineBinaryProperty(const std::string& name, std::function<void(TStream&)>, std::function<void(TStream&)>,
                            bool hasData) override {
    EXPECT_EQ(name, "Data");
    written = hasData;
  }
  bool written = false;
};

TEST(BitmapModel, DataIsStreamedWhenNotEmptyOrDifferentFromTheAncestor) {
  TBitmap empty;
  TBitmap picture;
  AttachSection(picture, MakeSection32(1, 1, {kRed}));
  TBitmap same;
  same.TakeFrom(&picture);
  TBitmap other;
  AttachSection(other, MakeSection32(1, 1, {kBlue}));
  TCanvas notAGraphic;

  struct Case {
    TBitmap* graphic;
    TPersistent* ancestor;
    bool written;
  };
  const Case cases[] = {
      {&empty, nullptr, false},      {&picture, nullptr, true}, {&picture, &same, false},
      {&picture, &other, true},      {&empty, &picture, true},  {&picture, &notAGraphic, true},
  };
  for (const Case& c : cases) {
    RecordingFiler filer;
    filer.Ancestor = c.ancestor;
    c.graphic->DefineProperties(filer);
    EXPECT_EQ(filer.written, c.written);
  }
}

TEST(BitmapModel, AssignmentGivesTheCanvasTheNewPicture) {
  auto filled = [](TBitmap& bitmap, TColor color) {
    bitmap.SetDepth(TPixelDepth::pd32Bit);
    bitmap.SetWidth(2);
    bitmap.SetHeight(2);
    bitmap.Canvas().Brush().SetColor(color);
    bitmap.Canvas().FillArea(TRect{0, 0, 2, 2});
  };
  TBitmap picture, other, keeper;
  filled(picture, clRed);
  filled(other, clBlue);
  keeper.TakeFrom(&picture);  // keeps the red storage alive after picture moves on
  EXPECT_EQ(picture.Canvas().PixelAt(0, 0), clRed);
  picture.TakeFrom(&other);
  EXPECT_EQ(picture.Canvas().PixelAt(0, 0), clBlue);
  EXPECT_EQ(keeper.Canvas().PixelAt(0, 0), clRed);
}

}  // namespace
