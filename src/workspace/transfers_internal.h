// Pieces shared by the two transfer workflows.
#pragma once

#include "link/link.h"
#include "workspace/transfers.h"

namespace tolv::transfer_detail {

// Logging for the length of a workflow: started at construction when asked
// for, stopped by Stop() (which may throw FileError) or, when the workflow
// ends by an exception, quietly by the destructor. A log the workflow did not
// start is left alone.
class LogScope {
 public:
  LogScope(Link& link, bool enabled);
  ~LogScope();
  LogScope(const LogScope&) = delete;
  LogScope& operator=(const LogScope&) = delete;
  void Stop();

 private:
  Link& link_;
  bool active_;
};

// Closes the link if the workflow ends by an exception.
class CloseOnUnwind {
 public:
  explicit CloseOnUnwind(Link& link);
  ~CloseOnUnwind();
  CloseOnUnwind(const CloseOnUnwind&) = delete;
  CloseOnUnwind& operator=(const CloseOnUnwind&) = delete;

 private:
  Link& link_;
  int uncaught_;
};

// The caller's progress hook, watched for a cancel request
// (comm_status::kCancelRequested) and for an open port (kDeviceOpened). The link forgets a cancel at its next
// Open; the workflow must not, or a cancel pressed between two link operations would be lost.
class CancelWatch {
 public:
  explicit CancelWatch(const TransferHooks& hooks);
  const CommCallback& callback() const { return callback_; }
  bool requested() const { return state_->requested; }
  // The port was opened at least once (every successful Open reports 2).
  bool deviceOpened() const { return state_->opened; }

 private:
  struct State {
    bool requested = false;
    bool opened = false;
  };
  std::shared_ptr<State> state_;
  CommCallback callback_;
};

// Where the way into download mode ended: the last Open made (the one
// before the reboot when no other followed) and the mode request's result
// (0: the receiver is in download mode).
struct ModeReached {
  int32_t openResult = 0;
  int32_t modeResult = 0;
};

// Opens, reboots the receiver, then closes, reopens and asks for download
// mode for as long as the receiver does not answer in time (a cancel ends
// the wait). The link is left open for the caller to end and close.
ModeReached ReachDownloadMode(Link& link, const std::string& port, const CancelWatch& watch);

// Asks "Reboot the Toppy?" and reboots on Yes (without a callback: the
// reboot's own waits are bounded). True when the answer was Yes. Not asked,
// false, when the port was never opened: a receiver that could not be
// reached cannot be rebooted either.
bool OfferReboot(Link& link, UserInteraction& ui, const std::string& port, bool portOpened);

}  // namespace tolv::transfer_detail
