// The reply matcher on its own: requests and replies fed in by hand, as a
// receiver answers them late, twice, out of order or short.

#include "link/reply_matcher.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tolv {
namespace {

using Verdict = ReplyMatcher::Verdict;
using Numbering = ReplyMatcher::Numbering;

// Plays a script of whitespace-separated steps against a matcher; the clock
// starts at 10000 ms and moves only with T.
//   Z          a 07 and its 08, numbered alike (a block starts)
//   B<n>[/<l>] a chunk begins with n bytes left, chunks of at most l (255)
//   R<c>       a request goes out, which must ask for c bytes; R- : no count free
//   T<ms>      time passes
//   D<len>[@<seq>]:<v>  a data reply (numbered as the latest request unless
//              @seq) is judged v: t take, d duplicate, e earlier request,
//              w wrong length, a ambiguous, x damaged (sent damaged)
//   S<n>       the bytes to store of the reply taken
//   N<n>       the receiver's limit as learnt (0: unknown)
//   A          the block is abandoned
//   Q          the line went quiet; L: quiet long past the replies owed
class Script {
 public:
  explicit Script(ReplyMatcher& m) : m_(m) {}

  void Run(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
      SCOPED_TRACE("step " + step + " of: " + script);
      Step(step[0], step.substr(1));
    }
  }

 private:
  void Step(char op, const std::string& arg) {
    switch (op) {
      case 'Z':
        m_.SizeRequested(next_, now_);
        EXPECT_EQ(Verdict::Take, m_.OnSizeReply(next_++));
        break;
      case 'B': {
        const size_t slash = arg.find('/');
        m_.BeginChunk(std::stoi(arg), slash == std::string::npos ? 255 : std::stoi(arg.substr(slash + 1)));
        break;
      }
      case 'R': Request(arg); break;
      case 'T': now_ += std::stoull(arg); break;
      case 'D': Reply(arg); break;
      case 'S': EXPECT_EQ(std::stoul(arg), m_.storeCount()); break;
      case 'N': EXPECT_EQ(std::stoi(arg), m_.answersAtMost()); break;
      case 'A': m_.AbandonBlock(); break;
      case 'Q': m_.LineWentQuiet(); break;
      case 'L': m_.LateRepliesLost(); break;
      default: FAIL() << "no such step";
    }
  }

  void Request(const std::string& arg) {
    const int32_t count = m_.NextRequestCount(now_);
    if (arg == "-") {
      EXPECT_EQ(-1, count);
      return;
    }
    ASSERT_EQ(std::stoi(arg), count);
    m_.ChunkRequested(next_++, count, now_);
  }

  void Reply(const std::string& arg) {
    const size_t at = arg.find('@');
    const size_t colon = arg.find(':');
    const auto length = static_cast<uint32_t>(std::stoul(arg));
    const auto sequence =
        static_cast<uint8_t>(at == std::string::npos ? next_ - 1 : std::stoi(arg.substr(at + 1)));
    const char verdict = arg.at(colon + 1);
    const std::string verdicts = "tdewax";
    ASSERT_NE(verdicts.find(verdict), std::string::npos);
    EXPECT_EQ(static_cast<Verdict>(verdicts.find(verdict)),
              m_.OnDataReply(sequence, length, verdict == 'x', now_));
  }

  ReplyMatcher& m_;
  uint64_t now_ = 10000;
  uint8_t next_ = 1;
};

static_assert(static_cast<int>(Verdict::Take) == 0 && static_cast<int>(Verdict::Duplicate) == 1 &&
              static_cast<int>(Verdict::EarlierRequest) == 2 && static_cast<int>(Verdict::WrongLength) == 3 &&
              static_cast<int>(Verdict::Ambiguous) == 4 && static_cast<int>(Verdict::Damaged) == 5);

struct Case {
  const char* name;
  const char* script;
};

const Case kCases[] = {
    {"a whole reply is taken; the next chunk's count differs from every live one",
     "Z B1000 R255 D255:t S255 B745 R254 D254:t S254 B491 R253 D256:w D253:t"},
    {"the last chunk asks for the remainder, an empty block for nothing",
     "Z B130 R130 D130:t Z B0 R0 D0:t S0"},
    {"a duplicate at once, or after the next request, names its own chunk",
     "Z B1000 R255 D255:t D255:d B745 R254 D255:d D254:t S254"},
    {"a request leaves the window, and its count is free again",
     "Z B1000 R255 D255:t B745 T800 R254 D254:t B491 T1200 R255 D255:t B236 R236 D236:t"},
    {"a late reply is taken as far as its repeat asked; the repeat's reply is a duplicate",
     "Z B1000 R255 T300 R254 D255:t S254 B746 R253 D254:d D253:t"},
    {"a repeat answered first, the held reply after it, even after the next request",
     "Z B1000 R255 T300 R254 D254:t S254 B746 R253 D255:d D253:t S253"},
    {"a damaged reply is never taken and changes nothing", "Z B1000 R255 D255:x D255:t S255"},
    {"a receiver answering at most 200 bytes teaches its limit; later chunks ask for no more",
     "Z B1000 R255 D200:t S200 N200 B800 R199 D200:d D199:t T2000 B601 R200 D200:t S200"},
    {"the limit learnt from a chunk asked twice: both requests expect it",
     "Z B1000 R255 T300 R254 D200:t N200 B800 R199 D200:d D200:d D199:t"},
    {"a short reply shorter than every count answered whole names nothing",
     "Z B1000 R255 D255:t B745 R254 D100:w D254:t N0"},
    {"a reply shorter than one seen names no request left unanswered",
     "Z B1000 R255 T300 R254 D254:t B746 R253 D253:t S253 D0:w"},
    {"a reply that may answer another chunk's unanswered request is ambiguous until the line is quiet",
     "Z B1000 R255 T300 R254 A Z B1000 R253 D253:a T1700 R252 D253:a Q R255 D255:t"},
    {"a request no reply named keeps its count past the window, and its late reply is a duplicate",
     "Z B1000 R255 T300 R254 D254:t B746 T2500 R253 D255:d D254:d D253:t B493 L R255 D255:t"},
    {"with no count free the chunk waits for the window; its repeats may share its count",
     "Z B3/1 R1 D1:t B2/1 R- T1999 R- T1 R1 T300 R1 D1:t S1"},
    {"an echoing receiver's number refuses a reply, never admits one",
     "Z B1000 R255 D255:t B745 R254 T300 R253 D253@2:e D253@4:t"},
};

TEST(ReplyMatcherTest, Scripts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ReplyMatcher m;
    Script(m).Run(c.script);
  }
}

TEST(ReplyMatcherTest, NumberingIsLearntOnlyFromRepliesThatNameTheirRequest) {
  ReplyMatcher m;
  // Two 07s unanswered: a size reply may answer either.
  m.SizeRequested(1, 0);
  m.SizeRequested(2, 0);
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(2));
  EXPECT_EQ(Numbering::Unknown, m.sizeNumbering());
  // A reply refused for its length, or damaged, shows nothing; a reply that
  // names its request does.
  m.StartSession();
  m.SizeRequested(5, 0);
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(9));
  EXPECT_EQ(Numbering::Own, m.sizeNumbering());
  m.BeginChunk(1000, 255);
  m.ChunkRequested(6, m.NextRequestCount(0), 0);
  EXPECT_EQ(Verdict::WrongLength, m.OnDataReply(6, 300, false, 10));
  EXPECT_EQ(Verdict::Damaged, m.OnDataReply(6, 255, true, 10));
  EXPECT_EQ(Numbering::Unknown, m.dataNumbering());
  EXPECT_EQ(Verdict::Take, m.OnDataReply(6, 255, false, 10));
  EXPECT_EQ(Numbering::Echoed, m.dataNumbering());
  // A reply that two requests of the chunk may have had shows nothing either.
  m.StartSession();
  m.SizeRequested(1, 0);
  m.OnSizeReply(1);
  m.BeginChunk(1000, 255);
  m.ChunkRequested(2, m.NextRequestCount(0), 0);
  m.ChunkRequested(3, m.NextRequestCount(300), 300);
  EXPECT_EQ(Verdict::Take, m.OnDataReply(3, 200, false, 400));
  EXPECT_EQ(Numbering::Unknown, m.dataNumbering());
  // Until then data replies are taken as numbered like the 08: echoed here.
  m.BeginChunk(800, 255);
  m.ChunkRequested(4, m.NextRequestCount(500), 500);
  EXPECT_EQ(Verdict::EarlierRequest, m.OnDataReply(40, 199, false, 600));
}

TEST(ReplyMatcherTest, BlocksAndAbandonedBlocks) {
  ReplyMatcher m;
  // A 07 waits until the one before it has left the window.
  EXPECT_EQ(0u, m.SizeRequestWaitMs(100));
  m.SizeRequested(1, 100);
  EXPECT_EQ(ReplyMatcher::kWindowMs, m.SizeRequestWaitMs(100));
  EXPECT_EQ(1u, m.SizeRequestWaitMs(100 + ReplyMatcher::kWindowMs - 1));
  EXPECT_EQ(0u, m.SizeRequestWaitMs(100 + ReplyMatcher::kWindowMs));
  // An echoing receiver's size reply numbered for an earlier 07 is not taken.
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(1));
  m.SizeRequested(40, 5000);
  EXPECT_EQ(Verdict::EarlierRequest, m.OnSizeReply(30));
  EXPECT_EQ(Verdict::Take, m.OnSizeReply(40));
  // Requests of an abandoned block stay live; a quiet line ends them.
  m.BeginChunk(1000, 255);
  m.ChunkRequested(41, m.NextRequestCount(5000), 5000);
  m.AbandonBlock();
  EXPECT_TRUE(m.StaleRepliesPossible());
  EXPECT_EQ(Verdict::Duplicate, m.OnDataReply(41, 255, false, 5100));
  m.LineWentQuiet();
  EXPECT_FALSE(m.StaleRepliesPossible());
  EXPECT_EQ(0u, m.SizeRequestWaitMs(5100));
  m.BeginChunk(1000, 255);
  EXPECT_EQ(255, m.NextRequestCount(5100));
}

}  // namespace
}  // namespace tolv
