// Which of the receiver's replies answers the request in flight, in a
// download: the block-size reply (08) to the block's selection (07), and the
// data replies (05) to the requests for a chunk (04: count and offset).
//
// A data reply carries no offset. A receiver may answer a request late, after
// it was asked again, answer a repeat before the request it repeats, answer
// one request twice, or answer fewer bytes than asked. Nothing may ever be
// stored at an offset it was not sent for. What ties a reply to its request:
//
// - A window of time. A request is answered within the window of being
//   sent, or never: the longest the link waits for one reply (2 s on a
//   serial line, 1 s on USB). Requests sent within the window are "live".
// - Length. A receiver answers a request of count c with min(c, N) bytes, N
//   its own limit (unknown until a reply shorter than asked shows it), the
//   same length every time it answers that request. The count is free for
//   every request, so the link makes the replies of all live requests differ
//   in length: a reply's length then names its request.
// - The sequence byte, only as a filter. A receiver may echo the number of the
//   request it answers, count on its own, stamp each reply with the newest
//   number it has seen when the reply goes out, or number nothing. No reply
//   is ever taken on the strength of its number.
//
// The rules.
// 1. Counts. A request asks for the largest count, no more than the chunk's
//    remainder, the chunk limit and N, that is neither the count nor the
//    expected reply length of a live request, or failing that of a live
//    request of another chunk. When there is none, the link reads and judges
//    replies until one is free (the oldest request leaves the window). A
//    request of the chunk under way stays live while it is; one that no
//    reply has named stays live past the window until the line goes quiet,
//    as a slow receiver may still answer it.
// 2. Naming. A reply of length L may answer a live request whose reply
//    length is known to be L (a reply has named it before), or, while that
//    is unknown, whose count is L, or above L where the receiver may answer
//    short (N known: min(count, N) = L; N unknown: L at least as long as
//    every reply seen, as none is longer than N). An empty reply answers
//    only a request for nothing. A reply that may answer only the chunk under way is
//    taken, all L bytes (every request of a chunk asks for its offset, and no
//    more than its remainder); one that may answer only other chunks is a
//    duplicate; one that may answer both is refused as ambiguous, and the
//    chunk is asked again for another count; one that names nothing is
//    refused. A reply that names exactly one request records its length for
//    it; a reply shorter than every count it may answer teaches N.
// 3. A block starts with the 07 only when every earlier 07 of the session has
//    left the window: a late or repeated 08 then cannot be taken for the next
//    block's size. The 08 answers the latest 07.
// 4. After a block that failed or was cancelled, a reply may come later than
//    the window (its 08 after the size wait gave up): the next 07 waits for a
//    quiet line, which ends every request's window.
// 5. A reply whose checksum fails is never stored, and changes nothing.
// 6. Numbers as a filter. How a receiver numbers each kind of reply is
//    learnt in every session from a reply that names its request: the
//    block-size reply while only one 07 of the session is unanswered, and a
//    data reply that may answer exactly one live request. Until a data reply
//    has shown it, data replies are taken to be numbered as block-size
//    replies. Where the receiver echoes, a reply is refused when its number
//    is not that of a request it could answer (the chunk's own requests, the
//    latest 07). This never refuses a true reply of a receiver that stamps
//    the newest number it has seen: the number of its reply lies between
//    that of its request and the newest one sent, all requests of the same
//    chunk (or, for a block size, the 07 itself).
//
// Besides, the replies owed tell the link when the receiver is still busy
// with earlier requests: before it asks for the next chunk it lets them come
// or leave the window (AllRepliesIn), so that requests do not pile up behind
// a slow receiver.
//
// What remains: a reply later than a quiet line (rule 4, or a wait for a free
// count) from a receiver that does not echo; and, while N is unknown, a
// short reply that two live requests of different chunks could have: that one
// is refused (rule 2), and a chunk that stays ambiguous ends in a time-out.
//
// The matcher is plain bookkeeping: the link tells it what it sent and what
// arrived, and when (milliseconds of one steady clock), and does the waiting.
#pragma once

#include <cstdint>
#include <deque>

namespace tolv {

class ReplyMatcher {
 public:
  // How long after it was sent a request may still be answered, in ms,
  // unless a session sets it otherwise.
  static constexpr uint64_t kWindowMs = 2000;

  // How the receiver numbers a kind of reply.
  enum class Numbering { Unknown, Echoed, Own };

  enum class Verdict {
    Take,            // answers the chunk under way: store storeCount() bytes of it
    Duplicate,       // answers another chunk's request: discard
    EarlierRequest,  // numbered for an earlier request by a receiver that echoes: discard
    WrongLength,     // names no live request (longer than asked, or a length none may have)
    Ambiguous,       // may answer this chunk or another's: discard
    Damaged,         // its checksum failed: never stored
  };

  // A new session with a loader that has just started: nothing is live, and
  // how the receiver numbers its replies and its limit are learnt anew. A
  // request is answered within windowMs or never.
  void StartSession(uint64_t windowMs = kWindowMs);
  uint64_t windowMs() const { return windowMs_; }

  // A block failed or was cancelled: its chunk is closed, and a reply to it
  // may still come later than the window.
  void AbandonBlock();

  // True after AbandonBlock until LineWentQuiet: the next 07 waits for a
  // quiet line (rule 4).
  bool StaleRepliesPossible() const { return staleReplies_; }

  // The line has been quiet: no reply to an earlier request can come any
  // more, and every request leaves the window (a chunk under way included).
  void LineWentQuiet();

  // --- Block size -------------------------------------------------------------

  // Milliseconds from nowMs until the next 07 may go (rule 3); 0: at once.
  uint64_t SizeRequestWaitMs(uint64_t nowMs) const;

  // A 07 went out with this sequence byte at nowMs.
  void SizeRequested(uint8_t sequence, uint64_t nowMs);

  // A block-size reply (08) numbered `sequence` arrived: Take or
  // EarlierRequest.
  Verdict OnSizeReply(uint8_t sequence);

  // --- Chunks -------------------------------------------------------------------

  // True when every live request outside the chunk under way has been
  // answered: none is left for the receiver to work on.
  bool AllRepliesIn(uint64_t nowMs);

  // The replies owed are taken as lost (the line went quiet): AllRepliesIn
  // no longer waits for them, though they stay live.
  void OwedRepliesLost();

  // The line has been quiet long past the replies owed: requests that no
  // reply has named leave at the end of their window, like the others.
  void LateRepliesLost();

  // Starts the next chunk, with `remaining` bytes of the block left (>= 0)
  // and chunks of at most `limit` bytes (> 0).
  void BeginChunk(int32_t remaining, int32_t limit);

  // The count the chunk's next request sent at nowMs asks for (rule 1; 0
  // only for an empty remainder); -1 when no count is free now.
  int32_t NextRequestCount(uint64_t nowMs);

  // The count the chunk would ask for with nothing live.
  int32_t FullCount() const;

  // A request for the chunk asking for `count` bytes (as NextRequestCount
  // gave it) went out numbered `sequence` at nowMs.
  void ChunkRequested(uint8_t sequence, int32_t count, uint64_t nowMs);

  // A data reply (05) of `length` payload bytes numbered `sequence` arrived
  // at nowMs; damaged: its checksum failed. Take ends the chunk. Between
  // chunks no reply is taken.
  Verdict OnDataReply(uint8_t sequence, uint32_t length, bool damaged, uint64_t nowMs);

  // Bytes to store of a reply taken.
  uint32_t storeCount() const { return storeCount_; }

  // Requests sent for the chunk under way.
  int chunkRequests() const { return chunkRequests_; }

  // The most bytes the receiver has shown it answers (N); 0 while unknown.
  int32_t answersAtMost() const { return answersAtMost_; }

  Numbering sizeNumbering() const { return sizeNumbering_; }
  Numbering dataNumbering() const { return dataNumbering_; }

 private:
  struct Request {
    int32_t count;
    uint8_t sequence;
    uint64_t sentMs;
    uint64_t chunk;
    int32_t replyLength;  // -1 until a reply has named it alone
    bool owed;            // no reply has named it, nor has it been given up
    bool mayComeLate;     // no reply has named it: it outlives its window
  };

  void Prune(uint64_t nowMs);
  bool Current(const Request& request) const { return chunkOpen_ && request.chunk == chunk_; }
  // The length of the reply the request will get, as far as known; -1 if not.
  int32_t ExpectedLength(const Request& request) const;
  bool MayAnswer(const Request& request, uint32_t length) const;
  bool CountFree(int32_t count, bool shareWithChunk) const;
  void LearnFromReply(uint8_t sequence, uint32_t length, int candidates, Request* named, bool allShort);
  bool AnswersChunk(uint8_t sequence) const;
  static void Learn(Numbering* numbering, bool echoed);

  uint64_t windowMs_ = kWindowMs;
  Numbering sizeNumbering_ = Numbering::Unknown;
  Numbering dataNumbering_ = Numbering::Unknown;  // Unknown: taken as sizeNumbering_
  int sizeRepliesDue_ = 0;                        // 07s of the session not answered
  uint8_t sizeSequence_ = 0;                      // number of the latest 07
  bool sizeAsked_ = false;                        // a 07 went out this session
  uint64_t sizeSentMs_ = 0;                       // when the latest 07 went out
  bool staleReplies_ = false;                     // replies of an abandoned block may come late
  int32_t answersAtMost_ = 0;                     // N; 0 while unknown
  int32_t answersAtLeast_ = 0;                    // the longest reply seen: N is no less
  std::deque<Request> live_;                      // in the order sent
  // The chunk under way.
  bool chunkOpen_ = false;
  uint64_t chunk_ = 0;
  int32_t remaining_ = 0;
  int32_t limit_ = 0;
  int chunkRequests_ = 0;
  uint32_t storeCount_ = 0;
};

}  // namespace tolv
