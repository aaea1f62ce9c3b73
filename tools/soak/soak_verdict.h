// How a soak run came out. Each thing the run may change (an output file of a
// download, a component in the receiver's memory after an upload, an input
// file) is compared with what it held before and what the transfer was to
// put there; together with how tolv ended, that classes the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolv::soak {

enum class Verdict {
  kCorrect,       // exit 0, every byte where it belongs
  kClearFailure,  // exit 1, and everything either as it was or right
  // Exit 1 and something half-written (of another size, or gone) or left
  // behind, or an upload taken in part; or litter after exit 0.
  kUnclean,
  // A byte wrong in something of the right size: after exit 0, or after
  // exit 1 in what tolv wrote (it names what arrived) or the receiver took.
  kSilentCorruption,
  kFalseSuccess,  // exit 0, and something not transferred
  kCrash,         // ended by a signal, or an exit status other than 0 and 1
  kHang,          // outlived its bound and was ended
};
inline constexpr int kVerdictCount = 7;

// Why a clear failure failed: a fault the run was meant to end in (the cable
// pulled, a Ctrl-C, the receiver silent for longer than the link waits), or
// another fault, one the tool should have ridden out.
enum class FailureCause { kNone, kCablePulled, kInterrupted, kSilentPastTimeout, kOther };
inline constexpr int kFailureCauseCount = 5;

// "", "cable pulled", "Ctrl-C", "receiver silent", "other".
const char* CauseName(FailureCause cause);

// What tells the cause of a clear failure apart, in this order: the emulator
// said it pulled the cable; the soak sent the plan's Ctrl-C; the receiver sent
// a reply later than the link's patience and tolv reported a time-out.
struct FailureEvidence {
  bool cablePulled = false;
  bool interrupted = false;
  bool silentPastTimeout = false;
};
FailureCause ClassifyFailure(const FailureEvidence& evidence);

// "correct", "clear failure", "unclean", "silent corruption", "false
// success", "crash", "hang".
const char* VerdictName(Verdict verdict);

// Every verdict but correct and clear failure fails a soak.
bool VerdictFailsSoak(Verdict verdict);

// One thing the run may change.
struct ItemCheck {
  enum class State {
    kNew,     // holds what the transfer was to put there
    kOld,     // holds what it held before (a file that was absent is absent)
    kEither,  // holds what it held before, which is also what the transfer brings
    kWrong,   // holds neither
  };
  std::string name;  // "out/loader.bin", "receiver's flash"
  State state = State::kOld;
  std::string detail;  // for kWrong: how ("3 bytes differ, first at 0x1f40")
  // kWrong, and of the size the transfer was to give it: wrong bytes, not a
  // half-written or lost file.
  bool fullSize = false;
};

struct RunFacts {
  enum class End { kExited, kSignalled, kKilledAfterBound };
  End end = End::kExited;
  int status = 0;  // the exit status, or the signal
  // All or nothing: the items change together (the receiver takes an
  // uploaded image whole), so a mix of new and old is a fault. Otherwise
  // each item may be new or old on its own (a download writes what arrived).
  bool allOrNothing = false;
  std::vector<ItemCheck> items;
  // Files the run left that no output names (temporaries).
  std::vector<std::string> litter;
};

struct Judgement {
  Verdict verdict = Verdict::kCorrect;
  std::string reason;  // for any verdict but correct: what gave it away
};

Judgement Judge(const RunFacts& facts);

// A file or component as found, or as it should be: whether it exists at
// all, and its bytes.
struct Contents {
  bool present = false;
  std::vector<uint8_t> bytes;
};
// Compares what was found with what the item held before the run and what the
// transfer was to put there.
ItemCheck CheckItem(const std::string& name, const Contents& found, const Contents& before,
                    const Contents& after);

}  // namespace tolv::soak
