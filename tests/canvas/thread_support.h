#pragma once
// What the thread tests count before and after: the tools using each tool
// cache, and the pictures every sharer must read back.
#include <cstdint>

#include "canvas/graphics_lib.h"
#include "canvas/resource_manager.h"
#include "tests/canvas/drawing_pixels.h"

namespace thread_test {

using drawing_test::Pixels;

// The users and entries of one tool cache.
struct CacheCensus {
  std::int64_t users = 0;
  std::int64_t entries = 0;
};

inline CacheCensus Census(TResourceManager& cache) {
  TLibraryHold hold;
  CacheCensus census;
  for (const TToolEntry* entry = cache.Entries(); entry; entry = entry->Link) {
    census.users += entry->Users;
    ++census.entries;
  }
  return census;
}

// The three caches' census and the device's live objects at one moment.
struct LibraryCensus {
  CacheCensus fonts = Census(FontCache());
  CacheCensus pens = Census(PenCache());
  CacheCensus brushes = Census(BrushCache());
  std::size_t deviceObjects = gdi::LiveObjectCount();
};

inline void ExpectSameCensus(const LibraryCensus& before, const LibraryCensus& after) {
  EXPECT_EQ(after.fonts.users, before.fonts.users);
  EXPECT_EQ(after.fonts.entries, before.fonts.entries);
  EXPECT_EQ(after.pens.users, before.pens.users);
  EXPECT_EQ(after.pens.entries, before.pens.entries);
  EXPECT_EQ(after.brushes.users, before.brushes.users);
  EXPECT_EQ(after.brushes.entries, before.brushes.entries);
  EXPECT_EQ(after.deviceObjects, before.deviceObjects);
}

// A 4 x 3 picture with white in it (the key colour of transparent draws).
constexpr std::int32_t kPictureWidth = 4, kPictureHeight = 3;
inline const Pixels kPicture{drawing_test::kRed,    drawing_test::kWhite, drawing_test::kBlue,  drawing_test::kGreen,
                             drawing_test::kWhite,  drawing_test::kCyan,  drawing_test::kBlack, drawing_test::kWhite,
                             drawing_test::kYellow, drawing_test::kBlue,  drawing_test::kWhite, 0x123456};

// The colour PixelAt answers for the picture's pixel at (x, y).
inline TColor PictureColor(std::int32_t x, std::int32_t y) {
  return static_cast<TColor>(drawing_test::Rgb(static_cast<TColor>(kPicture[std::size_t(y * kPictureWidth + x)])));
}

}  // namespace thread_test
