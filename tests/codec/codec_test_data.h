// Inputs shared by the codec tests.
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

// The cases every round trip covers: empty, one byte, text, machine code,
// zeros, one byte repeated, random data, settings-like data, data without any
// match, data longer than one code block and longer than the stream limit.
std::vector<NamedData> RoundTripCases();

}  // namespace tolv::test
