// Longest-match search of the compressor (internal to the codec): a
// path-compressed search tree over the strings that start at the last 8192
// text positions, each up to 256 bytes long.
//
// Node numbers: 0 is none; 1..8191 are inner nodes (from a free list); 8192 + b
// is the root of the strings starting with byte b; 8192..16383 are also the
// leaves, one per text position (roots are only ever parents and leaves only
// children, so the ranges may overlap). The children of a node are found
// through doubly linked chains, one per hash value of (node, byte); a node has
// at most one child per byte, so the hash affects speed only, never which
// match is found.
#pragma once

#include <cstdint>

#include "codec/block_format.h"

namespace tolv::block {

class MatchFinder {
 public:
  // Text buffer: the 8192 window bytes before the current position, the
  // positions 8192..16383 themselves and 256 bytes of look-ahead.
  static constexpr int kTextSize = 2 * kWindowSize + kMaxMatch;  // 16640
  static constexpr uint32_t kFirstPosition = kWindowSize;        // 8192
  static constexpr uint32_t kEndPosition = 2 * kWindowSize;      // 16384

  // Clears the text buffer to zeros and empties the tree.
  void Reset();

  uint8_t* text() { return text_; }

  // Finds the longest match for the string at position (up to 256 bytes,
  // compared against the text buffer whatever lies beyond the source's end) and
  // enters position as a leaf. matchLength() must hold the previous position's
  // match length on entry: from 4 on, the search resumes where that one ended.
  void Insert(uint32_t position);
  // Removes the leaf of position (the string 8192 positions back) if present.
  void Delete(uint32_t position);

  uint32_t matchLength() const { return matchLength_; }
  void set_matchLength(uint32_t length) { matchLength_ = length; }
  // Text position of the match found by the last Insert (may be below 8192
  // for a string of the previous pass of the buffer).
  uint32_t matchPosition() const { return matchPosition_; }

 private:
  static constexpr uint32_t kRootBase = kWindowSize;      // root of byte b: 8192 + b
  static constexpr int kNodeSlots = kWindowSize + 256;    // inner nodes and roots
  static constexpr int kTreeNodes = 2 * kWindowSize;      // inner nodes and leaves
  static constexpr uint32_t kHashBase = 2 * kWindowSize;  // first chain head
  static constexpr int kHashBits = 15;
  static constexpr int kLinkSlots = kHashBase + (1 << kHashBits);
  static constexpr uint16_t kPendingUpdate = 0x8000;  // node position still to be refreshed

  // Multiplicative hashing spreads the (node, byte) pairs of similar texts
  // over all chains; heads must stay below 65536 to fit a backward link.
  static uint32_t ChainHead(uint32_t node, uint8_t byte) {
    return kHashBase + (((node << 8 | byte) * 0x9E3779B1u) >> (32 - kHashBits));
  }
  uint32_t Child(uint32_t node, uint8_t byte);
  void MakeChild(uint32_t node, uint8_t byte, uint32_t child);
  void ReplaceInChain(uint32_t oldNode, uint32_t newNode);
  void Split(uint32_t oldNode, uint32_t position);
  void UpdatePositionsOnInsert(uint32_t node, uint32_t position);
  void UpdatePositionsOnDelete(uint32_t deletedNode, uint32_t position, uint32_t leafPosition);
  uint32_t ResumeNode(uint32_t& node);

  uint8_t text_[kTextSize];
  uint8_t depth_[kNodeSlots];        // inner nodes and roots; a leaf counts as 256
  uint16_t childCount_[kNodeSlots];  // inner nodes and roots
  uint16_t nodePosition_[kNodeSlots];
  uint16_t parent_[kTreeNodes];  // 0 = not in the tree
  uint16_t previous_[kTreeNodes];
  uint16_t next_[kLinkSlots];  // chain links; a free inner node's next free node
  static_assert(kLinkSlots <= 65536);
  uint32_t freeList_ = 0;
  uint32_t matchLength_ = 0;
  uint32_t matchPosition_ = 0;
};

}  // namespace tolv::block
