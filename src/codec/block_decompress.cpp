// Decoder of the compressed block format.
//
// The stream is a sequence of blocks. Each block starts with the number of
// codes it holds and three canonical Huffman codes (lengths only): the length
// code, in which the literal/length code lengths are sent; the literal/length
// code; the distance-class code. Then follow the codes: a literal, or a match
// length followed by its distance class and the distance's low bits.
//
// The output is produced in chunks of up to 8192 bytes. A chunk is decoded
// into the upper half of a 16 KB buffer whose lower half holds the 8192 bytes
// before it, so a match (at most 8192 bytes back) always reads one contiguous
// run. A finished chunk is copied to the destination, so a stream that turns
// out bad leaves the destination changed only in whole chunks; then the chunk
// moves down into the lower half.
#include <algorithm>
#include <cstring>

#include "codec/bit_reader.h"
#include "codec/block_codec.h"
#include "codec/block_format.h"
#include "codec/decode_table.h"

namespace tolv {
namespace {

using block::BitCursor;
using block::BitReader;

constexpr int kLitLenLookupBits = 12;
constexpr int kShortLookupBits = 8;

// The buffer: the 8192 bytes of history, the chunk being decoded, and room
// behind it for the rest of a match that runs past the chunk end (at most 255
// bytes) and for what the copy loops store beyond a match (at most 16).
constexpr uint32_t kHistorySize = block::kWindowSize;
constexpr uint32_t kChunkEnd = 2 * block::kWindowSize;
constexpr uint32_t kCopyWidth = 8;
constexpr uint32_t kCopyOvershoot = 2 * kCopyWidth;
constexpr uint32_t kBufferSize = kChunkEnd + block::kMaxMatch + kCopyOvershoot;

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

  // Decodes one symbol from the bit buffer (at least 16 valid bits) and
  // consumes its code.
  [[gnu::always_inline]] uint32_t Decode(uint64_t& buffer, int& validBits) const {
    const uint16_t entry = table[BitCursor::Peek(buffer, kLookupBits)];
    uint32_t symbol = entry >> block::kEntryValueShift;
    int length = entry & block::kEntryLengthMask;
    if (symbol >= kSymbols) [[unlikely]] {
      symbol = WalkTree(symbol, BitCursor::Peek(buffer, 16));
      length = lengths[symbol];
    }
    BitCursor::Consume(buffer, validBits, length);
    return symbol;
  }
  uint32_t Decode(BitReader& reader) const { return Decode(reader.buffer, reader.validBits); }

  // Walks the tree below the lookup with the next 16 bits top, one code bit
  // per step. A tree built from a complete code always ends in a symbol
  // within 16 bits; the guard keeps a damaged one from walking on.
  [[gnu::noinline]] uint32_t WalkTree(uint32_t node, uint32_t top) const {
    for (int bit = 15 - kLookupBits; bit >= 0 && node >= kSymbols; --bit)
      node = ((top >> bit) & 1) ? tree.oneBranch[node] : tree.zeroBranch[node];
    return node < kSymbols ? node : 0;
  }
};

// Copies a match of length bytes from distance bytes back to out. Writes up
// to kCopyOvershoot bytes past the match; those lie beyond the output so far
// and are overwritten before anything reads them.
[[gnu::always_inline]] inline void CopyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
  const uint8_t* from = out - distance;
  uint8_t* const end = out + length;
  if (distance >= kCopyWidth) {
    // Each 8-byte piece is read before any of it is written. Most matches
    // are done after the first two.
    std::memcpy(out, from, kCopyWidth);
    std::memcpy(out + kCopyWidth, from + kCopyWidth, kCopyWidth);
    if (length <= 2 * kCopyWidth) return;
    out += 2 * kCopyWidth;
    from += 2 * kCopyWidth;
    do {
      std::memcpy(out, from, kCopyWidth);
      out += kCopyWidth;
      from += kCopyWidth;
    } while (out < end);
    return;
  }
  if (distance == 1) {
    std::memset(out, *from, length);
    return;
  }
  // A shorter distance repeats a pattern of that many bytes: the first bytes
  // one at a time, then 8-byte pieces from a whole number of patterns back
  // (the smallest multiple of the distance that is at least 8).
  static constexpr uint8_t kPeriod[kCopyWidth] = {0, 8, 8, 9, 8, 10, 12, 14};
  for (uint32_t k = 0; k < kCopyWidth; ++k) out[k] = from[k];
  const uint32_t period = kPeriod[distance];
  for (out += kCopyWidth; out < end; out += kCopyWidth) std::memcpy(out, out - period, kCopyWidth);
}

struct Decoder {
  explicit Decoder(const uint8_t* src, int32_t srcSize) : reader(src, srcSize) {
    // A match reaching back before the first output byte reads zeros.
    std::memset(buffer, 0, kHistorySize);
  }

  BitReader reader;
  Code<block::kLitLenSymbols, kLitLenLookupBits> litLen;
  Code<block::kLengthCodeSymbols, kShortLookupBits> lengthCode;
  Code<block::kDistanceSymbols, kShortLookupBits> distance;
  uint32_t codesLeftInBlock = 0;
  // Where the next output byte goes; past kChunkEnd when a match ran over
  // the end of the previous chunk.
  uint32_t outIndex = kHistorySize;
  uint8_t buffer[kBufferSize];

  bool ReadBlockHeader();
  template <typename ShortCode>
  bool ReadShortCode(ShortCode& code, int countBits, int specialPosition);
  bool ReadLitLenCode();
  bool DecodeChunk(uint32_t chunkSize);
  void MoveChunkToHistory();
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
    const uint32_t symbol = lengthCode.Decode(reader);
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

// Decodes codes until the chunk of chunkSize bytes is full. The reader's
// state and the count of codes live in locals here: the byte stores into the
// buffer could otherwise alias them and force them through memory.
bool Decoder::DecodeChunk(uint32_t chunkSize) {
  uint8_t* out = buffer + outIndex;
  uint8_t* const chunkEnd = buffer + kHistorySize + chunkSize;
  const uint8_t* next = reader.next;
  const uint8_t* const end = reader.end;
  uint64_t bits = reader.buffer;
  int validBits = reader.validBits;
  int phantomBytes = reader.phantomBytes;
  uint32_t codesLeft = codesLeftInBlock;
  while (out < chunkEnd) {
    if (codesLeft == 0) [[unlikely]] {
      reader.next = next;
      reader.buffer = bits;
      reader.validBits = validBits;
      reader.phantomBytes = phantomBytes;
      if (!ReadBlockHeader()) return false;
      next = reader.next;
      bits = reader.buffer;
      validBits = reader.validBits;
      phantomBytes = reader.phantomBytes;
      codesLeft = codesLeftInBlock;
    }
    --codesLeft;
    // At most 16 bits of literal/length code, 16 of distance class and 12
    // further distance bits.
    BitCursor::Refill(next, end, bits, validBits, phantomBytes);
    const uint32_t symbol = litLen.Decode(bits, validBits);
    if (symbol < 256) {
      *out++ = static_cast<uint8_t>(symbol);
      continue;
    }
    // Distance field (distance - 1): class 0 is 0, class c is 2^(c-1) plus
    // c - 1 further bits.
    const uint32_t matchLength = symbol - block::kMatchSymbolBias;
    const uint32_t distanceClass = distance.Decode(bits, validBits);
    uint32_t distanceField = distanceClass;
    if (distanceClass > 1) {
      const int extraBits = static_cast<int>(distanceClass) - 1;
      distanceField = (1u << extraBits) + BitCursor::Peek(bits, extraBits);
      BitCursor::Consume(bits, validBits, extraBits);
    }
    CopyMatch(out, distanceField + 1, matchLength);
    out += matchLength;
  }
  reader.next = next;
  reader.buffer = bits;
  reader.validBits = validBits;
  reader.phantomBytes = phantomBytes;
  codesLeftInBlock = codesLeft;
  outIndex = static_cast<uint32_t>(out - buffer);
  return true;
}

// The full chunk becomes the history of the next one; the bytes of a match
// that ran past its end become the next chunk's first bytes.
void Decoder::MoveChunkToHistory() {
  std::memmove(buffer, buffer + kHistorySize, outIndex - kHistorySize);
  outIndex -= kHistorySize;
}

}  // namespace

int32_t Block_Decompress(const uint8_t* src, int32_t srcSize, uint8_t* dst, int32_t dstSize) {
  return Block_DecompressAs(src, srcSize, dst, dstSize, StreamEnd::kZeroBitsAfter);
}

int32_t Block_DecompressAs(const uint8_t* src, int32_t srcSize, uint8_t* dst, int32_t dstSize,
                           StreamEnd streamEnd) {
  if (dstSize <= 0) return 1;
  Decoder decoder(src, srcSize);
  for (int32_t produced = 0; produced < dstSize;) {
    const int32_t chunkSize = std::min<int32_t>(block::kWindowSize, dstSize - produced);
    if (!decoder.DecodeChunk(static_cast<uint32_t>(chunkSize))) return 0;
    std::memcpy(dst + produced, decoder.buffer + kHistorySize, static_cast<size_t>(chunkSize));
    produced += chunkSize;
    if (produced < dstSize) decoder.MoveChunkToHistory();
  }
  if (streamEnd == StreamEnd::kWithinSource && decoder.reader.ReadPastEnd()) return 0;
  return 1;
}

}  // namespace tolv
