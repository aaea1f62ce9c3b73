// The reply matcher on its own: requests and replies fed in by hand, as a
// receiver answers them in order, each at most once.

#include "link/reply_matcher.h"

#include <gtest/gtest.h>

namespace tolv {
namespace {

using Verdict = ReplyMatcher::Verdict;
using Numbering = ReplyMatcher::Numbering;

class ReplyMatcherTest : public ::testing::Test {
 protected:
  // Selects a block: a 07 and its size reply, both numbered `sequence`.
  void StartBlock(uint8_t sequence) {
    m.SizeRequested(sequence);
    ASSERT_EQ(Verdict::Take, m.OnSizeReply(sequence));
    next = static_cast<uint8_t>(sequence + 1);
  }
  // Starts a chunk with `remaining` bytes left; the count of its first request.
  int32_t Begin(int32_t remaining, int32_t limit = 255) {
    EXPECT_FALSE(m.NeedsQuietLine());
    m.BeginChunk(remaining, limit);
    return m.NextRequestCount();
  }
  // Sends a request for the chunk, numbered on from `next`; its count.
  int32_t Send() {
    const int32_t count = m.NextRequestCount();
    m.ChunkRequested(next++);
    return count;
  }
  // Begins a chunk and sends `requests` requests for it; the first one's count.
  int32_t Ask(int32_t remaining, int requests, int32_t limit = 255) {
    const int32_t count = Begin(remaining, limit);
    for (int i = 0; i < requests; ++i) Send();
    return count;
  }
  // A reply of `length` bytes numbered as the latest request.
  Verdict Reply(uint32_t length, bool damaged = false) { return m.OnDataReply(latest(), length, damaged); }
  // The number of the latest request.
  uint8_t latest() const { return static_cast<uint8_t>(next - 1); }

  ReplyMatcher m;
  uint8_t next = 1;
};

TEST_F(ReplyMatcherTest, AChunkAskedForOnceTakesTheFirstReplyNoLongerThanItsCount) {
  StartBlock(1);
  EXPECT_EQ(255, Ask(1000, 1));
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(255u, m.storeCount());
  EXPECT_TRUE(m.AllRepliesIn());
  // A shorter reply is a part of the chunk.
  Ask(745, 1);
  EXPECT_EQ(Verdict::Take, Reply(100));
  EXPECT_EQ(100u, m.storeCount());
  Ask(645, 1);
  EXPECT_EQ(Verdict::WrongLength, Reply(256));
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(30000, Begin(70000, 30000));
  EXPECT_EQ(1, Begin(1));
  EXPECT_EQ(0, Begin(0));
}

TEST_F(ReplyMatcherTest, ARepeatAsksForOneByteLessSoThatTheLengthNamesTheRequest) {
  StartBlock(1);
  // The reply to the first request is lost; the repeat's reply names the
  // repeat, so by the order nothing is owed any more.
  Begin(1000);
  EXPECT_EQ(255, Send());
  EXPECT_EQ(254, Send());
  EXPECT_EQ(Verdict::Take, Reply(254));
  EXPECT_EQ(254u, m.storeCount());
  EXPECT_TRUE(m.AllRepliesIn());
  // The reply to the first request is late, numbered as a receiver stamping
  // the newest number it has seen does; the repeat's reply is still owed.
  // Only the bytes the repeat asked for are stored: a reply longer than the
  // repeat asked for would have the first request's length.
  EXPECT_EQ(255, Ask(746, 2));
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(254u, m.storeCount());
  EXPECT_FALSE(m.AllRepliesIn());
  EXPECT_EQ(Verdict::Duplicate, Reply(254));
  EXPECT_TRUE(m.AllRepliesIn());
  EXPECT_EQ(255, Begin(492));
}

TEST_F(ReplyMatcherTest, ANewChunkAsksForFewerBytesThanAnyReplyStillOwed) {
  // The duplicate comes only once the next chunk has been asked for, numbered
  // with that chunk's number: its length gives it away.
  StartBlock(1);
  Ask(1000, 2);
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(253, Begin(746));
  EXPECT_EQ(253, Send());
  EXPECT_EQ(Verdict::Duplicate, Reply(254));
  EXPECT_EQ(Verdict::Take, Reply(253));
  EXPECT_TRUE(m.AllRepliesIn());
  // The rule passes on: a chunk asked for below an owed reply, and repeated.
  Ask(2000, 2);
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(253, Ask(2000, 1));
  EXPECT_EQ(252, Send());
  EXPECT_EQ(Verdict::Take, Reply(253));
  EXPECT_EQ(251, Ask(2000, 1));
  EXPECT_EQ(Verdict::Duplicate, Reply(252));
  EXPECT_EQ(Verdict::Take, Reply(251));
}

TEST_F(ReplyMatcherTest, RepliesThatNameNoRequestOrAreDamagedChangeNothing) {
  StartBlock(1);
  Ask(1000, 2);
  EXPECT_EQ(Verdict::WrongLength, Reply(100)) << "short after a repeat";
  EXPECT_EQ(Verdict::Damaged, Reply(254, true));
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_FALSE(m.AllRepliesIn()) << "the repeat's reply is still owed";
  // A damaged reply names no request: the one it answered stays owed until a
  // later reply shows it will not come.
  Begin(746);
  EXPECT_EQ(253, Send());
  EXPECT_EQ(Verdict::Damaged, Reply(253, true));
  EXPECT_EQ(252, Send());
  EXPECT_EQ(Verdict::Take, Reply(252));
  EXPECT_TRUE(m.AllRepliesIn());
}

TEST_F(ReplyMatcherTest, WhereNoCountIsLeftTheLineMustBeQuiet) {
  // 1-byte chunks: a repeat cannot ask for less.
  StartBlock(1);
  Begin(3, 1);
  EXPECT_EQ(1, Send());
  EXPECT_EQ(1, Send());
  EXPECT_EQ(Verdict::Take, Reply(1));
  EXPECT_TRUE(m.NeedsQuietLine());
  // The reply still owed comes while the line settles.
  EXPECT_EQ(Verdict::Duplicate, Reply(1));
  EXPECT_TRUE(m.AllRepliesIn());
  EXPECT_FALSE(m.NeedsQuietLine());
  // Or it does not come, and the quiet line ends the wait.
  Ask(2, 2, 1);
  EXPECT_EQ(Verdict::Take, Reply(1));
  EXPECT_TRUE(m.NeedsQuietLine());
  m.LineWentQuiet();
  EXPECT_TRUE(m.AllRepliesIn());
  EXPECT_EQ(1, Begin(1, 1));
}

TEST_F(ReplyMatcherTest, ABlockStartsWithNothingOwed) {
  StartBlock(1);
  Ask(255, 3);
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_FALSE(m.AllRepliesIn());
  StartBlock(next);
  EXPECT_TRUE(m.AllRepliesIn());
  EXPECT_EQ(255, Begin(1000));
}

TEST_F(ReplyMatcherTest, AfterAnAbandonedBlockNothingIsTakenBeforeAQuietLine) {
  StartBlock(1);
  Ask(1000, 1);
  m.AbandonBlock();
  EXPECT_TRUE(m.StaleRepliesPossible());
  EXPECT_TRUE(m.NeedsQuietLine());
  EXPECT_EQ(Verdict::Duplicate, Reply(255));
  EXPECT_FALSE(m.AllRepliesIn()) << "how many may come is unknown";
  m.LineWentQuiet();
  EXPECT_FALSE(m.StaleRepliesPossible());
  EXPECT_TRUE(m.AllRepliesIn());
}

TEST_F(ReplyMatcherTest, AnEchoingReceiversNumbersFilterRepliesButNeverAdmitOne) {
  // The numbering is learnt from replies that can answer only one request.
  StartBlock(1);
  EXPECT_EQ(Numbering::Echoed, m.sizeNumbering());
  Ask(1000, 1);
  EXPECT_EQ(Verdict::Take, Reply(255));
  EXPECT_EQ(Numbering::Echoed, m.dataNumbering());
  // A data reply numbered for no request of the chunk answers an earlier one.
  Ask(745, 2);
  EXPECT_EQ(Verdict::EarlierRequest, m.OnDataReply(2, 255, false));
  // The number of the chunk's latest request on the reply to its first: what
  // a receiver stamping the newest number seen sends. It counts.
  EXPECT_EQ(Verdict::Take, Reply(255));
  // A block-size reply numbered for an earlier 07 is not the block's.
  m.AbandonBlock();
  m.LineWentQuiet();
  m.SizeRequested(40);
  EXPECT_EQ(Verdict::EarlierRequest, m.OnSizeReply(30));
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(40));
}

TEST_F(ReplyMatcherTest, NumberingIsLearntOnlyFromRepliesThatCanAnswerOneRequest) {
  // Two 07s unanswered: a size reply may answer either.
  m.SizeRequested(1);
  m.SizeRequested(2);
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(2));
  EXPECT_EQ(Numbering::Unknown, m.sizeNumbering());
  // Data replies are numbered as size replies until one shows otherwise; a
  // damaged reply shows nothing.
  m.StartSession();
  StartBlock(1);
  Ask(1000, 1);
  EXPECT_EQ(Verdict::Damaged, m.OnDataReply(99, 255, true));
  EXPECT_EQ(Numbering::Unknown, m.dataNumbering());
  // A chunk whose requests are owed with an earlier one's shows nothing either.
  Send();
  EXPECT_EQ(Verdict::Take, Reply(254));
  Ask(746, 2);
  EXPECT_EQ(Verdict::Take, Reply(255));
  Ask(492, 1);
  EXPECT_EQ(Verdict::EarlierRequest, m.OnDataReply(99, 253, false)) << "taken as numbered like the 08";
  EXPECT_EQ(Numbering::Unknown, m.dataNumbering());
  // A new session learns anew.
  m.StartSession();
  EXPECT_EQ(Numbering::Unknown, m.sizeNumbering());
  m.SizeRequested(5);
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(9));
  EXPECT_EQ(Numbering::Own, m.sizeNumbering());
}

}  // namespace
}  // namespace tolv
