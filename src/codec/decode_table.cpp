#include "codec/decode_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "codec/block_format.h"

namespace tolv::block {
namespace {

// How many symbols have each length 0..16; false when a length exceeds 16.
bool CountLengths(int symbolCount, const uint8_t* lengths, uint32_t (&countOfLength)[kMaxCodeLength + 1]) {
  std::fill(std::begin(countOfLength), std::end(countOfLength), 0u);
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    if (lengths[symbol] > kMaxCodeLength) return false;
    ++countOfLength[lengths[symbol]];
  }
  return true;
}

// First canonical code of every length 1..16, left-aligned in 16 bits
// (firstCode[17] is the end of the code space). False when the code space is
// not exactly full.
bool ComputeFirstCodes(const uint32_t (&countOfLength)[kMaxCodeLength + 1],
                       uint32_t (&firstCode)[kMaxCodeLength + 2]) {
  firstCode[1] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    firstCode[length + 1] = firstCode[length] + (countOfLength[length] << (kMaxCodeLength - length));
  return firstCode[kMaxCodeLength + 1] == (1u << kMaxCodeLength);
}

// Writes entry to count (a power of two) consecutive lookup entries, four at
// a time where there are four.
void FillRun(uint16_t* to, uint32_t count, uint16_t entry) {
  if (count < 4) {
    for (uint32_t k = 0; k < count; ++k) to[k] = entry;
    return;
  }
  const uint64_t four = entry * 0x0001000100010001u;
  for (uint32_t k = 0; k < count; k += 4) std::memcpy(to + k, &four, sizeof four);
}

// Enters a code longer than the lookup into the tree rooted at its lookup
// entry: one node per further code bit, created on first use.
bool AddTreeCode(uint32_t code, int length, int lookupBits, uint16_t symbol, uint16_t* table,
                 DecodeTree& tree, int& nextNode) {
  // The lookup entry holds the root's node number as a value; the branches
  // hold plain node and symbol numbers.
  uint16_t& root = table[code >> (kMaxCodeLength - lookupBits)];
  if (root == 0) {
    if (nextNode >= kTreeEntries) return false;
    tree.zeroBranch[nextNode] = tree.oneBranch[nextNode] = 0;
    root = static_cast<uint16_t>(nextNode++ << kEntryValueShift);
  }
  uint16_t node = root >> kEntryValueShift;
  int bit = kMaxCodeLength - 1 - lookupBits;
  for (;; --bit) {
    uint16_t& branch = ((code >> bit) & 1) ? tree.oneBranch[node] : tree.zeroBranch[node];
    if (bit == kMaxCodeLength - length) {
      branch = symbol;
      return true;
    }
    if (branch == 0) {
      if (nextNode >= kTreeEntries) return false;
      tree.zeroBranch[nextNode] = tree.oneBranch[nextNode] = 0;
      branch = static_cast<uint16_t>(nextNode++);
    }
    node = branch;
  }
}

}  // namespace

bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int lookupBits, uint16_t* table,
                      DecodeTree& tree) {
  uint32_t countOfLength[kMaxCodeLength + 1];
  uint32_t nextCode[kMaxCodeLength + 2];
  if (!CountLengths(symbolCount, lengths, countOfLength) || !ComputeFirstCodes(countOfLength, nextCode))
    return false;

  // The symbols in canonical order: by length, and within a length by symbol.
  uint16_t ordered[kMaxSymbols];
  uint32_t orderStart[kMaxCodeLength + 2];
  orderStart[1] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    orderStart[length + 1] = orderStart[length] + countOfLength[length];
  uint32_t place[kMaxCodeLength + 1];
  std::copy(orderStart, orderStart + kMaxCodeLength + 1, place);
  for (int symbol = 0; symbol < symbolCount; ++symbol)
    if (lengths[symbol] != 0) ordered[place[lengths[symbol]]++] = static_cast<uint16_t>(symbol);

  // The codes that fit the lookup fill one run of entries each, one after
  // another in canonical order; the entries after them are tree roots,
  // created empty.
  const int shortest = std::min(lookupBits, kMaxCodeLength);
  uint16_t* fill = table;
  for (int length = 1; length <= shortest; ++length) {
    const uint32_t run = 1u << (lookupBits - length);
    for (uint32_t k = orderStart[length]; k < orderStart[length + 1]; ++k, fill += run)
      FillRun(fill, run, static_cast<uint16_t>(ordered[k] << kEntryValueShift | length));
  }
  std::fill(fill, table + (1u << lookupBits), uint16_t{0});

  // Longer codes go into the trees below their roots.
  int nextNode = symbolCount;
  for (int length = shortest + 1; length <= kMaxCodeLength; ++length) {
    for (uint32_t k = orderStart[length]; k < orderStart[length + 1]; ++k) {
      const uint32_t code = nextCode[length];
      nextCode[length] += 1u << (kMaxCodeLength - length);
      if (!AddTreeCode(code, length, lookupBits, ordered[k], table, tree, nextNode)) return false;
    }
  }
  return true;
}

void FillSingleSymbolTable(uint16_t symbol, int lookupBits, uint16_t* table) {
  std::fill_n(table, 1u << lookupBits, static_cast<uint16_t>(symbol << kEntryValueShift));
}

}  // namespace tolv::block
