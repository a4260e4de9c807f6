// The drawing tools and the caches that share their platform objects.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/resource_manager.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/platform/gdi.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace {

TEST(HashSettings, RotatesFiveBitsAndMixesEachByte) {
  const std::uint8_t abc[] = {0x61, 0x62, 0x63};
  EXPECT_EQ(HashSettings(abc, 3), 0x8822);
  const std::uint8_t one[] = {0xFF};
  EXPECT_EQ(HashSettings(one, 1), 0x00FF);
}

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFlagsOverflow) {
  struct Case {
    std::int32_t a, b, c, expected;
  };
  const Case cases[] = {
      {8, 96, 72, 11},     {8, 120, 72, 13},          {-11, 72, 96, -8},  {3, 1, 2, 2},
      {-3, 1, 2, -2},      {3, -1, 2, -2},            {-3, -1, 2, 2},     {5, 1, 0, -1},
      {INT32_MAX, 2, 1, -1}, {INT32_MAX, 2, 2, INT32_MAX}, {INT32_MIN, 1, 1, INT32_MIN}, {INT32_MIN, -1, 1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
}

TEST(ToolCache, EqualPensShareOneEntryAndOnePlatformPenUntilOneChanges) {
  TPen first, second;
  first.SetColor(clRed);
  second.SetColor(clRed);
  ASSERT_EQ(first.Entry, second.Entry);
  EXPECT_EQ(first.Entry->Users, 2);

  const std::size_t before = gdi::LiveObjectCount();
  const gdi::HPEN shared = first.ToolHandle();
  EXPECT_EQ(second.ToolHandle(), shared);
  EXPECT_EQ(gdi::LiveObjectCount(), before + 1);

  second.SetColor(clBlue);
  EXPECT_NE(second.Entry, first.Entry);
  EXPECT_EQ(first.Entry->Users, 1);
  EXPECT_EQ(first.ToolHandle(), shared);
  gdi::LOGPEN description;
  ASSERT_NE(gdi::GetObjectA(shared, sizeof description, &description), 0);
  EXPECT_EQ(description.lopnColor, gdi::COLORREF{clRed});
}

TEST(ToolCache, EntryIsFreedWithItsLastUserAndMakesNoObjectUnlessAsked) {
  const std::size_t before = gdi::LiveObjectCount();
  gdi::HBRUSH made;
  {
    TBrush unasked;
    unasked.SetColor(0x123456);
    TBrush asked;
    asked.SetColor(0x654321);
    made = asked.ToolHandle();
    ASSERT_TRUE(made);
    EXPECT_EQ(gdi::LiveObjectCount(), before + 1);
  }
  EXPECT_EQ(gdi::LiveObjectCount(), before);
  gdi::LOGBRUSH description;
  EXPECT_EQ(gdi::GetObjectA(made, sizeof description, &description), 0);
  for (TToolEntry* entry = BrushCache().Entries(); entry; entry = entry->Link) {
    TBrushSettings settings;
    std::memcpy(&settings, entry->Settings(), sizeof settings);
    EXPECT_NE(settings.Color, 0x123456);
    EXPECT_NE(settings.Color, 0x654321);
  }
}

TEST(ToolCache, SettingsDifferingOnlyInUncoveredBytesShareAnEntry) {
  TPen clean, dirty;
  TPenSettings settings = clean.ReadSettings();
  settings.Color = clGreen;
  clean.WriteSettings(settings);
  settings.Zero[1] = 0x55;
  settings.ToolHandle = 1234;
  dirty.WriteSettings(settings);
  EXPECT_EQ(clean.Entry, dirty.Entry);
}

TEST(Brush, ClearStyleAndColourAreCoupled) {
  TBrush brush;
  int alterations = 0;
  brush.OnAlter = [&](TGraphicsObject*) { ++alterations; };

  brush.SetColor(clRed);
  brush.SetStyle(TBrushStyle::bsClear);
  EXPECT_EQ(brush.Color(), clWhite);
  brush.SetColor(clNavy);
  EXPECT_EQ(brush.Style(), TBrushStyle::bsSolid);
  EXPECT_EQ(alterations, 3);

  TToolEntry* entry = brush.Entry;
  brush.SetColor(clNavy);
  EXPECT_EQ(brush.Entry, entry);
  EXPECT_EQ(alterations, 3);
}

TEST(Pen, NegativeWidthIsIgnoredAndZeroIsKept) {
  TPen pen;
  pen.SetWidth(-1);
  EXPECT_EQ(pen.Width(), 1);
  pen.SetWidth(0);
  EXPECT_EQ(pen.Width(), 0);
}

TEST(Font, NameIsCutTo31BytesAndAnEmptyNameIsIgnored) {
  TFont font;
  EXPECT_EQ(font.Name(), "MS Sans Serif");
  const std::string longName(40, 'x');
  font.SetName(longName);
  EXPECT_EQ(font.Name(), longName.substr(0, 31));
  font.SetName("");
  EXPECT_EQ(font.Name(), longName.substr(0, 31));
  font.SetName("Arial");
  const TFontSettings settings = font.ReadSettings();
  for (std::size_t i = 5; i < sizeof settings.Name; ++i) EXPECT_EQ(settings.Name[i], '\0');
}

TEST(Font, DefaultFaceNameStandsForTheDefaultFont) {
  TFont font;
  font.SetName("default");
  gdi::LOGFONTA description;
  ASSERT_NE(gdi::GetObjectA(font.ToolHandle(), sizeof description, &description), 0);
  EXPECT_STREQ(description.lfFaceName, "MS Sans Serif");
}

TEST(Font, SizeAndHeightFollowTheResolution) {
  TFont font;
  ASSERT_EQ(font.DotsPerInch, 96);
  EXPECT_EQ(font.Height(), -11);
  EXPECT_EQ(font.Size(), 8);
  font.SetSize(9);
  EXPECT_EQ(font.Height(), -12);

  TFont fine;
  fine.DotsPerInch = 120;
  fine.SetSize(8);
  EXPECT_EQ(fine.Height(), -13);
  EXPECT_EQ(fine.Size(), 8);

  // Copying between resolutions keeps the point size.
  font.SetSize(12);
  fine.TakeFrom(&font);
  EXPECT_EQ(fine.Size(), 12);
  EXPECT_EQ(fine.Height(), -20);
}

TEST(Tools, CopyingFromAnotherKindOrNothingFails) {
  TPen pen;
  TBrush brush;
  struct Case {
    TPersistent* source;
    const char* message;
  };
  const Case cases[] = {{&brush, "Cannot assign a TBrush to a TPen"}, {nullptr, "Cannot assign a nil to a TPen"}};
  for (const Case& c : cases) {
    try {
      pen.TakeFrom(c.source);
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(ColorNames, LookUpBothWays) {
  EXPECT_EQ(ColorName(clWhite), "clWhite");
  EXPECT_EQ(ColorName(clWindowText), "clWindowText");
  EXPECT_FALSE(ColorName(0x000001).has_value());
  EXPECT_EQ(ColorFromName("CLWHITE"), clWhite);
  EXPECT_FALSE(ColorFromName("clWhit").has_value());
  EXPECT_EQ(CharsetName(128), "SHIFTJIS_CHARSET");
  EXPECT_EQ(CharsetFromName("oem_charset"), 255);
  EXPECT_EQ(ResolveColor(clWindowText), gdi::GetSysColor(8));
  EXPECT_EQ(ResolveColor(clNone), gdi::COLORREF{clNone});
}

}  // namespace
