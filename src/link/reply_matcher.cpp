// The rules are stated in reply_matcher.h.

#include "link/reply_matcher.h"

#include <algorithm>

namespace tolv {

void ReplyMatcher::StartSession() { *this = ReplyMatcher(); }

void ReplyMatcher::AbandonBlock() {
  unknownOwed_ = true;
  chunkOpen_ = false;
}

void ReplyMatcher::LineWentQuiet() {
  unknownOwed_ = false;
  owed_.clear();
  // The 07s still unanswered stay counted: a size reply that comes now is not
  // the one to learn the numbering from.
}

void ReplyMatcher::Learn(Numbering* numbering, bool echoed) {
  if (*numbering == Numbering::Unknown) *numbering = echoed ? Numbering::Echoed : Numbering::Own;
}

// --- Block size ---------------------------------------------------------------

void ReplyMatcher::SizeRequested(uint8_t sequence) {
  sizeSequence_ = sequence;
  ++sizeRepliesDue_;
}

ReplyMatcher::Verdict ReplyMatcher::OnSizeReply(uint8_t sequence) {
  const bool echoed = sequence == sizeSequence_;
  // While only one 07 waits for its answer, this reply can answer only that
  // one: it shows how the receiver numbers them.
  if (sizeRepliesDue_ == 1) Learn(&sizeNumbering_, echoed);
  sizeRepliesDue_ = std::max(sizeRepliesDue_ - 1, 0);
  if (!echoed && sizeNumbering_ == Numbering::Echoed) return Verdict::EarlierRequest;
  // The 07 went out after every earlier request, so every earlier reply came
  // before this one.
  owed_.clear();
  return Verdict::Take;
}

// --- Chunks ---------------------------------------------------------------------

bool ReplyMatcher::NeedsQuietLine() const {
  // The counts owed fall, so the last is the lowest; below 1 nothing can go.
  return unknownOwed_ || (!owed_.empty() && owed_.back().count <= 1);
}

void ReplyMatcher::BeginChunk(int32_t remaining, int32_t limit) {
  for (Owed& request : owed_) request.currentChunk = false;
  nextCount_ = std::min(remaining, limit);
  if (!owed_.empty()) nextCount_ = std::min(nextCount_, owed_.back().count - 1);
  smallestCount_ = nextCount_;
  sequences_.clear();
  chunkOpen_ = true;
}

void ReplyMatcher::ChunkRequested(uint8_t sequence) {
  sequences_.push_back(sequence);
  owed_.push_back({nextCount_, true});
  smallestCount_ = std::min(smallestCount_, nextCount_);
  // A repeat asks for one byte less, so that its reply is told from the one before.
  if (nextCount_ > 1) --nextCount_;
}

std::deque<ReplyMatcher::Owed>::iterator ReplyMatcher::Named(uint32_t length) {
  return std::find_if(owed_.begin(), owed_.end(), [length](const Owed& request) {
    return static_cast<uint32_t>(request.count) == length;
  });
}

ReplyMatcher::Verdict ReplyMatcher::OnDataReply(uint8_t sequence, uint32_t length, bool damaged) {
  if (damaged) return Verdict::Damaged;
  // A chunk asked for once with nothing else owed: any reply answers that
  // request, and shows how the receiver numbers its data replies.
  const bool alone = chunkOpen_ && owed_.size() == 1 && owed_.front().currentChunk;
  if (alone) Learn(&dataNumbering_, sequence == sequences_.front());
  auto named = Named(length);
  if (named == owed_.end()) {
    if (!alone || length >= static_cast<uint32_t>(owed_.front().count)) return Verdict::WrongLength;
    named = owed_.begin();  // a part of the chunk
  }
  const bool current = chunkOpen_ && named->currentChunk;
  if (current && !AnswersChunk(sequence)) return Verdict::EarlierRequest;
  // By the order, every request before the one answered is answered or lost.
  owed_.erase(owed_.begin(), named + 1);
  if (!current) return Verdict::Duplicate;
  chunkOpen_ = false;
  storeCount_ = std::min(length, static_cast<uint32_t>(smallestCount_));
  return Verdict::Take;
}

bool ReplyMatcher::AnswersChunk(uint8_t sequence) const {
  const Numbering numbering = dataNumbering_ != Numbering::Unknown ? dataNumbering_ : sizeNumbering_;
  return numbering != Numbering::Echoed ||
         std::find(sequences_.begin(), sequences_.end(), sequence) != sequences_.end();
}

}  // namespace tolv
