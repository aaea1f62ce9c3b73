// Progress over a whole job of several blocks, perhaps over several receiver
// sessions (a restore sends, then reads back): each block's share of the
// bar is its size on the wire, so that the bar only ever moves forward.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolv {

class JobProgress {
 public:
  // The blocks the job will move, in order, with their planned sizes in
  // bytes (0: not known beforehand; it gets the share of the average
  // known block). Resets the bar to 0.
  void Start(std::vector<int64_t> blocks);
  void Stop() { blocks_.clear(); }
  bool Active() const { return !blocks_.empty(); }
  // The next block starts. Blocks beyond the plan (a session started
  // again) count as the last one.
  void BlockStarting();
  // The link's percentage of the block under way (status 6).
  void BlockPercent(double percent);
  // The bar's position over the whole job, 0 to 100.
  int Bar() const;

 private:
  std::vector<double> blocks_;  // each block's share
  double total_ = 0;
  size_t next_ = 0;     // blocks started so far
  double percent_ = 0;  // of the block under way
};

}  // namespace tolv
