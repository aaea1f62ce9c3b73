// Decoder of the compressed block format.
//
// The stream is a sequence of blocks. Each block starts with the number of
// codes it holds and three canonical Huffman codes (lengths only): the length
// code, in which the literal/length code lengths are sent; the literal/length
// code; the distance-class code. Then follow the codes: a literal, or a match
// length followed by its distance class and the distance's low bits.
//
// The output is produced in chunks of up to 8192 bytes through an 8192-byte
// window; a finished chunk is copied to the destination, so a stream that turns
// out bad leaves the destination changed only in whole chunks.
#include <algorithm>
#include <cstring>

#include "codec/bit_reader.h"
#include "codec/block_codec.h"
#include "codec/block_format.h"
#include "codec/decode_table.h"

namespace tolv {
namespace {

using block::BitReader;

constexpr int kLitLenLookupBits = 12;
constexpr int kShortLookupBits = 8;
constexpr uint32_t kWindowMask = block::kWindowSize - 1;

// A code with a lookup of kLookupBits bits and its tree.
template <int kSymbols, int kLookupBits>
struct Code {
  uint16_t table[1 << kLookupBits];
  uint8_t lengths[kSymbols];
  block::DecodeTree tree;

  bool Build(int symbolCount) {
    std::fill(lengths + symbolCount, lengths + kSymbols, uint8_t{0});
    return block::BuildDecodeTable(kSymbols, lengths, kLookupBits, table, tree);
  }

  // A code sent as a single symbol: every decode yields it without bits.
  void SetSingle(uint16_t symbol) {
    std::fill_n(lengths, kSymbols, uint8_t{0});
    block::FillSingleSymbolTable(symbol, kLookupBits, table);
  }

  // Decodes one symbol; the reader must hold at least 16 valid bits.
  int Decode(BitReader& reader) const {
    const uint32_t top = reader.Peek16();
    const uint16_t entry = table[top >> (16 - kLookupBits)];
    uint32_t symbol = entry & block::kEntryValueMask;
    if (symbol < kSymbols) {
      reader.Consume(entry >> block::kEntryLengthShift);
      return static_cast<int>(symbol);
    }
    return DecodeLong(reader, symbol, top);
  }

  // Walks the tree below the lookup, one code bit per step. A tree built from
  // a complete code always ends in a symbol within 16 bits; the guard keeps a
  // damaged one from walking on.
  int DecodeLong(BitReader& reader, uint32_t node, uint32_t top) const {
    for (int bit = 15 - kLookupBits; bit >= 0 && node >= kSymbols; --bit)
      node = ((top >> bit) & 1) ? tree.oneBranch[node] : tree.zeroBranch[node];
    if (node >= kSymbols) node = 0;
    reader.Consume(lengths[node]);
    return static_cast<int>(node);
  }
};

struct Decoder {
  explicit Decoder(const uint8_t* src, int32_t srcSize) : reader(src, srcSize) {}

  BitReader reader;
  Code<block::kLitLenSymbols, kLitLenLookupBits> litLen;
  Code<block::kLengthCodeSymbols, kShortLookupBits> lengthCode;
  Code<block::kDistanceSymbols, kShortLookupBits> distance;
  uint32_t codesLeftInBlock = 0;
  // A match that ran past the end of the previous chunk.
  uint32_t matchBytesLeft = 0;
  uint32_t matchSourceIndex = 0;
  // Cleared, so that a match reaching before the first output byte reads zeros.
  uint8_t window[block::kWindowSize] = {};

  bool ReadBlockHeader();
  template <typename ShortCode>
  bool ReadShortCode(ShortCode& code, int countBits, int specialPosition);
  bool ReadLitLenCode();
  uint32_t DecodeDistanceField();
  void CopyMatch(uint32_t& outIndex, uint32_t chunkEnd);
  bool DecodeChunk(uint32_t chunkSize);
};

// Block header: 16-bit count of codes (0 meaning 65536), then the three codes.
bool Decoder::ReadBlockHeader() {
  codesLeftInBlock = reader.TakeChecked(16);
  if (codesLeftInBlock == 0) codesLeftInBlock = 65536;
  return ReadShortCode(lengthCode, block::kLengthCodeCountBits, block::kLengthCodeSpecialPosition) &&
         ReadLitLenCode() && ReadShortCode(distance, block::kDistanceCountBits, -1);
}

// Lengths of the length code or the distance-class code: a symbol count n,
// then n lengths: 0..6 in 3 bits, 7 or more as (length - 4) one bits and a
// zero. In the length code, a 2-bit count of zero lengths follows the third
// length. A count of 0 is followed by the code's only symbol.
template <typename ShortCode>
bool Decoder::ReadShortCode(ShortCode& code, int countBits, int specialPosition) {
  constexpr int kSymbols = sizeof code.lengths;
  const uint32_t count = reader.TakeChecked(countBits);
  if (count == 0) {
    const uint32_t symbol = reader.TakeChecked(countBits);
    if (symbol >= kSymbols) return false;
    code.SetSingle(static_cast<uint16_t>(symbol));
    return true;
  }
  if (count > kSymbols) return false;
  uint32_t i = 0;
  while (i < count) {
    reader.Refill();
    uint32_t length = reader.Peek16() >> 13;
    if (length == 7) {
      while (length <= block::kMaxCodeLength && reader.BitAt(static_cast<int>(length) - 4)) ++length;
      if (length > block::kMaxCodeLength) return false;
    }
    reader.Consume(length < 7 ? 3 : static_cast<int>(length) - 3);
    code.lengths[i++] = static_cast<uint8_t>(length);
    if (static_cast<int>(i) == specialPosition) {
      // At most three zero lengths, within the alphabet of 19 symbols.
      const uint32_t zeros = reader.TakeChecked(2);
      std::fill_n(code.lengths + i, zeros, uint8_t{0});
      i += zeros;
    }
  }
  return code.Build(static_cast<int>(i));
}

// Lengths of the literal/length code, each sent as a symbol of the length
// code: 0 is one zero length, 1 and 2 are runs of zero lengths, 3..18 are the
// lengths 1..16. A count of 0 is followed by the code's only symbol.
bool Decoder::ReadLitLenCode() {
  const uint32_t count = reader.TakeChecked(block::kLitLenCountBits);
  if (count == 0) {
    const uint32_t symbol = reader.TakeChecked(block::kLitLenCountBits);
    if (symbol >= block::kLitLenSymbols) return false;
    litLen.SetSingle(static_cast<uint16_t>(symbol));
    return true;
  }
  if (count > block::kLitLenSymbols) return false;
  uint32_t i = 0;
  while (i < count) {
    reader.Refill();
    const int symbol = lengthCode.Decode(reader);
    if (symbol >= block::kLengthSymbolBias + 1) {
      litLen.lengths[i++] = static_cast<uint8_t>(symbol - block::kLengthSymbolBias);
      continue;
    }
    uint32_t zeros = 1;
    if (symbol == 1) zeros = reader.Take(block::kShortRunBits) + block::kShortRunBase;
    if (symbol == 2) zeros = reader.Take(block::kLongRunBits) + block::kLongRunBase;
    if (i + zeros > block::kLitLenSymbols) return false;
    std::fill_n(litLen.lengths + i, zeros, uint8_t{0});
    i += zeros;
  }
  return litLen.Build(static_cast<int>(i));
}

// Distance field (distance - 1): class 0 is 0, class c is 2^(c-1) plus c - 1
// further bits.
inline uint32_t Decoder::DecodeDistanceField() {
  const uint32_t distanceClass = static_cast<uint32_t>(distance.Decode(reader));
  if (distanceClass <= 1) return distanceClass;
  return (1u << (distanceClass - 1)) + reader.Take(static_cast<int>(distanceClass) - 1);
}

// Copies the match in progress into the window up to the chunk end. The source
// index runs on modulo the window size, so it reads the previous chunk's bytes
// where it lies ahead of the output index.
inline void Decoder::CopyMatch(uint32_t& outIndex, uint32_t chunkEnd) {
  const uint32_t count = std::min(matchBytesLeft, chunkEnd - outIndex);
  uint32_t from = matchSourceIndex;
  uint8_t* out = window + outIndex;
  if (from + count <= block::kWindowSize && (from + count <= outIndex || from > outIndex)) {
    // No wrap, and each byte is read before the copy overwrites it.
    std::memmove(out, window + from, count);
    from = (from + count) & kWindowMask;
  } else {
    for (uint32_t k = 0; k < count; ++k) {
      out[k] = window[from];
      from = (from + 1) & kWindowMask;
    }
  }
  outIndex += count;
  matchBytesLeft -= count;
  matchSourceIndex = from;
}

bool Decoder::DecodeChunk(uint32_t chunkSize) {
  uint32_t outIndex = 0;
  if (matchBytesLeft > 0) CopyMatch(outIndex, chunkSize);
  while (outIndex < chunkSize) {
    if (codesLeftInBlock == 0 && !ReadBlockHeader()) return false;
    --codesLeftInBlock;
    reader.Refill();
    const int symbol = litLen.Decode(reader);
    if (symbol < 256) {
      window[outIndex++] = static_cast<uint8_t>(symbol);
      continue;
    }
    matchBytesLeft = static_cast<uint32_t>(symbol - block::kMatchSymbolBias);
    const uint32_t distanceField = DecodeDistanceField();
    matchSourceIndex = (outIndex - distanceField - 1) & kWindowMask;
    CopyMatch(outIndex, chunkSize);
  }
  return true;
}

}  // namespace

int32_t Block_Decompress(const uint8_t* src, int32_t srcSize, uint8_t* dst, int32_t dstSize) {
  if (dstSize <= 0) return 1;
  Decoder decoder(src, srcSize);
  for (int32_t produced = 0; produced < dstSize;) {
    const int32_t chunkSize = std::min<int32_t>(block::kWindowSize, dstSize - produced);
    if (!decoder.DecodeChunk(static_cast<uint32_t>(chunkSize))) return 0;
    std::memcpy(dst + produced, decoder.window, static_cast<size_t>(chunkSize));
    produced += chunkSize;
  }
  return 1;
}

}  // namespace tolv
