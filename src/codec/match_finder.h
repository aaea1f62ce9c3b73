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
//
// The search runs once per source byte and its branches depend on the data, so
// the code is shaped for the processor: the forward links of nodes and the
// chain heads share one array (unlinking needs no test for which of the two a
// link is), and the lazy position updates are computed with masks rather than
// branches.
#pragma once

#include <algorithm>
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
  static constexpr uint32_t kHeadBase = 2 * kWindowSize;  // first chain head in next_
  static constexpr int kHeadBits = 16;
  static constexpr uint16_t kPendingUpdate = 0x8000;  // node position still to be refreshed

  // The byte, times an odd number, offsets the node: pairs of similar texts
  // spread over all chains, while the children of neighbouring nodes for one
  // byte (runs of zero bytes in settings data) keep neighbouring heads.
  static uint32_t ChainHead(uint32_t node, uint8_t byte) {
    return kHeadBase + ((node + uint32_t{byte} * 929u) & ((1u << kHeadBits) - 1));
  }
  uint32_t Child(uint32_t node, uint8_t byte);
  void MakeChild(uint32_t node, uint8_t byte, uint32_t child);
  void Unlink(uint32_t node);
  void ReplaceInChain(uint32_t oldNode, uint32_t newNode);
  void Split(uint32_t oldNode, uint32_t position);
  void UpdatePositionsOnInsert(uint32_t node, uint32_t position);
  void UpdatePositionsOnDelete(uint32_t node, uint32_t position, uint32_t newest);
  uint32_t ResumeNode(uint32_t& node);

  // A leaf uses only its parent; inner nodes and roots (a root shares its
  // record with a leaf) also the position of a leaf below them.
  struct Node {
    uint16_t parent;    // 0 = not in the tree
    uint16_t position;  // a leaf position below the node; bit 15 marks a pending update
  };
  struct Shape {
    uint8_t depth;       // a leaf counts as 256
    uint8_t childCount;  // modulo 256, enough for telling 0, 1 and more apart
  };

  uint16_t& Parent(uint32_t node) { return nodes_[node].parent; }
  uint16_t& Position(uint32_t node) { return nodes_[node].position; }
  uint8_t& Depth(uint32_t node) { return shapes_[node].depth; }
  uint8_t& ChildCount(uint32_t node) { return shapes_[node].childCount; }

  uint8_t text_[kTextSize];
  Node nodes_[kTreeNodes];
  Shape shapes_[kNodeSlots];  // inner nodes and roots
  // Forward links: 0..16383 the chain successor of a node (a free inner node's
  // next free node, a replaced leaf's replacement), then the chain heads.
  uint16_t next_[kHeadBase + (1u << kHeadBits)];
  // The index in next_ of the link that points at a node.
  uint32_t previous_[kTreeNodes];
  uint32_t freeList_ = 0;
  uint32_t matchLength_ = 0;
  uint32_t matchPosition_ = 0;
};

// The search runs once per source byte: its steps are inline so that the
// encoder's loop compiles into one piece.

// The child of node for byte, or 0. The node's own number in Parent(0) stops
// the chain walk at its end.
inline uint32_t MatchFinder::Child(uint32_t node, uint8_t byte) {
  uint32_t candidate = next_[ChainHead(node, byte)];
  Parent(0) = static_cast<uint16_t>(node);
  while (Parent(candidate) != node) candidate = next_[candidate];
  return candidate;
}

// Puts child at the front of the chain of (node, byte).
inline void MatchFinder::MakeChild(uint32_t node, uint8_t byte, uint32_t child) {
  const uint32_t head = ChainHead(node, byte);
  const uint32_t oldFront = next_[head];
  next_[head] = static_cast<uint16_t>(child);
  next_[child] = static_cast<uint16_t>(oldFront);
  previous_[oldFront] = child;
  previous_[child] = head;
  Parent(child) = static_cast<uint16_t>(node);
  ++ChildCount(node);
}

// Takes node out of its chain (entry 0 absorbs the writes at a chain's end).
inline void MatchFinder::Unlink(uint32_t node) {
  const uint32_t before = previous_[node];
  const uint32_t after = next_[node];
  next_[before] = static_cast<uint16_t>(after);
  previous_[after] = before;
}

// newNode takes oldNode's place between oldNode's chain neighbours.
inline void MatchFinder::ReplaceInChain(uint32_t oldNode, uint32_t newNode) {
  const uint32_t before = previous_[oldNode];
  const uint32_t after = next_[oldNode];
  previous_[newNode] = before;
  next_[before] = static_cast<uint16_t>(newNode);
  next_[newNode] = static_cast<uint16_t>(after);
  previous_[after] = newNode;
}

// The edge into oldNode splits where the new string departs from it: a new
// inner node at the current match length gets oldNode and the new leaf as its
// children.
inline void MatchFinder::Split(uint32_t oldNode, uint32_t position) {
  const uint32_t node = freeList_;
  freeList_ = next_[node];
  ChildCount(node) = 0;
  ReplaceInChain(oldNode, node);
  Parent(node) = Parent(oldNode);
  Depth(node) = static_cast<uint8_t>(matchLength_);
  Position(node) = static_cast<uint16_t>(position);
  MakeChild(node, text_[matchPosition_ + matchLength_], oldNode);
  MakeChild(node, text_[position + matchLength_], position);
}

// All-ones when condition holds, else 0.
inline uint32_t MaskIf(bool condition) { return 0u - static_cast<uint32_t>(condition); }

// Node positions are refreshed lazily: marked nodes on the path up take the new
// position, and the first unmarked inner node takes it marked. Roots keep 0.
// Two levels are done per round without branches; the pair's stores rewrite
// the upper position unchanged unless the lower node was marked (a root is
// never marked; its Parent() is its leaf's, whose position is only rewritten).
inline void MatchFinder::UpdatePositionsOnInsert(uint32_t node, uint32_t position) {
  for (;;) {
    const uint32_t up = Parent(node);
    const uint32_t lower = Position(node);
    const uint32_t upper = Position(up);
    const uint32_t lowerTaken = (position | (~lower & kPendingUpdate)) & MaskIf(node < kWindowSize);
    const uint32_t upperTaken = (position | (~upper & kPendingUpdate)) & MaskIf(up < kWindowSize);
    Position(node) = static_cast<uint16_t>(lowerTaken);
    Position(up) = static_cast<uint16_t>(upper ^ ((upper ^ upperTaken) & (0u - (lower >> 15))));
    if ((lower & upper & kPendingUpdate) == 0) return;
    node = Parent(up);
  }
}

// When an inner node is merged away, its ancestors' positions must stay the
// positions of leaves that are still present: each marked ancestor and the
// first unmarked inner one take the newest of their own (aged by one pass where
// it lies ahead) and those below; the unmarked one is marked. Roots keep 0.
// Two levels per round, as on insert.
inline void MatchFinder::UpdatePositionsOnDelete(uint32_t node, uint32_t position, uint32_t newest) {
  const auto aged = [position](uint32_t stored) {
    stored &= ~uint32_t{kPendingUpdate};
    return stored >= position ? stored - kWindowSize : stored;
  };
  for (;;) {
    const uint32_t up = Parent(node);
    const uint32_t lower = Position(node);
    const uint32_t upper = Position(up);
    const uint32_t lowerNewest = std::max(newest, aged(lower));
    const uint32_t upperNewest = std::max(lowerNewest, aged(upper));
    const uint32_t lowerTaken =
        (lowerNewest | kWindowSize | (~lower & kPendingUpdate)) & MaskIf(node < kWindowSize);
    const uint32_t upperTaken =
        (upperNewest | kWindowSize | (~upper & kPendingUpdate)) & MaskIf(up < kWindowSize);
    Position(node) = static_cast<uint16_t>(lowerTaken);
    Position(up) = static_cast<uint16_t>(upper ^ ((upper ^ upperTaken) & (0u - (lower >> 15))));
    if ((lower & upper & kPendingUpdate) == 0) return;
    newest = upperNewest;
    node = Parent(up);
  }
}

// After a match of 4 or more at the previous position, the string one byte on
// shares all but its first byte: the search resumes below the deepest node on
// the path of the previous match's successor that is shallower than the
// shortened length. Returns that node; node receives the child to go on with.
inline uint32_t MatchFinder::ResumeNode(uint32_t& node) {
  --matchLength_;
  node = (matchPosition_ + 1) | kWindowSize;
  uint32_t parent;
  // A leaf that was replaced by an equal string forwards to its replacement.
  while ((parent = Parent(node)) == 0) node = next_[node];
  while (Depth(parent) >= matchLength_) {
    node = parent;
    parent = Parent(parent);
  }
  return parent;
}

[[gnu::always_inline]] inline void MatchFinder::Insert(uint32_t position) {
  uint32_t parent;
  uint32_t node;
  if (matchLength_ >= 4) {
    parent = ResumeNode(node);
    UpdatePositionsOnInsert(parent, position);
  } else {
    parent = kRootBase + text_[position];
    node = Child(parent, text_[position + 1]);
    if (node == 0) {
      MakeChild(parent, text_[position + 1], position);
      matchLength_ = 1;
      return;
    }
    matchLength_ = 2;
  }
  for (;;) {
    uint32_t edgeEnd;
    if (node >= kWindowSize) {
      edgeEnd = kMaxMatch;
      matchPosition_ = node;
    } else {
      edgeEnd = Depth(node);
      matchPosition_ = Position(node) & ~uint32_t{kPendingUpdate};
    }
    if (matchPosition_ >= position) matchPosition_ -= kWindowSize;
    const uint8_t* current = text_ + position;
    const uint8_t* earlier = text_ + matchPosition_;
    for (; matchLength_ < edgeEnd; ++matchLength_) {
      if (current[matchLength_] != earlier[matchLength_]) {
        Split(node, position);
        return;
      }
    }
    if (matchLength_ >= kMaxMatch) break;
    Position(node) = static_cast<uint16_t>(position);
    parent = node;
    node = Child(parent, current[matchLength_]);
    if (node == 0) {
      MakeChild(parent, current[matchLength_], position);
      return;
    }
    ++matchLength_;
  }
  // The new string equals the leaf's for all 256 bytes: the new leaf takes the
  // old one's place, and the old leaf forwards to it.
  ReplaceInChain(node, position);
  Parent(position) = static_cast<uint16_t>(parent);
  Parent(node) = 0;
  next_[node] = static_cast<uint16_t>(position);
}

[[gnu::always_inline]] inline void MatchFinder::Delete(uint32_t position) {
  const uint32_t node = Parent(position);
  if (node == 0) return;
  Unlink(position);
  Parent(position) = 0;
  if (node >= kWindowSize || --ChildCount(node) > 1) return;

  // An inner node left with one child is merged away: the child takes its
  // place, and the node returns to the free list.
  uint32_t leafPosition = Position(node) & ~uint32_t{kPendingUpdate};
  if (leafPosition >= position) leafPosition -= kWindowSize;
  UpdatePositionsOnDelete(Parent(node), position, leafPosition);
  const uint32_t onlyChild = Child(node, text_[leafPosition + Depth(node)]);
  Unlink(onlyChild);
  ReplaceInChain(node, onlyChild);
  Parent(onlyChild) = Parent(node);
  Parent(node) = 0;
  next_[node] = static_cast<uint16_t>(freeList_);
  freeList_ = node;
}

}  // namespace tolv::block
