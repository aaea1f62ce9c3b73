// What the receiver transfer commands (download, upload, reboot) share on
// the terminal: the progress display, Ctrl-C, the console that answers the
// reboot question from --reboot, and the options they have in common.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_interaction.h"
#include "workspace/transfers.h"

namespace tolv::cli {

// The progress of a transfer on a stream (standard error). On a terminal one
// line of at most 79 columns is redrawn: the block, a bar, the percentage,
// the bytes moved and the block's size when known, then for a job of several
// blocks how far the whole job is and the time it still needs, otherwise the
// block's rate and time left.
// Otherwise plain lines: each new status text once, and the progress of a
// block in quarters with its bytes and the whole job's share. Sizes are
// counted in bytes, as the summary of a transfer gives them.
class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* stream, bool terminal);

  // The blocks the job will move, in order, each with its size on the wire
  // when known beforehand (0: learnt as it moves, such as a download's
  // firmware). Each OnBlockStarting takes the next one. Without a job (or
  // for one block) the progress is the block's own.
  void SetJob(std::vector<int64_t> blockBytes);
  // For the commands that reboot the receiver and wait for its loader: the
  // link's statuses from the reboot until the receiver answers the mode
  // request (closes, opens, USB polls, many times a second while a receiver
  // does not answer) are shown as one line, "Rebooting the receiver, waiting
  // for its loader". The window and the log keep every status.
  void SetWaitsForLoader(bool waits) { waitsForLoader_ = waits; }

  // The link's status callback (comm_status, with its value). After a
  // cancel (kCancelRequested) the blocks the link gives up at once are not
  // shown.
  void OnStatus(uint8_t status, double value);
  // Before a block: its name and its size on the wire (0: not known).
  void OnBlockStarting(const std::string& name, int64_t byteCount);
  // The block's size on the wire as the link learnt it (the size the receiver
  // reported); 0 leaves the size as it was.
  void OnTransferSize(int64_t byteCount);
  // Ends a redrawn line, so that other output starts on a line of its own.
  void EndLine();
  // A line of its own (ending a redrawn line first).
  void PrintLine(const std::string& text);

 private:
  // Where the link stands in the wait for the loader (SetWaitsForLoader).
  enum class LinkPhase { kIdle, kOpened, kLoaderWait, kSession };

  void ShowProgress(double percent);
  bool HiddenInLoaderWait(uint8_t status);
  double BlockBytesMoved() const;
  std::string JobText(std::chrono::steady_clock::time_point now) const;

  std::FILE* stream_;
  bool terminal_;
  bool lineOpen_ = false;  // a redrawn line is on the screen
  std::string lastText_;
  std::string blockName_;
  int64_t blockBytes_ = 0;
  double blockPercent_ = 0;
  int lastQuarter_ = -1;
  std::chrono::steady_clock::time_point blockStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  bool deviceOpen_ = false;  // opened since the last close
  bool cancelled_ = false;   // a cancel came: no block starts or moves any more
  bool waitsForLoader_ = false;
  LinkPhase phase_ = LinkPhase::kIdle;
  // The job: each block's size (0 while unknown), the block under way
  // (jobBlocksStarted_ - 1), the bytes of the blocks before it.
  std::vector<int64_t> jobBytes_;
  size_t jobBlocksStarted_ = 0;
  double jobBytesBefore_ = 0;
  std::chrono::steady_clock::time_point jobStart_{};
};

// Ctrl-C for the length of a transfer: the first press only sets a flag,
// which the progress callback turns into a cancel of the link (a signal
// handler may do nothing more); a second press ends the program at once,
// after releasing the serial port the link holds (link/hard_stop.h). The
// guard gives SIGINT back as it found it.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  static bool Requested();
};

// The console of the transfer commands: "Reboot the Toppy?" is answered by
// --reboot or --no-reboot, else asked ([y/N]) when standard input and
// standard error are both terminals, else answered No with a line naming
// --reboot (never a failure: it comes after the transfer); the question
// whether to send an image to a receiver of another model (asked with No as
// its default) by --force-model; every other question (those of the
// operations among upload's inputs, the restore's "Send ...?") as
// ConsoleInteraction answers it, Yes with --yes. Every line first ends the
// progress display's line.
struct TransferAnswers {
  std::optional<bool> reboot;  // --reboot (true), --no-reboot (false)
  bool answerYes = false;      // --yes
  bool forceModel = false;     // --force-model
};

class TransferConsole : public ConsoleInteraction {
 public:
  TransferConsole(TransferAnswers answers, ProgressDisplay& display);
  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;
  bool QuestionDefaultNo(const std::string& text) override;

  // While deferred, "Reboot the Toppy?" is answered No without a word: a
  // command with more to do on the receiver asks it itself at its end
  // (AskReboot).
  void DeferRebootQuestion(bool defer) { deferReboot_ = defer; }
  // "Reboot the Toppy?" answered as above; true for Yes.
  bool AskReboot();

 private:
  ProgressDisplay& display_;
  std::optional<bool> reboot_;
  bool forceModel_;
  bool deferReboot_ = false;
  bool interactive_;  // standard input and standard error are terminals
};

// The wait for the receiver, watched through the link's statuses: from the
// start of the command until the receiver has answered (answeredStatus:
// download or upload mode reached, or for a reboot the port opened). After
// about kNoticeMs without an answer it prints once "Waiting for the receiver
// on PORT: switch it on or reconnect the cable; Ctrl-C stops." (for a USB
// receiver that is there but cannot be used, "Waiting for the receiver on
// USB: it is there but cannot be used (see above); Ctrl-C stops."). While
// the link waits for a USB receiver that is there but cannot be used, it
// prints why (Transfer_UsbWaitReason) as soon as kReasonPolls polls in a row
// have given the same reason (one seen in passing, as while a rebooted
// receiver leaves the bus, is not worth a line), and again only when the
// reason changes. Once the time-out (if any) has passed it asks for a cancel
// of the link, which the command then reports as a time-out, not as the
// user's cancel.
class ReceiverWait {
 public:
  static constexpr int kNoticeMs = 3000;
  static constexpr int kReasonPolls = 3;

  ReceiverWait(std::string port, std::optional<int> timeoutSeconds, uint8_t answeredStatus);
  // Called with every status (before the status is shown); usbDiagnostic is
  // the link's reason why the USB receiver found at its last poll cannot be
  // used (empty: none found, or not waiting for one). True once, when the
  // time is up and the link is to be cancelled.
  bool OnStatus(uint8_t status, ProgressDisplay& display, const std::string& usbDiagnostic = {});
  bool timedOut() const { return timedOut_; }
  // The receiver has answered (answeredStatus came).
  bool answered() const { return answered_; }
  // The receiver is waited for again from now (an upload that starts again
  // from the reboot): the notice, the time-out and the answer count anew.
  void StartOver();
  // "Gave up after N s: " and why: "no answer from the receiver on PORT.";
  // for USB, "the receiver on USB is there but cannot be used: REASON." or
  // "the receiver on USB is there but does not answer." when it was found
  // (after the reboot) but its loader never took the mode request.
  std::string GaveUpText() const;

 private:
  std::string port_;
  std::optional<int> timeoutSeconds_;
  uint8_t answeredStatus_;
  std::chrono::steady_clock::time_point start_;
  bool answered_ = false;
  bool noticed_ = false;
  bool timedOut_ = false;
  int opens_ = 0;              // the port (or the USB receiver) opened so many times
  std::string pendingReason_;  // the reason of the polls in a row so far
  int pendingPolls_ = 0;
  std::string shownReason_;  // the last reason printed

  void ShowUsbReason(uint8_t status, const std::string& usbDiagnostic, ProgressDisplay& display);
};

// What a transfer command leaves the receiver in, for the closing line.
enum class ReceiverLeft {
  kUntouched,   // the port never opened: nothing reached the receiver
  kInLoader,    // rebooted into its loader (at the start) and not restarted since
  kRestarting,  // "Reboot the Toppy?" answered Yes
};

// The closing line of a transfer command: the receiver's state and the next
// step. kInLoader: "The receiver waits in its loader: run `tolv reboot --port
// PORT`, or switch it off and on."; kRestarting: "The receiver restarts now
// and runs as usual once it has started up."; kUntouched: "The receiver was
// not reached; it is as it was."
std::string ReceiverLeftText(ReceiverLeft left, const std::string& port);
// The state after a workflow: untouched unless the port opened, restarting
// when the reboot question was answered Yes.
ReceiverLeft ReceiverLeftAfter(bool portOpened, bool rebooted);

// Seconds since start, for the "Took M:SS." line.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The end of a download session (download, backup; the console's reboot
// question deferred during it): "Took M:SS." with seconds, then, when the
// receiver answered, "Reboot the Toppy?" asked (and the receiver rebooted on
// Yes) and the state it is left in (ReceiverLeftText); when the port opened
// but nothing answered, only that, and nothing is asked; when it never
// opened, that it is as it was.
void FinishDownload(const DownloadReport& report, const std::string& port, double seconds,
                    TransferConsole& ui);

// The line that says why the serial port could not be opened ("Cannot open
// the serial port /dev/ttyS9: no such port (...)."), when the link's last
// open of it failed (TransferRunner::OpenDiagnostic); empty otherwise.
std::string SerialOpenFailureText();

// For a serial port: opens it as the link will and closes it again; when it
// cannot be opened, the one line that says why, as SerialOpenFailureText.
// Empty for USB and for a port that opens.
std::string SerialPortFault(const std::string& port);

// Hooks that show the progress on display (with the size of the block under
// way from the process-wide link), keep wait informed, and cancel that link
// once Ctrl-C has been pressed or wait's time is up (the cancel of a
// time-out is not shown as "Communication has been canceled"). upload names
// the block "TFD image". display and wait must outlive the hooks.
TransferHooks ConsoleTransferHooks(ProgressDisplay& display, bool upload, ReceiverWait& wait);

// The value of --timeout: whole seconds from 1 up. Throws UsageError.
int ParseTimeoutSeconds(const std::string& text);

// Parses --only's list: component words separated by commas ("loader,
// settings,eeprom"; loader, firmware, flash or settings, eeprom, defaults,
// background). Throws UsageError for an unknown word, an empty list, and for
// the Background when allowBackground is false.
ComponentSelection ParseOnlyList(const std::string& list, bool allowBackground);

// True when standard error is a terminal.
bool StderrIsTerminal();

}  // namespace tolv::cli
