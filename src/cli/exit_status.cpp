// The exit status of every command, from what it came to.
#include "cli/cli_command.h"

namespace tolv::cli {

int ExitStatus(const Outcome& outcome) {
  switch (outcome.kind) {
    case OutcomeKind::kDone:
    case OutcomeKind::kNothingToDo: return kExitOk;
    case OutcomeKind::kCancelled: return kExitCancelled;
    case OutcomeKind::kFailed: break;
  }
  switch (outcome.cause) {
    case FailureCause::kNotReached: return kExitNotReached;
    case FailureCause::kReadBackDiffers: return kExitReadBackDiffers;
    case FailureCause::kInputRefused: return kExitInputRefused;
    case FailureCause::kBadArgument: return kExitUsage;
    case FailureCause::kOther: break;
  }
  return kExitFailure;
}

}  // namespace tolv::cli
