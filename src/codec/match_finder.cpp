#include "codec/match_finder.h"

#include <algorithm>
#include <cstring>

namespace tolv::block {

void MatchFinder::Reset() {
  std::memset(text_, 0, sizeof text_);
  std::memset(childCount_, 0, sizeof childCount_);
  std::memset(parent_, 0, sizeof parent_);
  std::memset(previous_, 0, sizeof previous_);
  std::memset(depth_, 0, sizeof depth_);
  std::memset(nodePosition_, 0, sizeof nodePosition_);
  // Roots: depth 1, position 0 (never marked for update, so position updates
  // stop there).
  std::fill(depth_ + kRootBase, depth_ + kNodeSlots, uint8_t{1});
  // Free list of inner nodes 1..8191; empty chains.
  for (uint32_t node = 1; node < kWindowSize - 1; ++node) next_[node] = static_cast<uint16_t>(node + 1);
  next_[0] = 0;
  next_[kWindowSize - 1] = 0;
  std::fill(next_ + kWindowSize, next_ + kLinkSlots, uint16_t{0});
  freeList_ = 1;
  matchLength_ = 0;
  matchPosition_ = 0;
}

// The child of node for byte, or 0. The node's own number in parent_[0] stops
// the chain walk at its end.
uint32_t MatchFinder::Child(uint32_t node, uint8_t byte) {
  uint32_t candidate = next_[ChainHead(node, byte)];
  parent_[0] = static_cast<uint16_t>(node);
  while (parent_[candidate] != node) candidate = next_[candidate];
  return candidate;
}

// Puts child at the front of the chain of (node, byte).
void MatchFinder::MakeChild(uint32_t node, uint8_t byte, uint32_t child) {
  const uint32_t head = ChainHead(node, byte);
  const uint32_t oldFront = next_[head];
  next_[head] = static_cast<uint16_t>(child);
  next_[child] = static_cast<uint16_t>(oldFront);
  previous_[oldFront] = static_cast<uint16_t>(child);
  previous_[child] = static_cast<uint16_t>(head);
  parent_[child] = static_cast<uint16_t>(node);
  ++childCount_[node];
}

// newNode takes oldNode's place between oldNode's chain neighbours.
void MatchFinder::ReplaceInChain(uint32_t oldNode, uint32_t newNode) {
  const uint32_t before = previous_[oldNode];
  const uint32_t after = next_[oldNode];
  previous_[newNode] = static_cast<uint16_t>(before);
  next_[before] = static_cast<uint16_t>(newNode);
  next_[newNode] = static_cast<uint16_t>(after);
  previous_[after] = static_cast<uint16_t>(newNode);
}

// The edge into oldNode splits where the new string departs from it: a new
// inner node at the current match length gets oldNode and the new leaf as its
// children.
void MatchFinder::Split(uint32_t oldNode, uint32_t position) {
  const uint32_t node = freeList_;
  freeList_ = next_[node];
  childCount_[node] = 0;
  ReplaceInChain(oldNode, node);
  parent_[node] = parent_[oldNode];
  depth_[node] = static_cast<uint8_t>(matchLength_);
  nodePosition_[node] = static_cast<uint16_t>(position);
  MakeChild(node, text_[matchPosition_ + matchLength_], oldNode);
  MakeChild(node, text_[position + matchLength_], position);
}

// Node positions are refreshed lazily: marked nodes on the path up take the new
// position, and the first unmarked inner node is marked.
void MatchFinder::UpdatePositionsOnInsert(uint32_t node, uint32_t position) {
  while (nodePosition_[node] & kPendingUpdate) {
    nodePosition_[node] = static_cast<uint16_t>(position);
    node = parent_[node];
  }
  if (node < kWindowSize) nodePosition_[node] = static_cast<uint16_t>(position | kPendingUpdate);
}

// When an inner node is merged away, its ancestors' positions must stay the
// positions of leaves that are still present: each takes the newest of its
// own (aged by one pass where it lies ahead) and the merged node's.
void MatchFinder::UpdatePositionsOnDelete(uint32_t node, uint32_t position, uint32_t newest) {
  uint32_t stored;
  while ((stored = nodePosition_[node]) & kPendingUpdate) {
    stored &= ~uint32_t{kPendingUpdate};
    if (stored >= position) stored -= kWindowSize;
    newest = std::max(newest, stored);
    nodePosition_[node] = static_cast<uint16_t>(newest | kWindowSize);
    node = parent_[node];
  }
  if (node < kWindowSize) {
    if (stored >= position) stored -= kWindowSize;
    newest = std::max(newest, stored);
    nodePosition_[node] = static_cast<uint16_t>(newest | kWindowSize | kPendingUpdate);
  }
}

// After a match of 4 or more at the previous position, the string one byte on
// shares all but its first byte: the search resumes below the deepest node on
// the path of the previous match's successor that is shallower than the
// shortened length. Returns that node; node receives the child to go on with.
uint32_t MatchFinder::ResumeNode(uint32_t& node) {
  --matchLength_;
  node = (matchPosition_ + 1) | kWindowSize;
  uint32_t parent;
  // A leaf that was replaced by an equal string forwards to its replacement.
  while ((parent = parent_[node]) == 0) node = next_[node];
  while (depth_[parent] >= matchLength_) {
    node = parent;
    parent = parent_[parent];
  }
  return parent;
}

void MatchFinder::Insert(uint32_t position) {
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
      edgeEnd = depth_[node];
      matchPosition_ = nodePosition_[node] & ~uint32_t{kPendingUpdate};
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
    nodePosition_[node] = static_cast<uint16_t>(position);
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
  parent_[position] = static_cast<uint16_t>(parent);
  parent_[node] = 0;
  next_[node] = static_cast<uint16_t>(position);
}

void MatchFinder::Delete(uint32_t position) {
  if (parent_[position] == 0) return;
  const uint32_t before = previous_[position];
  const uint32_t after = next_[position];
  next_[before] = static_cast<uint16_t>(after);
  previous_[after] = static_cast<uint16_t>(before);
  const uint32_t node = parent_[position];
  parent_[position] = 0;
  if (node >= kWindowSize || --childCount_[node] > 1) return;

  // An inner node left with one child is merged away: the child takes its
  // place, and the node returns to the free list.
  uint32_t leafPosition = nodePosition_[node] & ~uint32_t{kPendingUpdate};
  if (leafPosition >= position) leafPosition -= kWindowSize;
  UpdatePositionsOnDelete(parent_[node], position, leafPosition);
  const uint32_t onlyChild = Child(node, text_[leafPosition + depth_[node]]);
  const uint32_t childBefore = previous_[onlyChild];
  const uint32_t childAfter = next_[onlyChild];
  next_[childBefore] = static_cast<uint16_t>(childAfter);
  previous_[childAfter] = static_cast<uint16_t>(childBefore);
  ReplaceInChain(node, onlyChild);
  parent_[onlyChild] = parent_[node];
  parent_[node] = 0;
  next_[node] = static_cast<uint16_t>(freeList_);
  freeList_ = node;
}

}  // namespace tolv::block
