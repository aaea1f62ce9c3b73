#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "codec/block_codec.h"
#include "codec_test_data.h"
#include "stream_test_support.h"
#include "test_support.h"

namespace tolv {
namespace {

using test::Lit;
using test::Match;
using test::StreamToken;

constexpr uint8_t kGuard = 0xEE;
constexpr size_t kGuardBytes = 64;

// Compresses into a destination of exactly Block_CompressBound bytes followed
// by guard bytes, which must stay untouched.
std::vector<uint8_t> CompressChecked(const std::vector<uint8_t>& source, int32_t* result = nullptr) {
  const size_t bound = static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(source.size())));
  std::vector<uint8_t> dst(bound + kGuardBytes, kGuard);
  const int32_t size = Block_Compress(source.data(), static_cast<int32_t>(source.size()), dst.data());
  EXPECT_EQ(std::vector<uint8_t>(dst.begin() + static_cast<ptrdiff_t>(bound), dst.end()),
            std::vector<uint8_t>(kGuardBytes, kGuard));
  EXPECT_GT(size, 0);
  EXPECT_LE(static_cast<size_t>(size), bound);
  if (result) *result = size;
  dst.resize(static_cast<size_t>(size));
  return dst;
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& stream, size_t size) {
  std::vector<uint8_t> out(size + kGuardBytes, kGuard);
  EXPECT_EQ(Block_Decompress(stream.data(), static_cast<int32_t>(stream.size()), out.data(),
                             static_cast<int32_t>(size)),
            1);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + static_cast<ptrdiff_t>(size), out.end()),
            std::vector<uint8_t>(kGuardBytes, kGuard));
  out.resize(size);
  return out;
}

// Checks a stream with the reference reader: every block holds at most one
// code buffer's worth of codes, every match is 3..256 bytes long, lies within
// the source and refers to bytes already produced, and the codes expand to the
// source.
void CheckStreamStructure(const std::vector<uint8_t>& source, const std::vector<uint8_t>& stream,
                          const std::string& name) {
  const std::vector<test::StreamBlock> blocks = test::ReadStreamTokens(stream, source.size());
  size_t position = 0;
  for (const test::StreamBlock& block : blocks) {
    EXPECT_EQ(block.codeCount, block.tokens.size()) << name;
    EXPECT_LE(block.tokens.size(), 14544u) << name;
    for (const StreamToken& token : block.tokens) {
      if (token.isMatch) {
        EXPECT_GE(token.length, 3u) << name << " at " << position;
        EXPECT_LE(token.length, 256u) << name << " at " << position;
        EXPECT_LE(position + token.length, source.size()) << name << " at " << position;
        EXPECT_LT(token.distanceField, position) << name << " at " << position;
        position += token.length;
      } else {
        position += 1;
      }
    }
  }
  EXPECT_EQ(position, source.size()) << name;
  EXPECT_EQ(test::ExpandTokens(test::Flatten(blocks), source.size()), source) << name;
}

TEST(BlockCompress, EmptySourceGivesSevenZeroBytes) {
  int32_t result = 0;
  const std::vector<uint8_t> stream = CompressChecked({}, &result);
  EXPECT_EQ(result, 7);
  EXPECT_EQ(stream, std::vector<uint8_t>(7, 0));
  std::vector<uint8_t> dst(kBlockMaxStreamSize, kGuard);
  EXPECT_EQ(Block_Compress(nullptr, -3, dst.data()), 7);  // a negative size counts as empty
  EXPECT_EQ(std::vector<uint8_t>(dst.begin(), dst.begin() + 7), std::vector<uint8_t>(7, 0));
}

TEST(BlockCompress, RoundTripsAndStructureOfEveryCase) {
  for (const test::NamedData& c : test::RoundTripCases()) {
    const std::vector<uint8_t> output = CompressChecked(c.bytes);
    if (test::IsPlainCopy(c.bytes, output)) continue;
    EXPECT_EQ(Decompress(output, c.bytes.size()), c.bytes) << c.name;
    CheckStreamStructure(c.bytes, output, c.name);
  }
}

TEST(BlockCompress, RoundTripsEveryLengthClass) {
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 300; ++n) lengths.push_back(n);
  for (size_t power = 512; power <= 32768; power *= 2)
    for (size_t n : {power - 1, power, power + 1}) lengths.push_back(n);
  for (size_t n : {8448u, 16360u, 16639u, 16640u, 16641u, 24832u, 32761u, 32762u}) lengths.push_back(n);
  const std::vector<uint8_t> mixed = test::TextCodeSettings(12000, 9);
  for (size_t length : lengths) {
    const std::vector<uint8_t> source(mixed.begin(), mixed.begin() + static_cast<ptrdiff_t>(length));
    const std::vector<uint8_t> output = CompressChecked(source);
    ASSERT_EQ(Decompress(output, length), source) << "length " << length;
    if (length % 97 == 0 || length > 8000)
      CheckStreamStructure(source, output, "length " + std::to_string(length));
  }
}

TEST(BlockCompress, OutputDependsOnlyOnTheInput) {
  const std::vector<uint8_t> source = test::MachineCode(20000);
  const std::vector<uint8_t> first = CompressChecked(source);
  // A different call in between leaves other data behind in any reused memory.
  CompressChecked(test::RandomBytes(1, 30000));
  EXPECT_EQ(CompressChecked(source), first);
  // A thread's first call, in working memory of its own, gives the same stream.
  std::vector<uint8_t> onNewThread;
  std::thread([&] { onNewThread = CompressChecked(source); }).join();
  EXPECT_EQ(onNewThread, first);
  // The tail beyond the source's end must not influence the stream either.
  std::vector<uint8_t> longer = source;
  longer.resize(25000, 0x77);
  std::vector<uint8_t> dst(32762);
  const int32_t size = Block_Compress(longer.data(), 20000, dst.data());
  EXPECT_EQ(std::vector<uint8_t>(dst.begin(), dst.begin() + size), first);
}

TEST(BlockCompress, OneByteRepeated8192TimesIsOneLiteralAndMatchesAtDistanceOne) {
  for (uint8_t byte : {0x00, 0x55, 0xFF}) {
    const std::vector<uint8_t> source(8192, byte);
    const std::vector<uint8_t> stream = CompressChecked(source);
    std::vector<StreamToken> expected = {Lit(byte)};
    for (int i = 0; i < 31; ++i) expected.push_back(Match(256, 0));
    expected.push_back(Match(255, 0));
    EXPECT_EQ(test::Flatten(test::ReadStreamTokens(stream, source.size())), expected);
  }
}

TEST(BlockCompress, RandomDataOfTheLimitComesBackAsPlainCopy) {
  for (size_t size : {32762u, 40000u}) {
    const std::vector<uint8_t> source = test::RandomBytes(static_cast<uint32_t>(size), size);
    int32_t result = 0;
    EXPECT_EQ(CompressChecked(source, &result), source);
    EXPECT_EQ(result, static_cast<int32_t>(size));
  }
}

// Random data expands a little: the first 32626 bytes of this random data give
// a stream of exactly the limit, which is kept; one byte more passes it.
TEST(BlockCompress, StreamOfExactlyTheLimitIsKeptOneByteMoreIsNot) {
  const std::vector<uint8_t> random = test::RandomBytes(5, 32627);
  const std::vector<uint8_t> atLimit(random.begin(), random.end() - 1);
  int32_t result = 0;
  const std::vector<uint8_t> stream = CompressChecked(atLimit, &result);
  EXPECT_EQ(result, kBlockMaxStreamSize);
  EXPECT_EQ(Decompress(stream, atLimit.size()), atLimit);
  EXPECT_EQ(CompressChecked(random, &result), random);
  EXPECT_EQ(result, 32627);
}

// Without a repeated 3-byte string every code is a literal: the code buffer
// fills after 1818 groups of eight and the rest follows in further blocks.
TEST(BlockCompress, BlocksAreCutWhenTheCodeBufferFills) {
  const std::vector<uint8_t> source = test::NoRepeatedTriples(32762);
  const std::vector<uint8_t> stream = CompressChecked(source);
  ASSERT_LT(stream.size(), source.size());
  const std::vector<test::StreamBlock> blocks = test::ReadStreamTokens(stream, source.size());
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].codeCount, 14544u);
  EXPECT_EQ(blocks[1].codeCount, 14544u);
  EXPECT_EQ(blocks[2].codeCount, 32762u - 2 * 14544u);
  for (const StreamToken& token : test::Flatten(blocks)) ASSERT_FALSE(token.isMatch);
}

TEST(BlockCompress, LongSourcesThatCompressWellStayStreams) {
  for (const std::vector<uint8_t>& source :
       {std::vector<uint8_t>(1 << 20, 0), test::Text(300000), test::SettingsLikeBlock(200000)}) {
    int32_t result = 0;
    const std::vector<uint8_t> stream = CompressChecked(source, &result);
    ASSERT_LT(result, kBlockMaxStreamSize);
    EXPECT_EQ(Decompress(stream, source.size()), source);
  }
}

uint32_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint32_t hash = 2166136261u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

// Stored files and receivers see these exact bytes: the fingerprints of the
// streams for fixed inputs catch any change to the encoder's choices (match
// selection, block cuts, code lengths), which round trips alone would not.
TEST(BlockCompress, StreamsKeepTheirRecordedFingerprints) {
  struct Golden {
    const char* name;
    std::vector<uint8_t> input;
    int32_t size;
    uint32_t fingerprint;
  };
  const Golden goldens[] = {
      {"word text", test::WordText(32762, 1), 8562, 0xAA6DFD4A},
      {"repetitive text", test::Text(30000), 322, 0x8282C3A4},
      {"settings-like", test::SettingsLikeBlock(8192), 1138, 0x0CA3D9E1},
      {"no repeated triples", test::NoRepeatedTriples(32762), 20875, 0x13863B4C},
      {"mixed 1", test::MixedData(32762, 1), 8169, 0x3EF34470},
      {"mixed 3", test::MixedData(32762, 3), 5008, 0xF76C6A63},
      {"mixed 4 long", test::MixedData(120000, 4), 28675, 0xA5B6374D},
      {"long settings-like", test::SettingsLikeBlock(200000), 25068, 0xA32BCAE2},
      {"long repetitive text", test::Text(300000), 1507, 0xD20A4FED},
  };
  for (const Golden& g : goldens) {
    int32_t size = 0;
    const std::vector<uint8_t> stream = CompressChecked(g.input, &size);
    EXPECT_EQ(size, g.size) << g.name;
    EXPECT_EQ(Fnv1a(stream), g.fingerprint) << g.name;
  }
}

}  // namespace
}  // namespace tolv
