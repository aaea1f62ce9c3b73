// What a command of the workspace or a receiver transfer came to. The command
// has already told the user everything through UserInteraction; the outcome
// is what its caller decides on: the window whether to refresh its display or
// uncheck a box, the command line whether to run the next step and which
// exit status to give.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "workspace/user_interaction.h"

namespace tolv {

enum class OutcomeKind : uint8_t {
  kNothingToDo,  // there was nothing to do (an absent component removed, SystemID 0 set); nothing changed
  kDone,         // the command did what was asked
  kCancelled,    // the user said No to a question or cancelled; the command stopped there
  kFailed,       // refused or failed; nothing changed unless the command's contract says what did
};

// Why a command failed, for a caller that must tell the causes apart (tolv
// gives each its own exit status). Only meaningful when the kind is kFailed.
enum class FailureCause : uint8_t {
  kOther,            // any failure not named below
  kNotReached,       // the port could not be opened, the receiver never answered or was lost
  kReadBackDiffers,  // what the receiver holds after a write differs from what was sent
  kInputRefused,     // an input was refused: damaged, or made for another model
  kBadArgument,      // what the command line names cannot be used as given (tolv's usage status)
};

struct Outcome {
  OutcomeKind kind = OutcomeKind::kDone;
  // Why the command failed or was cancelled, each exactly as the user was
  // told it (the message shown, the question answered No, the summary of a
  // transfer), in the order told; empty for done and nothing to do.
  std::vector<std::string> reasons;
  FailureCause cause = FailureCause::kOther;

  static Outcome Done() { return {}; }
  static Outcome NothingToDo() { return {OutcomeKind::kNothingToDo, {}}; }
  static Outcome Cancelled(std::string reason) { return {OutcomeKind::kCancelled, {std::move(reason)}}; }
  static Outcome Failed(std::string reason, FailureCause cause = FailureCause::kOther) {
    return {OutcomeKind::kFailed, {std::move(reason)}, cause};
  }

  bool IsDone() const { return kind == OutcomeKind::kDone; }
  bool IsFailed() const { return kind == OutcomeKind::kFailed; }
  bool IsCancelled() const { return kind == OutcomeKind::kCancelled; }
  // Failed or cancelled: what was asked for did not happen, and a caller
  // with more steps stops. Done and nothing to do let it go on.
  bool Stops() const { return IsFailed() || IsCancelled(); }
  // True when done, so that "if (STD_Load(...))" reads as "if it loaded".
  explicit operator bool() const { return IsDone(); }
  bool operator==(const Outcome&) const = default;

  // Adds the outcome of a further part of the same command: the kind becomes
  // the graver of the two (failed over cancelled over done over nothing to
  // do), and other's reasons follow this one's. A failure keeps the cause
  // of the first part that failed with a named cause.
  Outcome& Merge(const Outcome& other);

  // The reasons joined by "; "; empty when there are none.
  std::string Text() const;
};

// Shows text as a failure (UserInteraction::Information) and returns it as
// the failed outcome.
Outcome ShowFailure(UserInteraction& ui, const std::string& text);

// The same for an input that is refused (a file of the wrong size, a damaged
// block): the outcome's cause is FailureCause::kInputRefused.
Outcome ShowRefusal(UserInteraction& ui, const std::string& text);

// The same for a failure the window shows as a plain message
// (UserInteraction::Message), such as "Please enter a valid system ID".
Outcome ShowPlainFailure(UserInteraction& ui, const std::string& text);

}  // namespace tolv
