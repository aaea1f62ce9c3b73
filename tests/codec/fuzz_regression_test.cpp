// Replays saved fuzz inputs through the fuzz targets' checks: the seed inputs
// and every input that once made a target fail (tests/codec/regressions, named
// "decompress-<what went wrong>" or "roundtrip-<what went wrong>").
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "block_fuzz_harness.h"
#include "test_support.h"

namespace tolv {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

bool Replay(const fs::path& file, bool decompress) {
  const std::vector<uint8_t> input = test::ReadBytes(file.string());
  return decompress ? fuzz::CheckBlockDecompress(input.data(), input.size())
                    : fuzz::CheckBlockRoundTrip(input.data(), input.size());
}

TEST(CodecFuzzInputs, RegressionInputsPass) {
  for (const fs::path& file : FilesIn(TOLV_CODEC_REGRESSIONS_DIR)) {
    const std::string name = file.filename().string();
    const bool decompress = name.starts_with("decompress-");
    ASSERT_TRUE(decompress || name.starts_with("roundtrip-")) << "unexpected name " << name;
    EXPECT_TRUE(Replay(file, decompress)) << name;
  }
}

TEST(CodecFuzzInputs, SeedInputsPass) {
  const fs::path seeds = TOLV_FUZZ_SEEDS_DIR;
  const std::vector<fs::path> decompressSeeds = FilesIn(seeds / "fuzz_block_decompress");
  const std::vector<fs::path> roundTripSeeds = FilesIn(seeds / "fuzz_block_roundtrip");
  EXPECT_FALSE(decompressSeeds.empty());
  EXPECT_FALSE(roundTripSeeds.empty());
  for (const fs::path& file : decompressSeeds) EXPECT_TRUE(Replay(file, true)) << file;
  for (const fs::path& file : roundTripSeeds) EXPECT_TRUE(Replay(file, false)) << file;
}

}  // namespace
}  // namespace tolv
