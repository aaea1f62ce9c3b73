// The compressor's match finder is shaped for speed; the plain reference tree
// (reference_encoder.cpp) states the choices it must make. Every stream must
// carry exactly the reference's codes (literal, or match length and distance)
// with the reference's block cuts, over inputs that reach every path of the
// tree: leaf splits and merges, resumed searches, 256-byte matches that replace
// leaves, distances at the window's edge, buffer refills and block cuts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_test_data.h"
#include "reference_encoder.h"
#include "stream_test_support.h"
#include "test_support.h"

namespace tolv {
namespace {

std::string Describe(const test::StreamToken& token) {
  if (!token.isMatch) return "literal " + std::to_string(token.literal);
  return "match " + std::to_string(token.length) + " at field " + std::to_string(token.distanceField);
}

// Compresses source and checks the stream against the reference. Returns
// false when the source came back as a plain copy (nothing to compare).
bool MatchesReference(const std::vector<uint8_t>& source, const std::string& name) {
  const std::vector<uint8_t> stream = test::CompressBlock(source);
  if (test::IsPlainCopy(source, stream)) return false;
  if (source.empty()) return true;  // the empty stream has its own test

  const std::vector<test::StreamBlock> blocks = test::ReadStreamTokens(stream, source.size());
  const std::vector<test::StreamToken> tokens = test::Flatten(blocks);
  const test::ReferenceEncoding reference = test::ReferenceEncode(source);
  const size_t common = std::min(tokens.size(), reference.tokens.size());
  for (size_t i = 0; i < common; ++i) {
    if (tokens[i] == reference.tokens[i]) continue;
    ADD_FAILURE() << name << ": code " << i << " is " << Describe(tokens[i]) << ", reference "
                  << Describe(reference.tokens[i]);
    return true;
  }
  EXPECT_EQ(tokens.size(), reference.tokens.size()) << name;
  std::vector<uint32_t> codeCounts;
  for (const test::StreamBlock& block : blocks) codeCounts.push_back(block.codeCount);
  EXPECT_EQ(codeCounts, reference.blockCodeCounts) << name;
  return true;
}

// A unit of period bytes over four letters, repeated.
std::vector<uint8_t> Periodic(size_t period, size_t count, uint32_t seed) {
  const std::vector<uint8_t> unit = test::RandomBytes(seed, period);
  std::vector<uint8_t> data(count);
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>('a' + unit[i % period] % 4);
  return data;
}

// Runs of random lengths over a small alphabet.
std::vector<uint8_t> Runs(uint32_t alphabet, uint32_t maxRun, size_t count, uint32_t seed) {
  const std::vector<uint8_t> random = test::RandomBytes(seed, 2 * count);
  std::vector<uint8_t> data;
  for (size_t i = 0; data.size() < count; i += 2)
    data.insert(data.end(), 1 + random[i] % maxRun, static_cast<uint8_t>(random[i + 1] % alphabet));
  data.resize(count);
  return data;
}

// Earlier pieces repeated at near and far distances, some with a changed byte.
std::vector<uint8_t> Repeats(size_t count, uint32_t seed) {
  const std::vector<uint8_t> random = test::RandomBytes(seed, count);
  std::vector<uint8_t> data = test::RandomBytes(seed + 1, 64);
  for (size_t i = 0; data.size() < count; i += 4) {
    const size_t length = 1 + random[i % count] * 3u;
    const size_t back = 1 + (size_t{random[(i + 1) % count]} << 5 | random[(i + 2) % count]) % data.size();
    for (size_t k = 0; k < length; ++k) data.push_back(data[data.size() - back]);
    if (random[(i + 3) % count] & 1) data.back() ^= 0x20;
  }
  data.resize(count);
  return data;
}

TEST(BlockCompressReference, SameCodesAsThePlainTreeForEveryKindOfData) {
  int compared = 0;
  for (const test::NamedData& c : test::RoundTripCases()) compared += MatchesReference(c.bytes, c.name);
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    compared += MatchesReference(test::MixedData(32762, seed), "mixed " + std::to_string(seed));
    compared += MatchesReference(test::WordText(32762, seed), "word text " + std::to_string(seed));
    compared += MatchesReference(Repeats(32762, seed), "repeats " + std::to_string(seed));
  }
  for (uint32_t alphabet : {2u, 4u, 16u})
    for (uint32_t maxRun : {3u, 40u, 3000u})
      compared += MatchesReference(Runs(alphabet, maxRun, 32762, alphabet * maxRun),
                                   "runs " + std::to_string(alphabet) + "/" + std::to_string(maxRun));
  for (size_t density : {40u, 300u, 3000u})
    compared +=
        MatchesReference(test::SettingsLikeBlock(density * 100), "settings " + std::to_string(density));
  compared += MatchesReference(test::SettingsLikeBlock(131072), "settings 128 KiB");
  EXPECT_GE(compared, 40);
}

// Periods around the window size give matches at the farthest distance and
// strings equal for all 256 bytes, whose leaves replace each other.
TEST(BlockCompressReference, SameCodesForPeriodicData) {
  for (size_t period :
       {1u, 2u, 3u, 7u, 64u, 255u, 256u, 257u, 1000u, 4096u, 8190u, 8191u, 8192u, 8193u, 9000u}) {
    EXPECT_TRUE(MatchesReference(Periodic(period, 40000, static_cast<uint32_t>(period)),
                                 "period " + std::to_string(period)));
  }
}

// Source lengths at every boundary of the text buffer and of the code buffer.
TEST(BlockCompressReference, SameCodesForEveryLengthClass) {
  const std::vector<uint8_t> mixed = test::MixedData(40000, 11);
  std::vector<size_t> lengths = {0, 1, 2, 3, 4, 5, 255, 256, 257};
  for (size_t n : {4096u, 8192u, 8448u, 16360u, 16384u, 16640u, 24576u, 24832u, 32762u})
    for (size_t delta : {0u, 1u, 2u}) lengths.push_back(n - 1 + delta);
  for (size_t length : lengths) {
    const std::vector<uint8_t> source(mixed.begin(), mixed.begin() + static_cast<ptrdiff_t>(length));
    MatchesReference(source, "mixed prefix " + std::to_string(length));
  }
}

// More codes than one block holds: literals that never repeat a triple fill
// the code buffer again and again; long word text cuts blocks between matches.
TEST(BlockCompressReference, SameCodesAndBlockCutsOverManyBlocks) {
  EXPECT_TRUE(MatchesReference(test::NoRepeatedTriples(32762), "no repeated triples"));
  EXPECT_TRUE(MatchesReference(test::WordText(100000, 5), "long word text"));
  EXPECT_TRUE(MatchesReference(test::MixedData(120000, 8), "long mixed data"));
}

}  // namespace
}  // namespace tolv
