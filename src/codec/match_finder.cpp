#include "codec/match_finder.h"

#include <cstring>

namespace tolv::block {

void MatchFinder::Reset() {
  std::memset(text_, 0, sizeof text_);
  std::memset(nodes_, 0, sizeof nodes_);
  std::memset(shapes_, 0, sizeof shapes_);
  std::memset(next_, 0, sizeof next_);
  // Roots: depth 1, position 0 (never marked for update, so position updates
  // stop there).
  for (uint32_t root = kRootBase; root < kNodeSlots; ++root) Depth(root) = 1;
  // Free list of inner nodes 1..8191, ended by 0.
  for (uint32_t node = 1; node < kWindowSize - 1; ++node) next_[node] = static_cast<uint16_t>(node + 1);
  freeList_ = 1;
  matchLength_ = 0;
  matchPosition_ = 0;
}

}  // namespace tolv::block
