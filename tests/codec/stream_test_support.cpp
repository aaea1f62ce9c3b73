#include "stream_test_support.h"

#include <algorithm>
#include <bit>

namespace tolv::test {
namespace {

constexpr int kLitLenSymbols = 510;
constexpr int kDistanceSymbols = 14;
constexpr int kLengthCodeSymbols = 19;

class BitSource {
 public:
  explicit BitSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint32_t Bit() {
    const size_t byte = position_ / 8;
    const uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - position_ % 8)) & 1u : 0u;
    ++position_;
    return bit;
  }
  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
    return value;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t position_ = 0;
};

// A canonical code decoded one bit at a time by comparing against the first
// code of each length.
struct ReferenceCode {
  int single = -1;
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> countOfLength;
  std::vector<uint32_t> sortedSymbols;  // by length, then by symbol

  // Checks that the lengths form a complete code and prepares decoding.
  void Prepare() {
    uint64_t space = 0;
    countOfLength.assign(17, 0);
    for (uint8_t length : lengths) {
      if (length > 16) throw BadStream("length above 16");
      if (length) space += uint64_t{1} << (16 - length);
      ++countOfLength[length];
    }
    if (space != (uint64_t{1} << 16)) throw BadStream("incomplete or over-full code");
    for (int length = 1; length <= 16; ++length)
      for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] == length) sortedSymbols.push_back(static_cast<uint32_t>(s));
  }

  uint32_t Decode(BitSource& in) const {
    if (single >= 0) return static_cast<uint32_t>(single);
    uint32_t code = 0, first = 0, index = 0;
    for (int length = 1; length <= 16; ++length) {
      code |= in.Bit();
      const uint32_t count = countOfLength[length];
      if (code - first < count) return sortedSymbols[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw BadStream("code not found");
  }
};

ReferenceCode ReadShortCode(BitSource& in, int symbols, int countBits, int special) {
  ReferenceCode code;
  const uint32_t count = in.Bits(countBits);
  if (count == 0) {
    code.single = static_cast<int>(in.Bits(countBits));
    if (code.single >= symbols) throw BadStream("single symbol outside the alphabet");
    return code;
  }
  if (count > static_cast<uint32_t>(symbols)) throw BadStream("count above the alphabet");
  code.lengths.assign(static_cast<size_t>(symbols), 0);
  for (uint32_t i = 0; i < count;) {
    uint32_t length = in.Bits(3);
    if (length == 7)
      while (length <= 16 && in.Bit()) ++length;
    if (length > 16) throw BadStream("length above 16");
    code.lengths[i++] = static_cast<uint8_t>(length);
    if (static_cast<int>(i) == special) i += in.Bits(2);
  }
  code.Prepare();
  return code;
}

ReferenceCode ReadLitLenCode(BitSource& in, const ReferenceCode& lengthCode) {
  ReferenceCode code;
  const uint32_t count = in.Bits(9);
  if (count == 0) {
    code.single = static_cast<int>(in.Bits(9));
    if (code.single >= kLitLenSymbols) throw BadStream("single symbol outside the alphabet");
    return code;
  }
  code.lengths.assign(kLitLenSymbols, 0);
  for (uint32_t i = 0; i < count;) {
    const uint32_t symbol = lengthCode.Decode(in);
    uint32_t zeros = 0;
    if (symbol == 0) zeros = 1;
    if (symbol == 1) zeros = in.Bits(4) + 3;
    if (symbol == 2) zeros = in.Bits(9) + 20;
    if (i + zeros > kLitLenSymbols) throw BadStream("zero run past the alphabet");
    if (zeros == 0) code.lengths.at(i++) = static_cast<uint8_t>(symbol - 2);
    i += zeros;
  }
  code.Prepare();
  return code;
}

}  // namespace

StreamToken Lit(uint32_t byte) { return StreamToken{false, byte, 0, 0}; }
StreamToken Match(uint32_t length, uint32_t distanceField) {
  return StreamToken{true, 0, length, distanceField};
}

std::vector<StreamBlock> ReadStreamTokens(const std::vector<uint8_t>& stream, size_t outputSize) {
  BitSource in(stream);
  std::vector<StreamBlock> blocks;
  for (size_t produced = 0; produced < outputSize;) {
    StreamBlock& block = blocks.emplace_back();
    block.codeCount = in.Bits(16);
    const ReferenceCode lengthCode = ReadShortCode(in, kLengthCodeSymbols, 5, 3);
    const ReferenceCode litLen = ReadLitLenCode(in, lengthCode);
    const ReferenceCode distance = ReadShortCode(in, kDistanceSymbols, 4, -1);
    const uint32_t codes = block.codeCount == 0 ? 65536 : block.codeCount;
    for (uint32_t k = 0; k < codes; ++k) {
      const uint32_t symbol = litLen.Decode(in);
      if (symbol < 256) {
        block.tokens.push_back(Lit(symbol));
        produced += 1;
        continue;
      }
      const uint32_t distanceClass = distance.Decode(in);
      const uint32_t field = distanceClass <= 1
                                 ? distanceClass
                                 : (1u << (distanceClass - 1)) + in.Bits(static_cast<int>(distanceClass) - 1);
      block.tokens.push_back(Match(symbol - 253, field));
      produced += symbol - 253;
    }
  }
  return blocks;
}

std::vector<StreamToken> Flatten(const std::vector<StreamBlock>& blocks) {
  std::vector<StreamToken> tokens;
  for (const StreamBlock& block : blocks)
    tokens.insert(tokens.end(), block.tokens.begin(), block.tokens.end());
  return tokens;
}

std::vector<uint8_t> ExpandTokens(const std::vector<StreamToken>& tokens, size_t outputSize) {
  std::vector<uint8_t> out;
  for (const StreamToken& token : tokens) {
    if (!token.isMatch) {
      out.push_back(static_cast<uint8_t>(token.literal));
      continue;
    }
    for (uint32_t k = 0; k < token.length; ++k) {
      const ptrdiff_t from =
          static_cast<ptrdiff_t>(out.size()) - static_cast<ptrdiff_t>(token.distanceField) - 1;
      out.push_back(from >= 0 ? out[static_cast<size_t>(from)] : 0);
    }
  }
  out.resize(outputSize, 0);
  return out;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint32_t next = 0;
  for (int length = 1; length <= 16; ++length) {
    for (size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] == length) codes[s] = next++;
    next <<= 1;
  }
  return codes;
}

void StreamBuilder::Bits(int count, uint32_t value) {
  for (int i = count - 1; i >= 0; --i) {
    if (bitsInLastByte_ == 8) {
      bytes_.push_back(0);
      bitsInLastByte_ = 0;
    }
    bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (7 - bitsInLastByte_));
    ++bitsInLastByte_;
  }
}

void StreamBuilder::SingleSymbolBlock(uint32_t codeCount, uint32_t litLenSymbol, uint32_t distanceClass) {
  Bits(16, codeCount);
  Bits(5, 0), Bits(5, 0);
  Bits(9, 0), Bits(9, litLenSymbol);
  Bits(4, 0), Bits(4, distanceClass);
  litLenLengths_.clear();
  distanceLengths_.clear();
}

void StreamBuilder::ExplicitBlock(uint32_t codeCount, std::vector<uint8_t> litLenLengths,
                                  std::vector<uint8_t> distanceLengths) {
  litLenLengths.resize(kLitLenSymbols, 0);
  distanceLengths.resize(kDistanceSymbols, 0);
  Bits(16, codeCount);
  std::vector<uint8_t> lengthCode(kLengthCodeSymbols, 4);
  std::fill(lengthCode.begin() + 13, lengthCode.end(), 5);
  Bits(5, kLengthCodeSymbols);
  for (int i = 0; i < kLengthCodeSymbols; ++i) {
    Bits(3, lengthCode[i]);
    if (i == 2) Bits(2, 0);  // no zero lengths among symbols 3..5
  }
  const std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthCode);
  int sent = kLitLenSymbols;
  while (sent > 0 && litLenLengths[sent - 1] == 0) --sent;
  Bits(9, static_cast<uint32_t>(sent));
  for (int i = 0; i < sent; ++i) {
    const uint32_t symbol = litLenLengths[i] == 0 ? 0 : litLenLengths[i] + 2u;
    Bits(lengthCode[symbol], lengthCodes[symbol]);
  }
  int sentDistances = kDistanceSymbols;
  while (sentDistances > 0 && distanceLengths[sentDistances - 1] == 0) --sentDistances;
  Bits(4, static_cast<uint32_t>(sentDistances));
  if (sentDistances == 0) Bits(4, 0);
  for (int i = 0; i < sentDistances; ++i) {
    const uint32_t length = distanceLengths[i];
    if (length <= 6) {
      Bits(3, length);
    } else {
      Bits(static_cast<int>(length) - 3, (1u << (length - 3)) - 2);
    }
  }
  litLenLengths_ = std::move(litLenLengths);
  distanceLengths_ = sentDistances == 0 ? std::vector<uint8_t>() : std::move(distanceLengths);
  litLenCodes_ = CanonicalCodes(litLenLengths_);
  distanceCodes_ = CanonicalCodes(distanceLengths_);
}

void StreamBuilder::PutCode(const std::vector<uint8_t>& lengths, uint32_t symbol) {
  if (lengths.empty()) return;  // a single-symbol code takes no bits
  if (lengths.at(symbol) == 0) throw std::logic_error("symbol without a code");
  Bits(lengths[symbol], (&lengths == &litLenLengths_ ? litLenCodes_ : distanceCodes_)[symbol]);
}

void StreamBuilder::Put(const StreamToken& token) {
  if (!token.isMatch) {
    PutCode(litLenLengths_, token.literal);
    return;
  }
  PutCode(litLenLengths_, token.length + 253);
  const int distanceClass = std::bit_width(token.distanceField);
  PutCode(distanceLengths_, static_cast<uint32_t>(distanceClass));
  if (distanceClass > 1) Bits(distanceClass - 1, token.distanceField & ((1u << (distanceClass - 1)) - 1));
}

void StreamBuilder::Put(const std::vector<StreamToken>& tokens) {
  for (const StreamToken& token : tokens) Put(token);
}

std::vector<uint8_t> StreamBuilder::Finish() const { return bytes_; }

}  // namespace tolv::test
