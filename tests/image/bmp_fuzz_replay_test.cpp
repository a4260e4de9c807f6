// Replays the fuzzing inputs (the crash inputs kept under fuzz/ and the seed
// files of the suite) through the fuzz target's steps: load, then write back
// whatever loaded. Only the reader's own failures may come out.
#include <gtest/gtest.h>

#include <filesystem>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "tests/image/bmp_test_support.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace bmp_test;

TEST(BmpFuzzReplay, InputsLoadOrAreRefusedCleanly) {
  const std::filesystem::path data(BLEED_TEST_DATA);
  std::size_t replayed = 0;
  for (const auto& folder : {data / "fuzz", data / "bmpsuite"}) {
    if (!std::filesystem::exists(folder)) continue;  // no crash inputs kept yet
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with('.')) continue;
      SCOPED_TRACE(entry.path().string());
      TBitmap bitmap;
      try {
        Load(bitmap, ReadFile(entry.path()));
      } catch (const EReadError&) {
        continue;
      } catch (const EInvalidGraphic&) {
        continue;
      } catch (const EOSError&) {
        continue;
      }
      if (SectionSize(bitmap) <= (64u << 20)) Store(bitmap);
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u);
}
