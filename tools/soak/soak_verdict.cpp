#include "soak_verdict.h"

#include <cstdio>
#include <cstring>

namespace tolv::soak {
namespace {

// How found differs from what it should hold.
std::string Difference(const Contents& found, const Contents& wanted) {
  if (!found.present) return "missing";
  if (!wanted.present) return "should not be there";
  if (found.bytes.size() != wanted.bytes.size())
    return std::to_string(found.bytes.size()) + " bytes instead of " + std::to_string(wanted.bytes.size());
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < found.bytes.size(); ++i) {
    if (found.bytes[i] == wanted.bytes[i]) continue;
    if (differing++ == 0) first = i;
  }
  char text[96];
  std::snprintf(text, sizeof text, "%zu of %zu bytes wrong, the first at 0x%zx", differing,
                found.bytes.size(), first);
  return text;
}

bool Same(const Contents& a, const Contents& b) {
  return a.present == b.present && (!a.present || a.bytes == b.bytes);
}

std::string Names(const std::vector<ItemCheck>& items, ItemCheck::State state) {
  std::string text;
  for (const ItemCheck& item : items)
    if (item.state == state) text += (text.empty() ? "" : ", ") + item.name;
  return text;
}

const ItemCheck* FirstWrong(const std::vector<ItemCheck>& items) {
  for (const ItemCheck& item : items)
    if (item.state == ItemCheck::State::kWrong) return &item;
  return nullptr;
}

Judgement Exited0(const RunFacts& facts) {
  if (const ItemCheck* wrong = FirstWrong(facts.items))
    return {Verdict::kSilentCorruption, "exit 0, but " + wrong->name + ": " + wrong->detail};
  const std::string old = Names(facts.items, ItemCheck::State::kOld);
  if (!old.empty()) return {Verdict::kFalseSuccess, "exit 0, but as before: " + old};
  if (!facts.litter.empty()) return {Verdict::kUnclean, "exit 0, but left behind: " + facts.litter.front()};
  return {Verdict::kCorrect, ""};
}

Judgement Exited1(const RunFacts& facts) {
  for (const ItemCheck& item : facts.items)
    if (item.state == ItemCheck::State::kWrong && item.fullSize)
      return {Verdict::kSilentCorruption, "exit 1, and " + item.name + ": " + item.detail};
  if (const ItemCheck* wrong = FirstWrong(facts.items))
    return {Verdict::kUnclean, "exit 1, and " + wrong->name + ": " + wrong->detail};
  if (!facts.litter.empty()) return {Verdict::kUnclean, "exit 1, and left behind: " + facts.litter.front()};
  const std::string old = Names(facts.items, ItemCheck::State::kOld);
  const std::string fresh = Names(facts.items, ItemCheck::State::kNew);
  if (facts.allOrNothing && !old.empty() && !fresh.empty())
    return {Verdict::kUnclean, "exit 1, and only part taken: new " + fresh + "; as before " + old};
  return {Verdict::kClearFailure, fresh.empty() ? "exit 1, nothing changed" : "exit 1, arrived: " + fresh};
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kCorrect: return "correct";
    case Verdict::kClearFailure: return "clear failure";
    case Verdict::kUnclean: return "unclean";
    case Verdict::kSilentCorruption: return "silent corruption";
    case Verdict::kFalseSuccess: return "false success";
    case Verdict::kCrash: return "crash";
    case Verdict::kHang: return "hang";
  }
  return "?";
}

const char* CauseName(FailureCause cause) {
  switch (cause) {
    case FailureCause::kNone: return "";
    case FailureCause::kCablePulled: return "cable pulled";
    case FailureCause::kInterrupted: return "Ctrl-C";
    case FailureCause::kSilentPastTimeout: return "receiver silent";
    case FailureCause::kOther: return "other";
  }
  return "?";
}

FailureCause ClassifyFailure(const FailureEvidence& evidence) {
  if (evidence.cablePulled) return FailureCause::kCablePulled;
  if (evidence.interrupted) return FailureCause::kInterrupted;
  if (evidence.silentPastTimeout) return FailureCause::kSilentPastTimeout;
  return FailureCause::kOther;
}

bool VerdictFailsSoak(Verdict verdict) {
  return verdict != Verdict::kCorrect && verdict != Verdict::kClearFailure;
}

ItemCheck CheckItem(const std::string& name, const Contents& found, const Contents& before,
                    const Contents& after) {
  ItemCheck check{name, ItemCheck::State::kWrong, ""};
  const bool isNew = Same(found, after), isOld = Same(found, before);
  if (isNew && isOld)
    check.state = ItemCheck::State::kEither;
  else if (isNew)
    check.state = ItemCheck::State::kNew;
  else if (isOld)
    check.state = ItemCheck::State::kOld;
  else
    check.detail = Difference(found, after);
  check.fullSize = check.state == ItemCheck::State::kWrong && found.present && after.present &&
                   found.bytes.size() == after.bytes.size();
  return check;
}

Judgement Judge(const RunFacts& facts) {
  switch (facts.end) {
    case RunFacts::End::kKilledAfterBound: return {Verdict::kHang, "outlived its bound; ended"};
    case RunFacts::End::kSignalled:
      return {Verdict::kCrash, std::string("ended by signal ") + std::to_string(facts.status) + " (" +
                                   strsignal(facts.status) + ")"};
    case RunFacts::End::kExited: break;
  }
  if (facts.status == 0) return Exited0(facts);
  // Every failure status (not reached 3, read-back differs 4, input refused
  // 5, cancelled 130) is a reported failure, as 1.
  for (int failed : {1, 3, 4, 5, 130})
    if (facts.status == failed) return Exited1(facts);
  return {Verdict::kCrash, "exit status " + std::to_string(facts.status)};
}

}  // namespace tolv::soak
