// The bar over a whole job.
#include "window/job_progress.h"

#include <algorithm>
#include <cmath>

namespace tolv {

void JobProgress::Start(std::vector<int64_t> blocks) {
  double known = 0;
  size_t knownCount = 0;
  for (int64_t bytes : blocks) {
    if (bytes <= 0) continue;
    known += static_cast<double>(bytes);
    ++knownCount;
  }
  const double unknownShare = knownCount ? known / static_cast<double>(knownCount) : 1;
  blocks_.clear();
  total_ = 0;
  for (int64_t bytes : blocks) {
    blocks_.push_back(bytes > 0 ? static_cast<double>(bytes) : unknownShare);
    total_ += blocks_.back();
  }
  next_ = 0;
  percent_ = 0;
}

void JobProgress::BlockStarting() {
  if (next_ < blocks_.size()) {
    ++next_;
    percent_ = 0;
  }
}

void JobProgress::BlockPercent(double percent) {
  // A block started again (a chunk asked once more) never moves the bar back.
  percent_ = std::max(percent_, std::clamp(percent, 0.0, 100.0));
}

int JobProgress::Bar() const {
  if (blocks_.empty() || total_ <= 0 || next_ == 0) return 0;
  double done = 0;
  for (size_t i = 0; i + 1 < next_; ++i) done += blocks_[i];
  done += blocks_[next_ - 1] * percent_ / 100.0;
  return static_cast<int>(std::floor(std::min(100.0, 100.0 * done / total_)));
}

}  // namespace tolv
