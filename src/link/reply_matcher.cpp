// The rules are stated in reply_matcher.h.

#include "link/reply_matcher.h"

#include <algorithm>

namespace tolv {

void ReplyMatcher::StartSession(uint64_t windowMs) {
  *this = ReplyMatcher();
  windowMs_ = windowMs;
}

void ReplyMatcher::AbandonBlock() {
  staleReplies_ = true;
  chunkOpen_ = false;
}

void ReplyMatcher::LineWentQuiet() {
  staleReplies_ = false;
  live_.clear();
  sizeAsked_ = false;
  // The 07s still unanswered stay counted: a size reply that comes now is not
  // the one to learn the numbering from.
}

void ReplyMatcher::Learn(Numbering* numbering, bool echoed) {
  if (*numbering == Numbering::Unknown) *numbering = echoed ? Numbering::Echoed : Numbering::Own;
}

// --- Block size ---------------------------------------------------------------

uint64_t ReplyMatcher::SizeRequestWaitMs(uint64_t nowMs) const {
  if (!sizeAsked_ || nowMs - sizeSentMs_ >= windowMs_) return 0;
  return windowMs_ - (nowMs - sizeSentMs_);
}

void ReplyMatcher::SizeRequested(uint8_t sequence, uint64_t nowMs) {
  sizeSequence_ = sequence;
  sizeAsked_ = true;
  sizeSentMs_ = nowMs;
  ++sizeRepliesDue_;
}

ReplyMatcher::Verdict ReplyMatcher::OnSizeReply(uint8_t sequence) {
  const bool echoed = sequence == sizeSequence_;
  // While only one 07 waits for its answer, this reply can answer only that
  // one: it shows how the receiver numbers them.
  if (sizeRepliesDue_ == 1) Learn(&sizeNumbering_, echoed);
  sizeRepliesDue_ = std::max(sizeRepliesDue_ - 1, 0);
  if (!echoed && sizeNumbering_ == Numbering::Echoed) return Verdict::EarlierRequest;
  return Verdict::Take;
}

// --- Chunks ---------------------------------------------------------------------

void ReplyMatcher::Prune(uint64_t nowMs) {
  // Requests leave the window in the order sent; the chunk under way keeps its
  // own. A request no reply has named may still be answered later than the
  // window (its receiver was slow, not silent): it stays until a quiet line.
  std::erase_if(live_, [&](const Request& request) {
    return !Current(request) && !request.mayComeLate && nowMs - request.sentMs >= windowMs_;
  });
}

int32_t ReplyMatcher::ExpectedLength(const Request& request) const {
  if (request.replyLength >= 0) return request.replyLength;
  if (answersAtMost_ > 0) return std::min(request.count, answersAtMost_);
  return request.count;
}

bool ReplyMatcher::MayAnswer(const Request& request, uint32_t length) const {
  const auto l = static_cast<int64_t>(length);
  if (request.replyLength >= 0) return l == request.replyLength;
  if (answersAtMost_ > 0) return l == std::min(request.count, answersAtMost_);
  // No bytes answer only a request for none.
  if (l == 0) return request.count == 0;
  // A receiver's limit is at least every length it has answered.
  return l == request.count || (l < request.count && l >= answersAtLeast_);
}

bool ReplyMatcher::CountFree(int32_t count, bool shareWithChunk) const {
  return std::none_of(live_.begin(), live_.end(), [&](const Request& request) {
    return (request.count == count || ExpectedLength(request) == count) &&
           !(shareWithChunk && Current(request));
  });
}

bool ReplyMatcher::AllRepliesIn(uint64_t nowMs) {
  Prune(nowMs);
  return std::all_of(live_.begin(), live_.end(),
                     [&](const Request& request) { return Current(request) || !request.owed; });
}

void ReplyMatcher::OwedRepliesLost() {
  for (Request& request : live_) request.owed = request.owed && Current(request);
}

void ReplyMatcher::LateRepliesLost() {
  for (Request& request : live_) request.mayComeLate = request.mayComeLate && Current(request);
}

void ReplyMatcher::BeginChunk(int32_t remaining, int32_t limit) {
  ++chunk_;
  chunkOpen_ = true;
  remaining_ = remaining;
  limit_ = limit;
  chunkRequests_ = 0;
}

int32_t ReplyMatcher::FullCount() const {
  const int32_t count = std::min(remaining_, limit_);
  return answersAtMost_ > 0 ? std::min(count, answersAtMost_) : count;
}

int32_t ReplyMatcher::NextRequestCount(uint64_t nowMs) {
  Prune(nowMs);
  const int32_t full = FullCount();
  // The largest count whose reply no live request may share; else one that
  // only the chunk's own requests share (they all ask for its offset, so a
  // reply to any of them is the chunk's).
  for (const bool share : {false, true})
    for (int32_t count = full; count >= std::min(full, 1); --count)
      if (CountFree(count, share)) return count;
  return -1;
}

void ReplyMatcher::ChunkRequested(uint8_t sequence, int32_t count, uint64_t nowMs) {
  live_.push_back({count, sequence, nowMs, chunk_, -1, true, true});
  ++chunkRequests_;
}

ReplyMatcher::Verdict ReplyMatcher::OnDataReply(uint8_t sequence, uint32_t length, bool damaged,
                                                uint64_t nowMs) {
  if (damaged) return Verdict::Damaged;
  Prune(nowMs);
  int candidates = 0;
  int current = 0;
  bool allShort = true;
  Request* named = nullptr;
  for (Request& request : live_) {
    if (!MayAnswer(request, length)) continue;
    ++candidates;
    current += Current(request) ? 1 : 0;
    allShort = allShort && static_cast<int64_t>(length) < request.count;
    named = &request;
  }
  if (candidates == 0) return Verdict::WrongLength;
  if (current != 0 && current != candidates) return Verdict::Ambiguous;
  // A reply refused for its number teaches nothing.
  if (current != 0 && !AnswersChunk(sequence)) return Verdict::EarlierRequest;
  LearnFromReply(sequence, length, candidates, named, allShort);
  if (current == 0) return Verdict::Duplicate;
  // Every request of the chunk asks for its offset; of a reply longer than
  // the smallest of them asked for (as a faulty receiver's may be), only
  // that many bytes are stored.
  storeCount_ = length;
  for (const Request& request : live_)
    if (Current(request)) storeCount_ = std::min(storeCount_, static_cast<uint32_t>(request.count));
  chunkOpen_ = false;
  return Verdict::Take;
}

void ReplyMatcher::LearnFromReply(uint8_t sequence, uint32_t length, int candidates, Request* named,
                                  bool allShort) {
  const auto l = static_cast<int32_t>(length);
  // No reply is longer than the receiver's limit; one shorter than every
  // request it may answer is that limit.
  answersAtLeast_ = std::max(answersAtLeast_, l);
  if (allShort && l > 0 && answersAtMost_ == 0) answersAtMost_ = l;
  if (candidates != 1) return;
  // The reply names its request: its length is that request's from now on.
  named->replyLength = l;
  named->owed = false;
  named->mayComeLate = false;
  Learn(&dataNumbering_, sequence == named->sequence);
}

bool ReplyMatcher::AnswersChunk(uint8_t sequence) const {
  const Numbering numbering = dataNumbering_ != Numbering::Unknown ? dataNumbering_ : sizeNumbering_;
  if (numbering != Numbering::Echoed) return true;
  return std::any_of(live_.begin(), live_.end(), [&](const Request& request) {
    return Current(request) && request.sequence == sequence;
  });
}

}  // namespace tolv
