// Inputs and helpers shared by the codec tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolv::test {

struct NamedData {
  std::string name;
  std::vector<uint8_t> bytes;
};

// English-like text of pseudo-random words, less repetitive than test::Text.
std::vector<uint8_t> WordText(size_t count, uint32_t seed);

// A settings-like block: mostly zero bytes with sparse short records.
std::vector<uint8_t> SettingsLikeBlock(size_t count);

// The first count bytes of a de Bruijn sequence over an alphabet of 64 byte
// values: no 3-byte string occurs twice, so a compressor finds no match.
std::vector<uint8_t> NoRepeatedTriples(size_t count);

// A deterministic mixture of word text, settings-like data, random bytes,
// runs and repeats of earlier pieces at all distances, count bytes long.
std::vector<uint8_t> MixedData(size_t count, uint32_t seed);

// Word text (from seed), machine code and settings-like data, pieceSize bytes
// each, in that order.
std::vector<uint8_t> TextCodeSettings(size_t pieceSize, uint32_t seed);

// The cases every round trip covers: empty, one byte, text, machine code,
// zeros, one byte repeated, random data, settings-like data, data without any
// match, data longer than one code block and longer than the stream limit.
std::vector<NamedData> RoundTripCases();

// Block_Compress of source, cut to the count it returns.
std::vector<uint8_t> CompressBlock(const std::vector<uint8_t>& source);

// True when output is source given back as a plain copy. The test data never
// expands by 100 bytes, so only a source that close to the stream limit may
// come back so; a copy of a shorter one counts as a stream and fails its checks.
bool IsPlainCopy(const std::vector<uint8_t>& source, const std::vector<uint8_t>& output);

}  // namespace tolv::test
