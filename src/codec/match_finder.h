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
  static constexpr uint32_t kHashBase = 2 * kWindowSize;  // first chain head
  static constexpr int kHashBits = 15;
  static_assert(kHashBase + (1 << kHashBits) <= 65536, "a chain head must fit a backward link");
  static constexpr uint16_t kPendingUpdate = 0x8000;  // node position still to be refreshed

  // The byte, times an odd number, offsets the node: pairs of similar texts
  // spread over all chains, while the children of neighbouring nodes for one
  // byte (runs of zero bytes in settings data) keep neighbouring heads. Heads
  // must stay below 65536 to fit a backward link.
  static uint32_t ChainHead(uint32_t node, uint8_t byte) {
    return kHashBase + ((node + uint32_t{byte} * 929u) & ((1u << kHashBits) - 1));
  }
  uint32_t Child(uint32_t node, uint8_t byte);
  void MakeChild(uint32_t node, uint8_t byte, uint32_t child);
  void ReplaceInChain(uint32_t oldNode, uint32_t newNode);
  void Split(uint32_t oldNode, uint32_t position);
  void UpdatePositionsOnInsert(uint32_t node, uint32_t position);
  void UpdatePositionsOnDelete(uint32_t deletedNode, uint32_t position, uint32_t leafPosition);
  uint32_t ResumeNode(uint32_t& node);

  // Links of inner nodes and leaves, and the position of inner nodes and
  // roots (a root shares its record with a leaf, which has no position).
  struct Node {
    uint16_t parent;    // 0 = not in the tree
    uint16_t next;      // chain link; a free inner node's next free node
    uint16_t previous;  // chain link; the front of a chain holds its head
    uint16_t position;  // a leaf position below the node; bit 15 marks a pending update
  };
  struct Shape {
    uint8_t depth;       // a leaf counts as 256
    uint8_t childCount;  // modulo 256, enough for telling 0, 1 and more apart
  };

  uint16_t& Parent(uint32_t node) { return nodes_[node].parent; }
  uint16_t& Previous(uint32_t node) { return nodes_[node].previous; }
  uint16_t& Position(uint32_t node) { return nodes_[node].position; }
  uint8_t& Depth(uint32_t node) { return shapes_[node].depth; }
  uint8_t& ChildCount(uint32_t node) { return shapes_[node].childCount; }
  uint16_t& Head(uint32_t head) { return heads_[head - kHashBase]; }
  // The forward link of a node or of a chain head.
  uint16_t& Next(uint32_t index) {
    return index < kHashBase ? nodes_[index].next : heads_[index - kHashBase];
  }

  uint8_t text_[kTextSize];
  Node nodes_[kTreeNodes];
  Shape shapes_[kNodeSlots];  // inner nodes and roots
  uint16_t heads_[1 << kHashBits];
  uint32_t freeList_ = 0;
  uint32_t matchLength_ = 0;
  uint32_t matchPosition_ = 0;
};

// The search runs once per source byte: its steps are inline so that the
// encoder's loop compiles into one piece.

// The child of node for byte, or 0. The node's own number in Parent(0) stops
// the chain walk at its end.
inline uint32_t MatchFinder::Child(uint32_t node, uint8_t byte) {
  uint32_t candidate = Head(ChainHead(node, byte));
  Parent(0) = static_cast<uint16_t>(node);
  while (Parent(candidate) != node) candidate = nodes_[candidate].next;
  return candidate;
}

// Puts child at the front of the chain of (node, byte).
inline void MatchFinder::MakeChild(uint32_t node, uint8_t byte, uint32_t child) {
  const uint32_t head = ChainHead(node, byte);
  const uint32_t oldFront = Head(head);
  Head(head) = static_cast<uint16_t>(child);
  nodes_[child].next = static_cast<uint16_t>(oldFront);
  Previous(oldFront) = static_cast<uint16_t>(child);
  Previous(child) = static_cast<uint16_t>(head);
  Parent(child) = static_cast<uint16_t>(node);
  ++ChildCount(node);
}

// newNode takes oldNode's place between oldNode's chain neighbours.
inline void MatchFinder::ReplaceInChain(uint32_t oldNode, uint32_t newNode) {
  const uint32_t before = Previous(oldNode);
  const uint32_t after = nodes_[oldNode].next;
  Previous(newNode) = static_cast<uint16_t>(before);
  Next(before) = static_cast<uint16_t>(newNode);
  nodes_[newNode].next = static_cast<uint16_t>(after);
  Previous(after) = static_cast<uint16_t>(newNode);
}

// The edge into oldNode splits where the new string departs from it: a new
// inner node at the current match length gets oldNode and the new leaf as its
// children.
inline void MatchFinder::Split(uint32_t oldNode, uint32_t position) {
  const uint32_t node = freeList_;
  freeList_ = nodes_[node].next;
  ChildCount(node) = 0;
  ReplaceInChain(oldNode, node);
  Parent(node) = Parent(oldNode);
  Depth(node) = static_cast<uint8_t>(matchLength_);
  Position(node) = static_cast<uint16_t>(position);
  MakeChild(node, text_[matchPosition_ + matchLength_], oldNode);
  MakeChild(node, text_[position + matchLength_], position);
}

// Node positions are refreshed lazily: marked nodes on the path up take the new
// position, and the first unmarked inner node is marked.
inline void MatchFinder::UpdatePositionsOnInsert(uint32_t node, uint32_t position) {
  while (Position(node) & kPendingUpdate) {
    Position(node) = static_cast<uint16_t>(position);
    node = Parent(node);
  }
  if (node < kWindowSize) Position(node) = static_cast<uint16_t>(position | kPendingUpdate);
}

// When an inner node is merged away, its ancestors' positions must stay the
// positions of leaves that are still present: each takes the newest of its
// own (aged by one pass where it lies ahead) and the merged node's.
inline void MatchFinder::UpdatePositionsOnDelete(uint32_t node, uint32_t position, uint32_t newest) {
  uint32_t stored;
  while ((stored = Position(node)) & kPendingUpdate) {
    stored &= ~uint32_t{kPendingUpdate};
    if (stored >= position) stored -= kWindowSize;
    newest = std::max(newest, stored);
    Position(node) = static_cast<uint16_t>(newest | kWindowSize);
    node = Parent(node);
  }
  if (node < kWindowSize) {
    if (stored >= position) stored -= kWindowSize;
    newest = std::max(newest, stored);
    Position(node) = static_cast<uint16_t>(newest | kWindowSize | kPendingUpdate);
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
  while ((parent = Parent(node)) == 0) node = nodes_[node].next;
  while (Depth(parent) >= matchLength_) {
    node = parent;
    parent = Parent(parent);
  }
  return parent;
}

inline void MatchFinder::Insert(uint32_t position) {
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
  nodes_[node].next = static_cast<uint16_t>(position);
}

inline void MatchFinder::Delete(uint32_t position) {
  if (Parent(position) == 0) return;
  const uint32_t before = Previous(position);
  const uint32_t after = nodes_[position].next;
  Next(before) = static_cast<uint16_t>(after);
  Previous(after) = static_cast<uint16_t>(before);
  const uint32_t node = Parent(position);
  Parent(position) = 0;
  if (node >= kWindowSize || --ChildCount(node) > 1) return;

  // An inner node left with one child is merged away: the child takes its
  // place, and the node returns to the free list.
  uint32_t leafPosition = Position(node) & ~uint32_t{kPendingUpdate};
  if (leafPosition >= position) leafPosition -= kWindowSize;
  UpdatePositionsOnDelete(Parent(node), position, leafPosition);
  const uint32_t onlyChild = Child(node, text_[leafPosition + Depth(node)]);
  const uint32_t childBefore = Previous(onlyChild);
  const uint32_t childAfter = nodes_[onlyChild].next;
  Next(childBefore) = static_cast<uint16_t>(childAfter);
  Previous(childAfter) = static_cast<uint16_t>(childBefore);
  ReplaceInChain(node, onlyChild);
  Parent(onlyChild) = Parent(node);
  Parent(node) = 0;
  nodes_[node].next = static_cast<uint16_t>(freeList_);
  freeList_ = node;
}

}  // namespace tolv::block
