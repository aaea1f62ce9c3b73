// Encoder of the compressed block format.
//
// LZ77 with the tree match finder and a one-position deferred match: a match
// found at one position is sent only if the next position does not find a
// longer one. Codes are buffered in groups of eight behind a flag byte (a set
// bit marks a match); when the buffer fills, the block is sent: its Huffman
// codes, then the buffered codes in them.
#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>

#include "codec/block_codec.h"
#include "codec/block_format.h"
#include "codec/huffman_builder.h"
#include "codec/match_finder.h"

namespace tolv {
namespace {

using block::MatchFinder;

constexpr int kCodeBufferSize = 16384;
// A new group starts a new block when fewer than 24 bytes are free: a group
// takes at most 1 + 8 * 3 bytes.
constexpr uint32_t kCodeBufferFlushAt = kCodeBufferSize - 24;

// Most-significant-bit-first writer into the destination. Counts every byte
// but stores only the first kBlockMaxStreamSize; a longer stream is never used.
class StreamWriter {
 public:
  explicit StreamWriter(uint8_t* dst) : dst_(dst) {}

  // Writes the low bitCount (0..16) bits of value, which has no higher bits.
  void PutBits(int bitCount, uint32_t value) {
    bits_ = (bits_ << bitCount) | value;
    bitCount_ += bitCount;
    if (bitCount_ >= 32) EmitWholeBytes();
  }

  // The stream ends with 7 zero bits, pushing out a partly filled byte.
  void Finish() {
    PutBits(7, 0);
    EmitWholeBytes();
  }

  bool overflowed() const { return size_ > static_cast<uint32_t>(kBlockMaxStreamSize); }
  uint32_t size() const { return size_; }

 private:
  void EmitWholeBytes() {
    for (; bitCount_ >= 8; ++size_) {
      bitCount_ -= 8;
      if (size_ < static_cast<uint32_t>(kBlockMaxStreamSize))
        dst_[size_] = static_cast<uint8_t>(bits_ >> bitCount_);
    }
  }

  uint8_t* dst_;
  uint64_t bits_ = 0;  // the low bitCount_ bits are not yet written
  int bitCount_ = 0;
  uint32_t size_ = 0;
};

// The working memory of one compression. Start() readies it for a new
// source, so that one instance serves every call on its thread.
struct Encoder {
  void Start(const uint8_t* src, int32_t srcSize, uint8_t* dst);

  const uint8_t* source = nullptr;
  uint32_t sourceLeft = 0;
  StreamWriter out{nullptr};
  MatchFinder finder;

  uint8_t codeBuffer[kCodeBufferSize];
  uint32_t codeBufferUsed = 0;
  uint32_t flagIndex = 0;
  uint32_t groupMask = 0;

  // Frequencies, with room for the inner nodes of each Huffman tree.
  uint16_t litLenFrequency[2 * block::kLitLenSymbols - 1] = {};
  uint16_t distanceFrequency[2 * block::kDistanceSymbols - 1] = {};
  uint16_t lengthCodeFrequency[2 * block::kLengthCodeSymbols - 1] = {};
  uint8_t litLenLengths[block::kLitLenSymbols];
  uint16_t litLenCodes[block::kLitLenSymbols];
  // Shared by the length code and the distance-class code, built in turn.
  uint8_t shortLengths[block::kLengthCodeSymbols];
  uint16_t shortCodes[block::kLengthCodeSymbols];

  uint32_t ReadSource(uint8_t* to, uint32_t maxCount);
  void Run();
  void Advance(uint32_t& position, uint32_t& bytesLeft);
  void BufferCode(uint32_t symbol, uint32_t distanceField);
  void SendBlock();
  template <typename Send>
  void ForEachLitLenLengthSymbol(Send send) const;
  void CountLengthCodeFrequencies();
  void WriteShortCodeLengths(int symbolCount, int countBits, int specialPosition);
  void WriteLitLenCodeLengths();
  void WriteBufferedCodes(uint32_t codeCount);
  void PutShortCode(int symbol) { out.PutBits(shortLengths[symbol], shortCodes[symbol]); }
};

// Everything a compression reads before writing it starts as in a new
// instance; the match finder is reset by Run().
void Encoder::Start(const uint8_t* src, int32_t srcSize, uint8_t* dst) {
  source = src;
  sourceLeft = srcSize > 0 ? static_cast<uint32_t>(srcSize) : 0;
  out = StreamWriter(dst);
  codeBufferUsed = 0;
  flagIndex = 0;
  groupMask = 0;
  std::fill(std::begin(litLenFrequency), std::end(litLenFrequency), uint16_t{0});
  std::fill(std::begin(distanceFrequency), std::end(distanceFrequency), uint16_t{0});
  std::fill(std::begin(lengthCodeFrequency), std::end(lengthCodeFrequency), uint16_t{0});
}

// The calling thread's working memory, allocated at its first compression and
// kept until the thread ends: a thread that compresses many chunks maps and
// touches its 350 KB once, not once per chunk.
Encoder& ThreadEncoder() {
  thread_local const std::unique_ptr<Encoder> encoder = std::make_unique<Encoder>();
  return *encoder;
}

uint32_t Encoder::ReadSource(uint8_t* to, uint32_t maxCount) {
  const uint32_t count = std::min(maxCount, sourceLeft);
  if (count > 0) std::memcpy(to, source, count);
  source += count;
  sourceLeft -= count;
  return count;
}

// Moves on one position. At the end of the text buffer the second half and the
// look-ahead move down and more source follows. The leaf of the string 8192
// positions back leaves the tree before the new position enters it.
[[gnu::always_inline]] inline void Encoder::Advance(uint32_t& position, uint32_t& bytesLeft) {
  --bytesLeft;
  if (++position == MatchFinder::kEndPosition) {
    uint8_t* text = finder.text();
    std::memmove(text, text + block::kWindowSize, block::kWindowSize + block::kMaxMatch);
    bytesLeft += ReadSource(text + block::kWindowSize + block::kMaxMatch, block::kWindowSize);
    position = MatchFinder::kFirstPosition;
  }
  finder.Delete(position);
  finder.Insert(position);
}

// Appends a literal (symbol below 256) or a match (symbol 256 + length - 3 and
// the distance field) to the code buffer: one byte for a literal, three for a
// match (the length byte and the distance field most significant byte first).
void Encoder::BufferCode(uint32_t symbol, uint32_t distanceField) {
  if ((groupMask >>= 1) == 0) {
    groupMask = 0x80;
    if (codeBufferUsed >= kCodeBufferFlushAt) {
      SendBlock();
      codeBufferUsed = 0;
    }
    flagIndex = codeBufferUsed++;
    codeBuffer[flagIndex] = 0;
  }
  codeBuffer[codeBufferUsed++] = static_cast<uint8_t>(symbol);
  ++litLenFrequency[symbol];
  if (symbol >= 256) {
    codeBuffer[flagIndex] |= static_cast<uint8_t>(groupMask);
    codeBuffer[codeBufferUsed++] = static_cast<uint8_t>(distanceField >> 8);
    codeBuffer[codeBufferUsed++] = static_cast<uint8_t>(distanceField);
    ++distanceFrequency[std::bit_width(distanceField)];
  }
}

void Encoder::Run() {
  finder.Reset();
  uint8_t* text = finder.text();
  uint32_t bytesLeft = ReadSource(text + block::kWindowSize, block::kWindowSize + block::kMaxMatch);
  uint32_t position = MatchFinder::kFirstPosition;
  finder.set_matchLength(0);
  finder.Insert(position);
  finder.set_matchLength(std::min(finder.matchLength(), bytesLeft));
  while (bytesLeft > 0 && !out.overflowed()) {
    uint32_t previousLength = finder.matchLength();
    const uint32_t previousPosition = finder.matchPosition();
    Advance(position, bytesLeft);
    finder.set_matchLength(std::min(finder.matchLength(), bytesLeft));
    if (finder.matchLength() > previousLength || previousLength < block::kMinMatch) {
      BufferCode(text[position - 1], 0);
      continue;
    }
    // The match starts at the position just left; the distance field is its
    // distance minus 1.
    BufferCode(previousLength + block::kMatchSymbolBias,
               (position - previousPosition - 2) & (block::kWindowSize - 1));
    while (--previousLength > 0) Advance(position, bytesLeft);
    finder.set_matchLength(std::min(finder.matchLength(), bytesLeft));
  }
  SendBlock();
  out.Finish();
}

// A block: the count of codes (16 bits), the length code and the
// literal/length code (or, for a single literal/length symbol, empty length
// code and that symbol), the distance-class code, then the buffered codes.
void Encoder::SendBlock() {
  const int litLenRoot =
      block::BuildHuffmanCode(block::kLitLenSymbols, litLenFrequency, litLenLengths, litLenCodes);
  const uint32_t codeCount = litLenFrequency[litLenRoot];
  out.PutBits(16, codeCount);
  if (litLenRoot >= block::kLitLenSymbols) {
    CountLengthCodeFrequencies();
    const int root =
        block::BuildHuffmanCode(block::kLengthCodeSymbols, lengthCodeFrequency, shortLengths, shortCodes);
    if (root >= block::kLengthCodeSymbols) {
      WriteShortCodeLengths(block::kLengthCodeSymbols, block::kLengthCodeCountBits,
                            block::kLengthCodeSpecialPosition);
    } else {
      out.PutBits(block::kLengthCodeCountBits, 0);
      out.PutBits(block::kLengthCodeCountBits, static_cast<uint32_t>(root));
    }
    WriteLitLenCodeLengths();
  } else {
    out.PutBits(block::kLengthCodeCountBits, 0);
    out.PutBits(block::kLengthCodeCountBits, 0);
    out.PutBits(block::kLitLenCountBits, 0);
    out.PutBits(block::kLitLenCountBits, static_cast<uint32_t>(litLenRoot));
  }
  const int distanceRoot =
      block::BuildHuffmanCode(block::kDistanceSymbols, distanceFrequency, shortLengths, shortCodes);
  if (distanceRoot >= block::kDistanceSymbols) {
    WriteShortCodeLengths(block::kDistanceSymbols, block::kDistanceCountBits, -1);
  } else {
    out.PutBits(block::kDistanceCountBits, 0);
    out.PutBits(block::kDistanceCountBits, static_cast<uint32_t>(distanceRoot));
  }
  WriteBufferedCodes(codeCount);
  std::fill_n(litLenFrequency, block::kLitLenSymbols, uint16_t{0});
  std::fill_n(distanceFrequency, block::kDistanceSymbols, uint16_t{0});
}

// Trailing zero lengths of the literal/length code are not sent.
int SentLength(const uint8_t* lengths, int symbolCount) {
  while (symbolCount > 0 && lengths[symbolCount - 1] == 0) --symbolCount;
  return symbolCount;
}

// The sent literal/length code lengths as length-code symbols: 3..18 for the
// lengths 1..16; a run of k zero lengths as k times 0 (k <= 2), as 1 and k - 3
// in 4 bits (3..18), as 0 and then 1 with 15 (19) or as 2 and k - 20 in 9 bits
// (20 and more). Calls send(symbol, extraBitCount, extraBits) for each.
template <typename Send>
void Encoder::ForEachLitLenLengthSymbol(Send send) const {
  const int sentCount = SentLength(litLenLengths, block::kLitLenSymbols);
  for (int i = 0; i < sentCount;) {
    const int length = litLenLengths[i++];
    if (length != 0) {
      send(length + block::kLengthSymbolBias, 0, 0u);
      continue;
    }
    uint32_t run = 1;
    while (i < sentCount && litLenLengths[i] == 0) ++i, ++run;
    if (run <= 2) {
      for (uint32_t k = 0; k < run; ++k) send(0, 0, 0u);
    } else if (run <= 18) {
      send(1, block::kShortRunBits, run - block::kShortRunBase);
    } else if (run == 19) {
      send(0, 0, 0u);
      send(1, block::kShortRunBits, run - 1 - block::kShortRunBase);
    } else {
      send(2, block::kLongRunBits, run - block::kLongRunBase);
    }
  }
}

// How often each length-code symbol will be sent.
void Encoder::CountLengthCodeFrequencies() {
  std::fill_n(lengthCodeFrequency, block::kLengthCodeSymbols, uint16_t{0});
  ForEachLitLenLengthSymbol([this](int symbol, int, uint32_t) { ++lengthCodeFrequency[symbol]; });
}

// Lengths of the length code or the distance-class code: the count, then each
// length, 0..6 in 3 bits and 7 or more as (length - 4) one bits and a zero. In
// the length code, the zero lengths among symbols 3..5 that follow the third
// length are sent as a 2-bit count.
void Encoder::WriteShortCodeLengths(int symbolCount, int countBits, int specialPosition) {
  const int sentCount = SentLength(shortLengths, symbolCount);
  out.PutBits(countBits, static_cast<uint32_t>(sentCount));
  for (int i = 0; i < sentCount;) {
    const uint32_t length = shortLengths[i++];
    if (length <= 6) {
      out.PutBits(3, length);
    } else {
      out.PutBits(static_cast<int>(length) - 3, (1u << (length - 3)) - 2);
    }
    if (i == specialPosition) {
      while (i < 6 && shortLengths[i] == 0) ++i;
      out.PutBits(2, static_cast<uint32_t>(i - 3));
    }
  }
}

void Encoder::WriteLitLenCodeLengths() {
  out.PutBits(block::kLitLenCountBits,
              static_cast<uint32_t>(SentLength(litLenLengths, block::kLitLenSymbols)));
  ForEachLitLenLengthSymbol([this](int symbol, int extraBitCount, uint32_t extraBits) {
    PutShortCode(symbol);
    out.PutBits(extraBitCount, extraBits);
  });
}

// The buffered codes: a literal in its literal/length code; a match as its
// length symbol, its distance class and the class's low bits of the distance
// field (class c carries c - 1 bits below its leading 1).
void Encoder::WriteBufferedCodes(uint32_t codeCount) {
  uint32_t read = 0;
  uint32_t flags = 0;
  for (uint32_t i = 0; i < codeCount; ++i) {
    flags = (i % 8 == 0) ? codeBuffer[read++] : flags << 1;
    const uint32_t value = codeBuffer[read++];
    if ((flags & 0x80) == 0) {
      out.PutBits(litLenLengths[value], litLenCodes[value]);
      continue;
    }
    const uint32_t symbol = value + 256;
    out.PutBits(litLenLengths[symbol], litLenCodes[symbol]);
    const uint32_t distanceField = (uint32_t{codeBuffer[read]} << 8) | codeBuffer[read + 1];
    read += 2;
    const int distanceClass = std::bit_width(distanceField);
    PutShortCode(distanceClass);
    if (distanceClass > 1) out.PutBits(distanceClass - 1, distanceField & ((1u << (distanceClass - 1)) - 1));
  }
}

}  // namespace

int32_t Block_Compress(const uint8_t* src, int32_t srcSize, uint8_t* dst) {
  Encoder& encoder = ThreadEncoder();
  encoder.Start(src, srcSize, dst);
  encoder.Run();
  // Every stream holds at least one block header, so the copy is made only for
  // a stream past the limit, which needs a non-empty source.
  if (encoder.out.overflowed()) {
    std::memcpy(dst, src, static_cast<size_t>(srcSize));
    return srcSize;
  }
  return static_cast<int32_t>(encoder.out.size());
}

}  // namespace tolv
