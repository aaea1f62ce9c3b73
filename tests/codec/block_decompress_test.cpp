#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec/block_codec.h"
#include "codec_test_data.h"
#include "stream_test_support.h"
#include "test_support.h"

namespace tolv {
namespace {

using test::Lit;
using test::Match;
using test::StreamBuilder;
using test::StreamToken;

constexpr uint8_t kUntouched = 0xEE;

struct Decoded {
  int32_t result;
  std::vector<uint8_t> bytes;
};

// Decodes into a buffer prefilled with kUntouched.
Decoded Decode(const std::vector<uint8_t>& stream, size_t outputSize) {
  Decoded decoded{0, std::vector<uint8_t>(outputSize, kUntouched)};
  decoded.result = Block_Decompress(stream.data(), static_cast<int32_t>(stream.size()), decoded.bytes.data(),
                                    static_cast<int32_t>(outputSize));
  return decoded;
}

std::vector<uint8_t> Repeated(uint8_t byte, size_t count) { return std::vector<uint8_t>(count, byte); }

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(BlockDecompress, DestinationLengthZeroOrLessProducesNothingAndReadsNothing) {
  uint8_t dst = kUntouched;
  EXPECT_EQ(Block_Decompress(nullptr, 1000, &dst, 0), 1);
  EXPECT_EQ(Block_Decompress(nullptr, 1000, &dst, -7), 1);
  EXPECT_EQ(dst, kUntouched);
}

// Zero bits read as blocks of 65536 codes whose three codes are each the single
// symbol 0: every code is the literal 0.
TEST(BlockDecompress, EmptyOrAllZeroSourceGivesZeroBytes) {
  for (size_t sourceSize : {0u, 1u, 3u, 100u}) {
    for (size_t outputSize : {1u, 8191u, 8192u, 8193u, 65536u, 65537u, 200000u}) {
      const std::vector<uint8_t> source(sourceSize, 0);
      Decoded decoded{0, Repeated(kUntouched, outputSize)};
      decoded.result =
          Block_Decompress(sourceSize ? source.data() : nullptr, static_cast<int32_t>(sourceSize),
                           decoded.bytes.data(), static_cast<int32_t>(outputSize));
      EXPECT_EQ(decoded.result, 1);
      EXPECT_EQ(decoded.bytes, Repeated(0, outputSize)) << sourceSize << " -> " << outputSize;
    }
  }
  std::vector<uint8_t> out(100, kUntouched);
  EXPECT_EQ(Block_Decompress(nullptr, -5, out.data(), 100), 1);  // a negative size reads nothing
  EXPECT_EQ(out, Repeated(0, 100));
}

TEST(BlockDecompress, SingleSymbolLiteralCodeRepeatsItsByteWithoutBits) {
  for (uint32_t byte : {0u, 0x41u, 0xFFu}) {
    StreamBuilder stream;
    stream.SingleSymbolBlock(5000, byte, 0);
    const Decoded decoded = Decode(stream.Finish(), 5000);
    EXPECT_EQ(decoded.result, 1);
    EXPECT_EQ(decoded.bytes, Repeated(static_cast<uint8_t>(byte), 5000));
  }
}

TEST(BlockDecompress, SingleSymbolMatchCodeRepeatsMatches) {
  StreamBuilder stream;
  stream.SingleSymbolBlock(1, 'Z', 0);
  stream.SingleSymbolBlock(40, 509, 0);  // every code: 256 bytes at distance 1
  const Decoded decoded = Decode(stream.Finish(), 1 + 40 * 256);
  EXPECT_EQ(decoded.result, 1);
  EXPECT_EQ(decoded.bytes, Repeated('Z', 1 + 40 * 256));
}

TEST(BlockDecompress, BlockCountZeroMeans65536Codes) {
  StreamBuilder stream;
  stream.SingleSymbolBlock(0, 'B', 0);
  stream.SingleSymbolBlock(10, 'C', 0);
  const Decoded decoded = Decode(stream.Finish(), 65536 + 10);
  EXPECT_EQ(decoded.result, 1);
  EXPECT_EQ(decoded.bytes, Concat(Repeated('B', 65536), Repeated('C', 10)));
}

TEST(BlockDecompress, ExplicitTwoSymbolCode) {
  std::vector<uint8_t> lengths(510, 0);
  lengths['A'] = lengths['B'] = 1;
  StreamBuilder stream;
  stream.ExplicitBlock(6, lengths, {});
  stream.Put({Lit('A'), Lit('B'), Lit('B'), Lit('A'), Lit('B'), Lit('A')});
  // 'A' is code 0 and 'B' code 1: the data bits are 011010.
  const Decoded decoded = Decode(stream.Finish(), 6);
  EXPECT_EQ(decoded.result, 1);
  EXPECT_EQ(std::string(decoded.bytes.begin(), decoded.bytes.end()), "ABBABA");
}

// A literal/length code with every length from 1 to 16 (the longest ones go
// through the trees below the 12-bit lookup) and a distance-class code with
// explicit lengths; pseudo-random codes checked against a plain expansion.
class LongCodeStream : public ::testing::Test {
 protected:
  static std::vector<uint8_t> LitLenLengths() {
    std::vector<uint8_t> lengths(510, 0);
    for (int k = 0; k < 15; ++k) lengths['a' + k] = static_cast<uint8_t>(k + 1);
    lengths[256] = lengths[509] = 16;  // matches of 3 and of 256 bytes
    return lengths;
  }
  static std::vector<uint8_t> DistanceLengths() {
    std::vector<uint8_t> lengths(14, 4);
    lengths[12] = lengths[13] = 3;
    return lengths;
  }
  static std::vector<StreamToken> Tokens(size_t count, uint32_t seed) {
    const std::vector<uint8_t> random = test::RandomBytes(seed, count * 2);
    const uint32_t distances[] = {0, 1, 2, 3, 4, 7, 100, 4095, 4096, 5000, 8190, 8191};
    std::vector<StreamToken> tokens;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t pick = random[2 * i];
      if (pick < 200) {
        tokens.push_back(Lit('a' + pick % 15));
      } else {
        tokens.push_back(Match(pick % 2 ? 3 : 256, distances[random[2 * i + 1] % 12]));
      }
    }
    return tokens;
  }
  static size_t OutputSize(const std::vector<StreamToken>& tokens) {
    size_t size = 0;
    for (const StreamToken& t : tokens) size += t.isMatch ? t.length : 1;
    return size;
  }
};

TEST_F(LongCodeStream, DecodesLikeThePlainExpansion) {
  const std::vector<StreamToken> tokens = Tokens(4000, 11);
  StreamBuilder stream;
  stream.ExplicitBlock(static_cast<uint32_t>(tokens.size()), LitLenLengths(), DistanceLengths());
  stream.Put(tokens);
  const size_t size = OutputSize(tokens);
  ASSERT_GT(size, 3 * 8192u);  // several chunks, with matches across their ends
  const Decoded decoded = Decode(stream.Finish(), size);
  EXPECT_EQ(decoded.result, 1);
  EXPECT_EQ(decoded.bytes, test::ExpandTokens(tokens, size));
}

TEST_F(LongCodeStream, CodesSplitOverSeveralBlocks) {
  const std::vector<StreamToken> tokens = Tokens(3000, 12);
  StreamBuilder stream;
  for (size_t start = 0; start < tokens.size(); start += 700) {
    const size_t end = std::min(tokens.size(), start + 700);
    if ((start / 700) % 2 == 0) {
      stream.ExplicitBlock(static_cast<uint32_t>(end - start), LitLenLengths(), DistanceLengths());
    } else {
      // Every literal/length symbol has a code: two of 8 bits, the rest 9.
      std::vector<uint8_t> everySymbol(510, 9);
      everySymbol[0] = everySymbol[1] = 8;
      stream.ExplicitBlock(static_cast<uint32_t>(end - start), everySymbol, DistanceLengths());
    }
    stream.Put(std::vector<StreamToken>(tokens.begin() + static_cast<ptrdiff_t>(start),
                                        tokens.begin() + static_cast<ptrdiff_t>(end)));
  }
  const size_t size = OutputSize(tokens);
  const Decoded decoded = Decode(stream.Finish(), size);
  EXPECT_EQ(decoded.result, 1);
  EXPECT_EQ(decoded.bytes, test::ExpandTokens(tokens, size));
}

// Single-symbol blocks make exact known answers about distances.
struct DistanceCase {
  std::string name;
  std::function<void(StreamBuilder&)> build;
  size_t outputSize;
  std::function<std::vector<uint8_t>()> expected;
};

TEST(BlockDecompress, DistancesAndChunkEnds) {
  const std::vector<DistanceCase> cases = {
      {"distance field 8191 reaches exactly 8192 bytes back",
       [](StreamBuilder& s) {
         s.SingleSymbolBlock(1, 'X', 0);
         s.SingleSymbolBlock(8191, 'Y', 0);
         s.SingleSymbolBlock(1, 256, 13);  // a 3-byte match, class 13: 4096 + 12 bits
         s.Bits(12, 4095);
       },
       8195,
       [] {
         return Concat(Concat({'X'}, Repeated('Y', 8191)), {'X', 'Y', 'Y'});
       }},
      {"distance field 0 repeats the previous byte",
       [](StreamBuilder& s) {
         s.SingleSymbolBlock(1, 'P', 0);
         s.SingleSymbolBlock(1, 'R', 0);
         s.SingleSymbolBlock(1, 257, 0);  // 4 bytes at distance 1
       },
       6, [] { return std::vector<uint8_t>{'P', 'R', 'R', 'R', 'R', 'R'}; }},
      {"a match before the first output byte reads zeros",
       [](StreamBuilder& s) {
         s.SingleSymbolBlock(1, 'Q', 0);
         s.SingleSymbolBlock(1, 258, 2);  // 5 bytes, class 2: field 2 + 1 bit
         s.Bits(1, 1);                    // field 3: 4 bytes back
       },
       6, [] { return std::vector<uint8_t>{'Q', 0, 0, 0, 'Q', 0}; }},
      {"a match runs on across the end of a chunk",
       [](StreamBuilder& s) {
         s.SingleSymbolBlock(1, 'S', 0);
         s.SingleSymbolBlock(8189, 'T', 0);
         s.SingleSymbolBlock(1, 509, 13);  // 256 bytes from 8190 back
         s.Bits(12, 8189 - 4096);
         s.SingleSymbolBlock(2, 'U', 0);
       },
       8190 + 256 + 2,
       [] {
         std::vector<uint8_t> out = Concat({'S'}, Repeated('T', 8189));
         out = Concat(out, Concat({'S'}, Repeated('T', 255)));
         return Concat(out, {'U', 'U'});
       }},
  };
  for (const DistanceCase& c : cases) {
    StreamBuilder stream;
    c.build(stream);
    const Decoded decoded = Decode(stream.Finish(), c.outputSize);
    EXPECT_EQ(decoded.result, 1) << c.name;
    EXPECT_EQ(decoded.bytes, c.expected()) << c.name;
  }
}

// Streams whose first block header carries a bad code table.
struct BadTableCase {
  std::string name;
  std::function<void(StreamBuilder&)> writeHeaderAfterCount;
};

// The fixed length code of StreamBuilder::ExplicitBlock, written by hand.
void FixedLengthCode(StreamBuilder& s) {
  s.Bits(5, 19);
  for (int i = 0; i < 19; ++i) {
    s.Bits(3, i < 13 ? 4 : 5);
    if (i == 2) s.Bits(2, 0);
  }
}

// Literal/length lengths through the fixed length code: symbols 0..12 are
// codes 0000..1100, symbols 13..18 are 11010..11111.
void LitLenLength(StreamBuilder& s, int length) {
  const int symbol = length == 0 ? 0 : length + 2;
  if (symbol < 13) {
    s.Bits(4, static_cast<uint32_t>(symbol));
  } else {
    s.Bits(5, static_cast<uint32_t>(26 + symbol - 13));
  }
}

std::vector<BadTableCase> BadTableCases() {
  return {
      {"length code count 20 above its 19 symbols", [](StreamBuilder& s) { s.Bits(5, 20); }},
      {"length code single symbol 19", [](StreamBuilder& s) { s.Bits(5, 0), s.Bits(5, 19); }},
      {"length code length 17",
       [](StreamBuilder& s) {
         s.Bits(5, 1);
         s.Bits(3, 7), s.Bits(10, 0x3FF), s.Bits(1, 0);
       }},
      {"length code of three zero lengths",
       [](StreamBuilder& s) { s.Bits(5, 3), s.Bits(9, 0), s.Bits(2, 0); }},
      {"length code over-full (19 lengths of 4)",
       [](StreamBuilder& s) {
         s.Bits(5, 19);
         for (int i = 0; i < 19; ++i) {
           s.Bits(3, 4);
           if (i == 2) s.Bits(2, 0);
         }
       }},
      {"literal/length count 511", [](StreamBuilder& s) { FixedLengthCode(s), s.Bits(9, 511); }},
      {"literal/length single symbol 510",
       [](StreamBuilder& s) { s.Bits(10, 0), s.Bits(9, 0), s.Bits(9, 510); }},
      {"literal/length zero run past the alphabet",
       [](StreamBuilder& s) {
         FixedLengthCode(s);
         s.Bits(9, 510);
         LitLenLength(s, 1);
         s.Bits(4, 2), s.Bits(9, 490);  // symbol 2: 510 zero lengths after one length
       }},
      {"literal/length code under-full (one length of 1)",
       [](StreamBuilder& s) { FixedLengthCode(s), s.Bits(9, 1), LitLenLength(s, 1); }},
      {"literal/length code over-full to twice the space (four lengths of 1)",
       [](StreamBuilder& s) {
         FixedLengthCode(s), s.Bits(9, 4);
         for (int i = 0; i < 4; ++i) LitLenLength(s, 1);
       }},
      {"distance count 15 above its 14 symbols",
       [](StreamBuilder& s) { s.Bits(10, 0), s.Bits(9, 0), s.Bits(9, 'a'), s.Bits(4, 15); }},
      {"distance single symbol 14",
       [](StreamBuilder& s) { s.Bits(10, 0), s.Bits(9, 0), s.Bits(9, 'a'), s.Bits(4, 0), s.Bits(4, 14); }},
      {"distance code under-full",
       [](StreamBuilder& s) { s.Bits(10, 0), s.Bits(9, 0), s.Bits(9, 'a'), s.Bits(4, 1), s.Bits(3, 1); }},
  };
}

TEST(BlockDecompress, BadCodeTablesGiveResultZeroAndLeaveTheDestination) {
  for (const BadTableCase& c : BadTableCases()) {
    StreamBuilder stream;
    stream.Bits(16, 100);
    c.writeHeaderAfterCount(stream);
    const Decoded decoded = Decode(stream.Finish(), 100);
    EXPECT_EQ(decoded.result, 0) << c.name;
    EXPECT_EQ(decoded.bytes, Repeated(kUntouched, 100)) << c.name;
  }
}

TEST(BlockDecompress, BadTableLaterKeepsTheChunksDecodedBefore) {
  for (const BadTableCase& c : BadTableCases()) {
    StreamBuilder stream;
    stream.SingleSymbolBlock(9000, 'A', 0);
    stream.Bits(16, 100);
    c.writeHeaderAfterCount(stream);
    const Decoded decoded = Decode(stream.Finish(), 20000);
    EXPECT_EQ(decoded.result, 0) << c.name;
    EXPECT_EQ(decoded.bytes, Concat(Repeated('A', 8192), Repeated(kUntouched, 20000 - 8192))) << c.name;
  }
}

std::vector<std::vector<uint8_t>> SampleSources() {
  std::vector<uint8_t> mixed = test::Text(6000);
  mixed = Concat(mixed, test::MachineCode(9000));
  mixed = Concat(mixed, Repeated(0, 3000));
  mixed = Concat(mixed, test::RandomBytes(5, 2000));
  return {test::Text(20000), test::MachineCode(32762), mixed};
}

TEST(BlockDecompress, TruncatedSourceReadsAsZeroBitsAndSurplusIsIgnored) {
  for (const std::vector<uint8_t>& source : SampleSources()) {
    const std::vector<uint8_t> stream = test::CompressBlock(source);
    ASSERT_LT(stream.size(), source.size());
    EXPECT_EQ(Decode(Concat(stream, test::RandomBytes(9, 50)), source.size()).bytes, source);
    for (size_t cut : {size_t{0}, size_t{1}, stream.size() / 3, stream.size() - 1}) {
      const std::vector<uint8_t> truncated(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut));
      const Decoded shortSource = Decode(truncated, source.size());
      const Decoded zeroPadded = Decode(Concat(truncated, Repeated(0, 64)), source.size());
      EXPECT_EQ(shortSource.result, zeroPadded.result) << "cut at " << cut;
      EXPECT_EQ(shortSource.bytes, zeroPadded.bytes) << "cut at " << cut;
    }
  }
}

// Damaged streams against the reference reader: both must agree on whether a
// bad table is met before the output is complete, and on the bytes otherwise.
TEST(BlockDecompress, DamagedStreamsAgreeWithTheReferenceReader) {
  const std::vector<std::vector<uint8_t>> sources = SampleSources();
  const std::vector<uint8_t> noise = test::RandomBytes(77, 4 * 400);
  for (int trial = 0; trial < 400; ++trial) {
    const std::vector<uint8_t>& source = sources[trial % sources.size()];
    std::vector<uint8_t> stream = test::CompressBlock(source);
    const uint8_t* r = &noise[4 * static_cast<size_t>(trial)];
    const size_t bit = ((size_t{r[0]} << 16 | size_t{r[1]} << 8 | r[2]) % (stream.size() * 8));
    stream[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    const size_t outputSize = source.size() - r[3];
    const Decoded decoded = Decode(stream, outputSize);
    try {
      const auto blocks = test::ReadStreamTokens(stream, outputSize);
      EXPECT_EQ(decoded.result, 1) << "trial " << trial;
      EXPECT_EQ(decoded.bytes, test::ExpandTokens(test::Flatten(blocks), outputSize)) << "trial " << trial;
    } catch (const test::BadStream&) {
      EXPECT_EQ(decoded.result, 0) << "trial " << trial;
    }
  }
}

}  // namespace
}  // namespace tolv
