#include "codec_test_data.h"

#include <algorithm>
#include <functional>
#include <iterator>

#include "codec/block_codec.h"
#include "test_support.h"

namespace tolv::test {

std::vector<uint8_t> WordText(size_t count, uint32_t seed) {
  static const char* const kWords[] = {
      "the",       "receiver",    "keeps",    "its",     "settings", "in",      "flash",     "memory",
      "satellite", "service",     "timer",    "group",   "and",      "a",       "of",        "to",
      "channel",   "transponder", "is",       "with",    "every",    "section", "checksum",  "before",
      "boots",     "loader",      "firmware", "picture", "tuner",    "signal",  "frequency", "symbol",
      "rate",      "polarity",    "band",     "record",  "when",     "user",    "list",      "favourite",
      "radio",     "TV",          "name",     "number",  "start",    "end",     "time",      "date",
      "block",     "packet",      "serial",   "port",    "USB",      "cable"};
  const std::vector<uint8_t> random = RandomBytes(seed, count + 16);
  std::vector<uint8_t> text;
  text.reserve(count + 16);
  for (size_t i = 0; text.size() < count; ++i) {
    const std::string word = kWords[random[i] % std::size(kWords)];
    text.insert(text.end(), word.begin(), word.end());
    const uint8_t r = random[i + 1];
    text.push_back(r < 20 ? '.' : r < 35 ? ',' : r < 40 ? '\n' : ' ');
    if (r < 20) text.push_back(' ');
  }
  text.resize(count);
  return text;
}

std::vector<uint8_t> SettingsLikeBlock(size_t count) {
  std::vector<uint8_t> block(count, 0);
  const std::vector<uint8_t> random = RandomBytes(42, count);
  for (size_t offset = 16; offset + 24 < count; offset += 96 + random[offset] % 160) {
    for (size_t k = 0; k < 12u + random[offset + 1] % 12u; ++k) block[offset + k] = random[offset + k + 2];
  }
  return block;
}

std::vector<uint8_t> NoRepeatedTriples(size_t count) {
  // Lyndon words of length dividing 3 over 64 symbols, concatenated in order.
  constexpr int kAlphabet = 64, kOrder = 3;
  std::vector<uint8_t> sequence;
  std::vector<int> a(kAlphabet * kOrder, 0);
  std::function<void(int, int)> generate = [&](int t, int p) {
    if (sequence.size() >= count) return;
    if (t > kOrder) {
      if (kOrder % p == 0)
        for (int j = 1; j <= p; ++j)
          sequence.push_back(static_cast<uint8_t>(0x20 + a[static_cast<size_t>(j)]));
      return;
    }
    a[static_cast<size_t>(t)] = a[static_cast<size_t>(t - p)];
    generate(t + 1, p);
    for (int j = a[static_cast<size_t>(t - p)] + 1; j < kAlphabet; ++j) {
      a[static_cast<size_t>(t)] = j;
      generate(t + 1, t);
    }
  };
  generate(1, 1);
  sequence.resize(count);
  return sequence;
}

std::vector<uint8_t> MixedData(size_t count, uint32_t seed) {
  const std::vector<uint8_t> random = RandomBytes(seed, count / 64 + 64);
  std::vector<uint8_t> data;
  for (size_t i = 0; data.size() < count; i += 4) {
    const size_t length = 64 + (size_t{random[i % random.size()]} << 4);
    std::vector<uint8_t> piece;
    switch (random[(i + 1) % random.size()] % 5) {
      case 0: piece = WordText(length, seed + static_cast<uint32_t>(i)); break;
      case 1: piece = SettingsLikeBlock(length); break;
      case 2: piece = RandomBytes(seed + static_cast<uint32_t>(i), length / 4); break;
      case 3: piece.assign(length, random[(i + 2) % random.size()]); break;
      default: {
        // A repeat of earlier data, up to 9000 bytes back.
        const size_t back = std::min(data.size(), size_t{random[(i + 2) % random.size()]} * 36);
        piece.assign(data.end() - static_cast<ptrdiff_t>(back),
                     data.end() - static_cast<ptrdiff_t>(back / 2));
      }
    }
    data.insert(data.end(), piece.begin(), piece.end());
  }
  data.resize(count);
  return data;
}

std::vector<uint8_t> TextCodeSettings(size_t pieceSize, uint32_t seed) {
  std::vector<uint8_t> data = WordText(pieceSize, seed);
  const std::vector<uint8_t> code = MachineCode(pieceSize), settings = SettingsLikeBlock(pieceSize);
  data.insert(data.end(), code.begin(), code.end());
  data.insert(data.end(), settings.begin(), settings.end());
  return data;
}

std::vector<NamedData> RoundTripCases() {
  return {
      {"empty", {}},
      {"one byte", {0x5A}},
      {"text", WordText(30000, 1)},
      {"repetitive text", Text(30000)},
      {"machine code", MachineCode(32762)},
      {"zeros", std::vector<uint8_t>(32762, 0)},
      {"one byte repeated", std::vector<uint8_t>(20000, 0xA5)},
      {"random 4096", RandomBytes(3, 4096)},
      {"settings-like 8192", SettingsLikeBlock(8192)},
      {"no repeated triples 32762", NoRepeatedTriples(32762)},
      {"zeros 200000", std::vector<uint8_t>(200000, 0)},
      {"text 100000", WordText(100000, 2)},
      {"mixed 32762", MixedData(32762, 1)},
      {"mixed 500000", MixedData(500000, 2)},
  };
}

std::vector<uint8_t> CompressBlock(const std::vector<uint8_t>& source) {
  const int32_t srcSize = static_cast<int32_t>(source.size());
  std::vector<uint8_t> output(static_cast<size_t>(Block_CompressBound(srcSize)));
  output.resize(static_cast<size_t>(Block_Compress(source.data(), srcSize, output.data())));
  return output;
}

bool IsPlainCopy(const std::vector<uint8_t>& source, const std::vector<uint8_t>& output) {
  return source.size() > static_cast<size_t>(kBlockMaxStreamSize) - 100 && output == source;
}

}  // namespace tolv::test
