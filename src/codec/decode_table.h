// Lookup tables for canonical Huffman codes of the block format (internal to
// the codec).
//
// A code is given by the length of every symbol (0 = no code). Codes are
// canonical: shorter codes come first, and within one length the codes run in
// increasing symbol order. A code with lookupBits-bit table decodes any code
// of up to lookupBits bits in one lookup; longer codes continue in a binary
// tree rooted in the table entry of their first lookupBits bits.
#pragma once

#include <cstdint>

namespace tolv::block {

// Table entry: bits 0..5 hold the code length of a symbol whose code fits the
// lookup (0 for a tree root or a code without bits), the bits a decoder
// consumes, in the low bits so that it needs no shift to get them; bits 6..15
// hold the symbol (below the alphabet size) or the tree node (at or above it).
inline constexpr uint16_t kEntryLengthMask = 0x3F;
inline constexpr int kEntryValueShift = 6;

// Tree storage: node numbers start at the alphabet size, as a code of m
// symbols needs at most m - 1 inner nodes; 2 * 510 - 1 covers the largest.
inline constexpr int kTreeEntries = 1019;
// The largest alphabet.
inline constexpr int kMaxSymbols = 510;

struct DecodeTree {
  uint16_t zeroBranch[kTreeEntries];
  uint16_t oneBranch[kTreeEntries];
};

// Builds table (1 << lookupBits entries) and tree for the code whose
// symbolCount lengths are in lengths (each 0..16; lookupBits 1..16 and
// symbolCount at most 510). Returns false, leaving table and tree in an
// unspecified but harmless state, when a length exceeds 16 or the lengths do
// not fill the code space exactly (an incomplete or over-full code).
bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int lookupBits, uint16_t* table,
                      DecodeTree& tree);

// Makes every lookup of the table yield symbol, consuming no bits: the form a
// code with a single symbol is sent in.
void FillSingleSymbolTable(uint16_t symbol, int lookupBits, uint16_t* table);

}  // namespace tolv::block
