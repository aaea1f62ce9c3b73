#include "codec/decode_table.h"

#include <algorithm>

#include "codec/block_format.h"

namespace tolv::block {
namespace {

// First canonical code of every length 1..16, left-aligned in 16 bits
// (firstCode[17] is the end of the code space). False when a length exceeds 16
// or the code space is not exactly full.
bool ComputeFirstCodes(int symbolCount, const uint8_t* lengths, uint32_t (&firstCode)[kMaxCodeLength + 2]) {
  uint32_t countOfLength[kMaxCodeLength + 1] = {};
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    if (lengths[symbol] > kMaxCodeLength) return false;
    ++countOfLength[lengths[symbol]];
  }
  firstCode[1] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    firstCode[length + 1] = firstCode[length] + (countOfLength[length] << (kMaxCodeLength - length));
  return firstCode[kMaxCodeLength + 1] == (1u << kMaxCodeLength);
}

// Enters a code longer than the lookup into the tree rooted at its lookup
// entry: one node per further code bit, created on first use.
bool AddTreeCode(uint32_t code, int length, int lookupBits, uint16_t symbol, uint16_t* table,
                 DecodeTree& tree, int& nextNode) {
  uint16_t* link = &table[code >> (kMaxCodeLength - lookupBits)];
  for (int bit = kMaxCodeLength - 1 - lookupBits; bit >= kMaxCodeLength - length; --bit) {
    if ((*link & kEntryValueMask) == 0) {
      if (nextNode >= kTreeEntries) return false;
      tree.zeroBranch[nextNode] = tree.oneBranch[nextNode] = 0;
      *link = static_cast<uint16_t>(nextNode++);
    }
    const uint16_t node = *link & kEntryValueMask;
    link = ((code >> bit) & 1) ? &tree.oneBranch[node] : &tree.zeroBranch[node];
  }
  *link = symbol;
  return true;
}

}  // namespace

bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int lookupBits, uint16_t* table,
                      DecodeTree& tree) {
  uint32_t nextCode[kMaxCodeLength + 2];
  if (!ComputeFirstCodes(symbolCount, lengths, nextCode)) return false;

  // Entries from the first code longer than the lookup onwards are tree roots,
  // created empty; the shorter codes fill every entry before them.
  const int shift = kMaxCodeLength - lookupBits;
  const uint32_t tableSize = 1u << lookupBits;
  std::fill(table + (nextCode[lookupBits + 1] >> shift), table + tableSize, uint16_t{0});

  int nextNode = symbolCount;
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    const int length = lengths[symbol];
    if (length == 0) continue;
    const uint32_t code = nextCode[length];
    nextCode[length] += 1u << (kMaxCodeLength - length);
    if (length <= lookupBits) {
      const uint16_t entry = static_cast<uint16_t>(symbol | (length << kEntryLengthShift));
      std::fill_n(table + (code >> shift), 1u << (lookupBits - length), entry);
    } else if (!AddTreeCode(code, length, lookupBits, static_cast<uint16_t>(symbol), table, tree, nextNode)) {
      return false;
    }
  }
  return true;
}

void FillSingleSymbolTable(uint16_t symbol, int lookupBits, uint16_t* table) {
  std::fill_n(table, 1u << lookupBits, symbol);
}

}  // namespace tolv::block
