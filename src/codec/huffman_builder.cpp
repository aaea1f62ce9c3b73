#include "codec/huffman_builder.h"

#include <initializer_list>

#include "codec/block_format.h"

namespace tolv::block {
namespace {

constexpr int kMaxSymbols = kLitLenSymbols;
constexpr int kMaxNodes = 2 * kMaxSymbols - 1;

struct HuffmanBuilder {
  int symbolCount;
  uint16_t* frequencies;
  int heapSize = 0;
  uint16_t heap[kMaxSymbols + 1];  // positions 1..heapSize
  uint16_t zeroBranch[kMaxNodes];
  uint16_t oneBranch[kMaxNodes];
  uint16_t leafOrder[kMaxSymbols];  // symbols as they leave the heap, least frequent first
  int leafCount = 0;
  uint32_t countOfLength[kMaxCodeLength + 1];

  // Moves the entry at position i down until its frequency is no greater than
  // its children's; of two children of equal frequency the left one moves up.
  void SiftDown(int i) {
    const uint16_t entry = heap[i];
    for (int child; (child = 2 * i) <= heapSize; i = child) {
      if (child < heapSize && frequencies[heap[child]] > frequencies[heap[child + 1]]) ++child;
      if (frequencies[entry] <= frequencies[heap[child]]) break;
      heap[i] = heap[child];
    }
    heap[i] = entry;
  }

  uint16_t PopLeast() {
    const uint16_t least = heap[1];
    if (least < symbolCount) leafOrder[leafCount++] = least;
    heap[1] = heap[heapSize--];
    SiftDown(1);
    return least;
  }

  int MergeAll();
  void CountLeafDepths(int root);
  void LimitLengths();
  void AssignLengths(uint8_t* lengths) const;
};

// Repeatedly joins the two least frequent entries under a new node; the last
// node made is the root.
int HuffmanBuilder::MergeAll() {
  for (int i = heapSize / 2; i >= 1; --i) SiftDown(i);
  int nextNode = symbolCount;
  do {
    const uint16_t first = PopLeast();
    const uint16_t second = heap[1];
    if (second < symbolCount) leafOrder[leafCount++] = second;
    frequencies[nextNode] = static_cast<uint16_t>(frequencies[first] + frequencies[second]);
    zeroBranch[nextNode] = first;
    oneBranch[nextNode] = second;
    heap[1] = static_cast<uint16_t>(nextNode++);
    SiftDown(1);
  } while (heapSize > 1);
  return nextNode - 1;
}

// Leaves per depth; leaves deeper than 16 count as 16. A node's children are
// always numbered below it, so walking the nodes downwards from the root
// visits every parent before its children.
void HuffmanBuilder::CountLeafDepths(int root) {
  uint16_t depth[kMaxNodes];
  depth[root] = 0;
  for (uint32_t& count : countOfLength) count = 0;
  for (int node = root; node >= symbolCount; --node) {
    for (uint16_t child : {zeroBranch[node], oneBranch[node]}) {
      depth[child] = static_cast<uint16_t>(depth[node] + 1);
      if (child < symbolCount) ++countOfLength[depth[child] < kMaxCodeLength ? depth[child] : kMaxCodeLength];
    }
  }
}

// Leaves cut back to 16 bits over-fill the code space; each step takes one
// leaf off length 16 and moves one leaf from the deepest shorter length one
// level down, until the code space is exactly full.
void HuffmanBuilder::LimitLengths() {
  uint32_t spaceUsed = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    spaceUsed += countOfLength[length] << (kMaxCodeLength - length);
  for (; spaceUsed > (1u << kMaxCodeLength); --spaceUsed) {
    --countOfLength[kMaxCodeLength];
    for (int length = kMaxCodeLength - 1; length > 0; --length) {
      if (countOfLength[length] != 0) {
        --countOfLength[length];
        countOfLength[length + 1] += 2;
        break;
      }
    }
  }
}

// The least frequent leaves get the longest codes.
void HuffmanBuilder::AssignLengths(uint8_t* lengths) const {
  int leaf = 0;
  for (int length = kMaxCodeLength; length > 0; --length)
    for (uint32_t k = 0; k < countOfLength[length]; ++k)
      lengths[leafOrder[leaf++]] = static_cast<uint8_t>(length);
}

// Canonical codes: within each length, codes are given in increasing symbol
// order; each length starts where the previous one ended, doubled.
void AssignCanonicalCodes(int symbolCount, const uint8_t* lengths, const uint32_t* countOfLength,
                          uint16_t* codes) {
  uint32_t nextCode[kMaxCodeLength + 2];
  nextCode[1] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    nextCode[length + 1] = (nextCode[length] + countOfLength[length]) << 1;
  for (int symbol = 0; symbol < symbolCount; ++symbol)
    if (lengths[symbol] != 0) codes[symbol] = static_cast<uint16_t>(nextCode[lengths[symbol]]++);
}

}  // namespace

int BuildHuffmanCode(int symbolCount, uint16_t* frequencies, uint8_t* lengths, uint16_t* codes) {
  HuffmanBuilder builder;
  builder.symbolCount = symbolCount;
  builder.frequencies = frequencies;
  builder.heap[1] = 0;
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    lengths[symbol] = 0;
    if (frequencies[symbol] != 0) builder.heap[++builder.heapSize] = static_cast<uint16_t>(symbol);
  }
  if (builder.heapSize < 2) {
    codes[builder.heap[1]] = 0;
    return builder.heap[1];
  }
  const int root = builder.MergeAll();
  builder.CountLeafDepths(root);
  builder.LimitLengths();
  builder.AssignLengths(lengths);
  AssignCanonicalCodes(symbolCount, lengths, builder.countOfLength, codes);
  return root;
}

}  // namespace tolv::block
