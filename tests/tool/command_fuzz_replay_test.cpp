// Replays the fuzzing inputs (the kept corpora and crash inputs of both fuzz
// targets, and the suite files they were seeded with) through the command's
// steps in memory, as the command's fuzz target runs them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/command_steps.h"
#include "tests/support/library_fixture.h"

TEST(CommandFuzzReplay, InputsAreRefusedOrGiveTheExpectedFile) {
  const std::filesystem::path data(BLEED_TEST_DATA);
  std::size_t replayed = 0;
  for (const auto& folder : {data / "fuzz", data / "bmpsuite"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with('.')) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      EXPECT_EQ(command_steps::CheckInput(bytes.data(), bytes.size()), "") << entry.path().string();
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 65u) << "the corpus and the suite files";
}
