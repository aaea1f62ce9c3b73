// Construction of the length-limited canonical Huffman codes that the
// compressor sends (internal to the codec).
#pragma once

#include <cstdint>

namespace tolv::block {

// Builds the code for symbolCount symbols (2..510) with the given frequencies.
//
// frequencies must have room for 2 * symbolCount - 1 entries: entries from
// symbolCount on receive the frequencies of the inner nodes. The sum of all
// frequencies must fit in 16 bits. lengths (symbolCount entries) receive the
// code lengths (0 for a symbol that does not occur, at most 16) and codes the
// canonical codes, right-aligned.
//
// Returns the root node. A root below symbolCount means the code has fewer
// than two symbols: the only symbol that occurs, or 0 when none does; its
// length is 0 and its code 0.
int BuildHuffmanCode(int symbolCount, uint16_t* frequencies, uint8_t* lengths, uint16_t* codes);

}  // namespace tolv::block
