#include "reference_encoder.h"

#include <algorithm>
#include <cstring>

namespace tolv::test {
namespace {

constexpr uint32_t kWindow = 8192;
constexpr uint32_t kMaxMatch = 256;
constexpr uint32_t kRoot = 8192;    // root of byte b: 8192 + b
constexpr uint32_t kHeads = 16384;  // chain head of (node, byte): 16384 + node + 16 * byte
constexpr uint32_t kMark = 0x8000;  // position still to be passed up

class ReferenceTree {
 public:
  ReferenceTree()
      : text(2 * kWindow + kMaxMatch, 0),
        parent(2 * kWindow, 0),
        next(28912, 0),
        prev(2 * kWindow, 0),
        position(kWindow + 256, 0),
        depth(kWindow + 256, 0),
        childCount(kWindow + 256, 0) {
    for (uint32_t b = 0; b < 256; ++b) depth[kRoot + b] = 1;
    for (uint32_t n = 1; n < kWindow - 1; ++n) next[n] = n + 1;
    freeList = 1;
  }

  std::vector<uint8_t> text;
  uint32_t matchLength = 0;
  uint32_t matchPosition = 0;

  void Insert(uint32_t p) {
    uint32_t q, r;
    if (matchLength >= 4) {
      --matchLength;
      r = (matchPosition + 1) | kWindow;
      while (parent[r] == 0) r = next[r];
      q = parent[r];
      while (depth[q] >= matchLength) r = q, q = parent[q];
      UpdateOnInsert(q, p);
    } else {
      q = kRoot + text[p];
      r = Child(q, text[p + 1]);
      if (r == 0) {
        MakeChild(q, text[p + 1], p);
        matchLength = 1;
        return;
      }
      matchLength = 2;
    }
    for (;;) {
      const uint32_t edgeEnd = r >= kWindow ? kMaxMatch : depth[r];
      matchPosition = r >= kWindow ? r : position[r] & ~kMark;
      if (matchPosition >= p) matchPosition -= kWindow;
      for (; matchLength < edgeEnd; ++matchLength) {
        if (text[p + matchLength] != text[matchPosition + matchLength]) return Split(r, p);
      }
      if (matchLength >= kMaxMatch) break;
      position[r] = static_cast<uint16_t>(p);
      q = r;
      r = Child(q, text[p + matchLength]);
      if (r == 0) return MakeChild(q, text[p + matchLength], p);
      ++matchLength;
    }
    // p's string equals leaf r's: p takes r's place, r forwards to p.
    TakePlace(r, p);
    parent[p] = q;
    parent[r] = 0;
    next[r] = p;
  }

  void Delete(uint32_t p) {
    if (parent[p] == 0) return;
    next[prev[p]] = next[p];
    prev[next[p]] = prev[p];
    const uint32_t r = parent[p];
    parent[p] = 0;
    if (r >= kRoot || --childCount[r] > 1) return;
    uint32_t t = position[r] & ~kMark;
    if (t >= p) t -= kWindow;
    UpdateOnDelete(parent[r], p, t);
    const uint32_t s = Child(r, text[t + depth[r]]);
    next[prev[s]] = next[s];
    prev[next[s]] = prev[s];
    TakePlace(r, s);
    parent[s] = parent[r];
    parent[r] = 0;
    next[r] = freeList;
    freeList = r;
  }

 private:
  std::vector<uint32_t> parent, next, prev, position, depth, childCount;
  uint32_t freeList = 0;

  uint32_t Child(uint32_t q, uint8_t c) {
    uint32_t r = next[kHeads + q + 16 * c];
    parent[0] = q;
    while (parent[r] != q) r = next[r];
    return r;
  }
  void MakeChild(uint32_t q, uint8_t c, uint32_t r) {
    const uint32_t head = kHeads + q + 16 * c;
    const uint32_t front = next[head];
    next[head] = r;
    next[r] = front;
    prev[front] = r;
    prev[r] = head;
    parent[r] = q;
    ++childCount[q];
  }
  void TakePlace(uint32_t old, uint32_t fresh) {
    next[prev[old]] = fresh;
    prev[next[old]] = fresh;
    prev[fresh] = prev[old];
    next[fresh] = next[old];
  }
  void Split(uint32_t r, uint32_t p) {
    const uint32_t n = freeList;
    freeList = next[n];
    childCount[n] = 0;
    TakePlace(r, n);
    parent[n] = parent[r];
    depth[n] = matchLength;
    position[n] = p;
    MakeChild(n, text[matchPosition + matchLength], r);
    MakeChild(n, text[p + matchLength], p);
  }
  void UpdateOnInsert(uint32_t q, uint32_t p) {
    while (position[q] & kMark) {
      position[q] = p;
      q = parent[q];
    }
    if (q < kWindow) position[q] = p | kMark;
  }
  void UpdateOnDelete(uint32_t q, uint32_t p, uint32_t s) {
    uint32_t u;
    while ((u = position[q]) & kMark) {
      u &= ~kMark;
      if (u >= p) u -= kWindow;
      s = std::max(s, u);
      position[q] = s | kWindow;
      q = parent[q];
    }
    if (q < kWindow) {
      if (u >= p) u -= kWindow;
      s = std::max(s, u);
      position[q] = s | kWindow | kMark;
    }
  }
};

// Codes go into the code buffer in groups of eight behind a flag byte (a
// literal takes one byte, a match three); a group that starts with 16360 or
// more bytes in use starts a new block.
class BlockCounter {
 public:
  void Add(bool isMatch) {
    if (codesInGroup == 0) {
      if (used >= 16360) {
        counts.push_back(codesInBlock);
        used = codesInBlock = 0;
      }
      ++used;
    }
    codesInGroup = (codesInGroup + 1) % 8;
    used += isMatch ? 3 : 1;
    ++codesInBlock;
  }
  std::vector<uint32_t> Finish() {
    counts.push_back(codesInBlock);
    return counts;
  }

 private:
  std::vector<uint32_t> counts;
  uint32_t used = 0, codesInBlock = 0, codesInGroup = 0;
};

}  // namespace

ReferenceEncoding ReferenceEncode(const std::vector<uint8_t>& source) {
  ReferenceTree tree;
  size_t read = 0;
  const auto readInto = [&](uint32_t at, size_t maxCount) {
    const size_t count = std::min(maxCount, source.size() - read);
    std::copy_n(source.begin() + static_cast<ptrdiff_t>(read), count, tree.text.begin() + at);
    read += count;
    return static_cast<uint32_t>(count);
  };
  uint32_t remaining = readInto(kWindow, kWindow + kMaxMatch);
  uint32_t p = kWindow;
  const auto advance = [&] {
    --remaining;
    if (++p == 2 * kWindow) {
      std::memmove(tree.text.data(), tree.text.data() + kWindow, kWindow + kMaxMatch);
      remaining += readInto(kWindow + kMaxMatch, kWindow);
      p = kWindow;
    }
    tree.Delete(p);
    tree.Insert(p);
  };

  ReferenceEncoding result;
  BlockCounter blocks;
  tree.Insert(p);
  tree.matchLength = std::min(tree.matchLength, remaining);
  while (remaining > 0) {
    const uint32_t length = tree.matchLength, from = tree.matchPosition;
    advance();
    tree.matchLength = std::min(tree.matchLength, remaining);
    if (tree.matchLength > length || length < 3) {
      result.tokens.push_back(Lit(tree.text[p - 1]));
      blocks.Add(false);
      continue;
    }
    result.tokens.push_back(Match(length, (p - from - 2) & (kWindow - 1)));
    blocks.Add(true);
    for (uint32_t k = 1; k < length; ++k) advance();
    tree.matchLength = std::min(tree.matchLength, remaining);
  }
  result.blockCodeCounts = blocks.Finish();
  return result;
}

}  // namespace tolv::test
