// Outcomes of commands and transfers.
#include "workspace/outcome.h"

namespace tolv {
namespace {

// Which of two outcomes of one command tells more: a failure outweighs a
// cancel, which outweighs done, which outweighs nothing to do.
int Gravity(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::kNothingToDo: return 0;
    case OutcomeKind::kDone: return 1;
    case OutcomeKind::kCancelled: return 2;
    case OutcomeKind::kFailed: return 3;
  }
  return 3;
}

}  // namespace

Outcome& Outcome::Merge(const Outcome& other) {
  if (other.kind == OutcomeKind::kFailed && (kind != OutcomeKind::kFailed || cause == FailureCause::kOther))
    cause = other.cause;
  if (Gravity(other.kind) > Gravity(kind)) kind = other.kind;
  reasons.insert(reasons.end(), other.reasons.begin(), other.reasons.end());
  return *this;
}

std::string Outcome::Text() const {
  std::string text;
  for (const std::string& reason : reasons) text += (text.empty() ? "" : "; ") + reason;
  return text;
}

Outcome ShowFailure(UserInteraction& ui, const std::string& text) {
  ui.Information(text);
  return Outcome::Failed(text);
}

Outcome ShowRefusal(UserInteraction& ui, const std::string& text) {
  ui.Information(text);
  return Outcome::Failed(text, FailureCause::kInputRefused);
}

Outcome ShowPlainFailure(UserInteraction& ui, const std::string& text) {
  ui.Message(text);
  return Outcome::Failed(text);
}

}  // namespace tolv
