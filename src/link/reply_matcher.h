// Which of the receiver's replies answers the request in flight, in a
// download: the block-size reply (08) to the block's selection (07), and the
// data replies (05) to the requests for a chunk (04: count and offset).
//
// A data reply carries no offset, and a chunk whose reply is late is asked
// for again, so one chunk may be answered more than once. Nothing may ever be
// stored at an offset it was not sent for. What ties a reply to its request:
//
// - Order. The receiver answers its requests one at a time, in the order they
//   came, each at most once: no reply to an earlier request follows the reply
//   to a later one, and when the reply to a request has come, every earlier
//   request that is still unanswered never will be.
// - Length. A receiver answers a request with the count it asked for; on the
//   fast path (rule 1) it may answer shorter, never longer. The count is free
//   for every request, so the link makes the counts of all requests that may
//   still be answered differ: a reply's length then names its request.
// - A quiet line. When nothing has come for a while, no reply to an earlier
//   request can come any more. Only needed where counts cannot differ.
// - The sequence byte, only as a filter. A receiver may echo the number of the
//   request it answers, count on its own, stamp each reply with the newest
//   number it has seen when the reply goes out (so a late reply carries the
//   number of a newer request), or number nothing. No reply is ever taken on
//   the strength of its number.
//
// The rules. "Owed" are the requests sent whose replies may still come, in
// the order they went out.
// 1. Fast path. A chunk asked for once, with nothing else owed, takes the
//    first data reply no longer than its count; a shorter one is a part of
//    the chunk.
// 2. Counts. A repeated request asks for one byte less than the request
//    before it (down to 1), and a chunk's first request asks for fewer bytes
//    than any request still owed; so the counts owed fall (strictly, but for
//    repeats of 1 byte), the current chunk's lowest. A reply whose length is
//    the count of an owed request answers it (the earliest, should two share
//    a count), and every request owed before it is no longer owed. It is
//    taken when that request is the current chunk's, else discarded as a
//    duplicate. Of a reply taken, only as many bytes are stored as the
//    chunk's smallest request asked for: a reply longer than a later request
//    of the chunk asked for may have the length of an earlier one. A reply
//    that names no request is discarded and changes nothing.
// 3. No lower count possible (a request for 1 byte still owed): before the
//    next chunk the line must be quiet; it ends early once nothing is owed.
// 4. A block ends and starts with nothing owed. Its last bytes come only
//    with a reply to the latest request sent (a reply to an earlier request
//    of a chunk leaves the bytes that the later, smaller requests did not
//    ask for); and its size reply answers its 07, sent after every earlier
//    request, so every earlier reply came before it.
// 5. After a block that failed or was cancelled, what is owed is not known:
//    the next request waits for a quiet line.
// 6. A reply whose checksum fails is never stored, and changes nothing.
// 7. Numbers as a filter. How a receiver numbers each kind of reply is
//    learnt in every session from a reply that can answer only one known
//    request: the block-size reply while only one 07 of the session is
//    unanswered, and the first intact data reply to a chunk asked for once
//    with nothing else owed. Until a data reply has shown it, data replies
//    are taken to be numbered as block-size replies. Where the receiver
//    echoes, a reply is discarded when its number is not that of a request it
//    could answer (the current chunk's own requests, the latest 07). This
//    never discards a true reply of a receiver that stamps the newest number
//    it has seen: the number of its reply lies between that of its request
//    and the newest one sent, all requests of the same chunk (or, for a block
//    size, the 07 itself, as nothing follows a 07 before its answer).
//
// What remains: a reply later than the quiet line of rules 3 and 5 from a
// receiver that does not echo, or a block-size reply of a failed block that
// late; and, after a repeat, a receiver that answers with fewer bytes than
// asked, whose reply may name the wrong request. Nothing on the wire can tell
// those apart.
//
// Besides, the replies owed tell the link when the receiver is still busy
// with earlier requests: before it asks for the next chunk it lets them come
// (AllRepliesIn), so that repeats do not pile up behind a slow receiver.
//
// The matcher is plain bookkeeping: the link tells it what it sent and what
// arrived, and does the waiting itself.
#pragma once

#include <cstdint>
#include <deque>

namespace tolv {

class ReplyMatcher {
 public:
  // How the receiver numbers a kind of reply.
  enum class Numbering { Unknown, Echoed, Own };

  enum class Verdict {
    Take,            // answers the chunk under way: store storeCount() bytes of it
    Duplicate,       // answers an earlier chunk's request: discard
    EarlierRequest,  // numbered for an earlier request by a receiver that echoes: discard
    WrongLength,     // names no request owed (longer than asked, or short after a repeat)
    Damaged,         // its checksum failed: never stored
  };

  // A new session with a loader that has just started: nothing is owed, and
  // how the receiver numbers its replies is learnt anew.
  void StartSession();

  // A block failed or was cancelled: replies to its requests may still come,
  // how many is not known.
  void AbandonBlock();

  // True after AbandonBlock until LineWentQuiet: the next 07 waits for a
  // quiet line.
  bool StaleRepliesPossible() const { return unknownOwed_; }

  // The line has been quiet: no reply to an earlier request can come any more.
  void LineWentQuiet();

  // True when no reply to an earlier request may still come.
  bool AllRepliesIn() const { return !unknownOwed_ && owed_.empty(); }

  // --- Block size -------------------------------------------------------------

  // A 07 went out with this sequence byte.
  void SizeRequested(uint8_t sequence);

  // A block-size reply (08) numbered `sequence` arrived: Take or
  // EarlierRequest. On Take the block starts (rule 4).
  Verdict OnSizeReply(uint8_t sequence);

  // --- Chunks -------------------------------------------------------------------

  // Before the block's next chunk: true when the line must be quiet first
  // (rules 3 and 5). Call LineWentQuiet after the wait.
  bool NeedsQuietLine() const;

  // Starts the next chunk, with `remaining` bytes of the block left (>= 0)
  // and chunks of at most `limit` bytes (> 0). Call only when NeedsQuietLine
  // is false.
  void BeginChunk(int32_t remaining, int32_t limit);

  // The count the chunk's next request asks for (0 only for an empty
  // remainder); then ChunkRequested with its sequence byte.
  int32_t NextRequestCount() const { return nextCount_; }
  void ChunkRequested(uint8_t sequence);

  // A data reply (05) of `length` payload bytes numbered `sequence` arrived;
  // damaged: its checksum failed. Take ends the chunk. Between chunks no
  // reply is taken.
  Verdict OnDataReply(uint8_t sequence, uint32_t length, bool damaged);

  // Bytes to store of a reply taken (rule 2).
  uint32_t storeCount() const { return storeCount_; }

  // Requests sent for the chunk under way.
  int chunkRequests() const { return static_cast<int>(sequences_.size()); }

  Numbering sizeNumbering() const { return sizeNumbering_; }
  Numbering dataNumbering() const { return dataNumbering_; }

 private:
  struct Owed {
    int32_t count;
    bool currentChunk;
  };

  // The owed request a reply of `length` bytes answers; owed_.end() if none.
  std::deque<Owed>::iterator Named(uint32_t length);
  bool AnswersChunk(uint8_t sequence) const;
  static void Learn(Numbering* numbering, bool echoed);

  Numbering sizeNumbering_ = Numbering::Unknown;
  Numbering dataNumbering_ = Numbering::Unknown;  // Unknown: taken as sizeNumbering_
  int sizeRepliesDue_ = 0;                        // 07s of the session not answered
  uint8_t sizeSequence_ = 0;                      // number of the latest 07
  bool unknownOwed_ = false;                      // replies of an abandoned block may come
  std::deque<Owed> owed_;
  // The chunk under way.
  bool chunkOpen_ = false;
  int32_t nextCount_ = 0;
  int32_t smallestCount_ = 0;
  std::deque<uint8_t> sequences_;  // the number of each of its requests, in order
  uint32_t storeCount_ = 0;
};

}  // namespace tolv
