// Test-side tools for the compressed block format, written independently of
// the codec: a builder for hand-made streams, a slow reference reader that
// lists a stream's blocks and codes, and a plain LZ77 expansion of codes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tolv::test {

// One code of a stream: a literal byte, or a match of length 3..256 whose
// distance field is its distance minus 1.
struct StreamToken {
  bool isMatch = false;
  uint32_t literal = 0;
  uint32_t length = 0;
  uint32_t distanceField = 0;
  bool operator==(const StreamToken&) const = default;
};
StreamToken Lit(uint32_t byte);
StreamToken Match(uint32_t length, uint32_t distanceField);

struct StreamBlock {
  uint32_t codeCount = 0;  // as sent: 0 stands for 65536
  std::vector<StreamToken> tokens;
};

// Thrown by ReadStreamTokens for a code table that is not a complete code.
struct BadStream : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decodes stream block by block, a bit at a time, until the codes cover
// outputSize bytes (a block's last codes are listed even when they run past).
std::vector<StreamBlock> ReadStreamTokens(const std::vector<uint8_t>& stream, size_t outputSize);

// All codes of all blocks in order.
std::vector<StreamToken> Flatten(const std::vector<StreamBlock>& blocks);

// The bytes the codes stand for, cut to outputSize; a match reaching before
// the first byte reads zero bytes there.
std::vector<uint8_t> ExpandTokens(const std::vector<StreamToken>& tokens, size_t outputSize);

// Builds streams bit by bit, most significant bit first.
class StreamBuilder {
 public:
  void Bits(int count, uint32_t value);

  // A block whose literal/length code is the single symbol litLenSymbol and
  // whose distance-class code is the single symbol distanceClass; neither
  // takes bits per code.
  void SingleSymbolBlock(uint32_t codeCount, uint32_t litLenSymbol, uint32_t distanceClass);

  // A block with explicit code lengths for the 510 literal/length symbols and
  // the 14 distance classes (shorter vectors are padded with zeros). The
  // length code is fixed: symbols 0..12 have 4 bits, 13..18 have 5 bits.
  void ExplicitBlock(uint32_t codeCount, std::vector<uint8_t> litLenLengths,
                     std::vector<uint8_t> distanceLengths);

  // Codes of the current block.
  void Put(const StreamToken& token);
  void Put(const std::vector<StreamToken>& tokens);

  // The stream, its last byte filled up with zero bits.
  std::vector<uint8_t> Finish() const;

 private:
  void PutCode(const std::vector<uint8_t>& lengths, uint32_t symbol);

  std::vector<uint8_t> bytes_;
  int bitsInLastByte_ = 8;
  std::vector<uint8_t> litLenLengths_;
  std::vector<uint8_t> distanceLengths_;
  std::vector<uint32_t> litLenCodes_;
  std::vector<uint32_t> distanceCodes_;
};

// Canonical code of each symbol (shorter codes first, then by symbol).
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

}  // namespace tolv::test
