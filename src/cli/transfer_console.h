// What the receiver transfer commands (download, upload, reboot) share on
// the terminal: the progress display, Ctrl-C, the console that answers the
// reboot question from --reboot, and the options they have in common.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/console_interaction.h"
#include "workspace/transfers.h"

namespace tolv::cli {

// The progress of a transfer on a stream (standard error). On a terminal one
// line is redrawn: the block, a bar, the percentage, the bytes moved and the
// block's size when known, the rate and the time left. Otherwise plain lines:
// each new status text once, and the progress of a block in quarters (with
// the bytes moved when the size is known).
class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* stream, bool terminal);

  // The link's status callback (status 1 to 9 and its value).
  void OnStatus(uint8_t status, double value);
  // Before a block: its name and its size on the wire (0: not known).
  void OnBlockStarting(const std::string& name, int64_t byteCount);
  // The block's size on the wire as the link learnt it (the size the receiver
  // reported); 0 leaves the size as it was.
  void OnTransferSize(int64_t byteCount);
  // Ends a redrawn line, so that other output starts on a line of its own.
  void EndLine();

 private:
  void ShowProgress(double percent);
  void PrintLine(const std::string& text);

  std::FILE* stream_;
  bool terminal_;
  bool lineOpen_ = false;  // a redrawn line is on the screen
  std::string lastText_;
  std::string blockName_;
  int64_t blockBytes_ = 0;
  int lastQuarter_ = -1;
  std::chrono::steady_clock::time_point blockStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Ctrl-C for the length of a transfer: the first press only sets a flag,
// which the progress callback turns into a cancel of the link (a signal
// handler may do nothing more); a second press ends the program at once.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  static bool Requested();
};

// The console of the transfer commands: "Reboot the Toppy?" is answered by
// --reboot (No without it, never a failure: it comes after the transfer);
// every other question (those of the operations among upload's inputs) as
// ConsoleInteraction answers it, Yes when answerYes (--yes). Every line first
// ends the progress display's line.
class TransferConsole : public ConsoleInteraction {
 public:
  TransferConsole(bool reboot, ProgressDisplay& display, bool answerYes = false);
  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;

 private:
  ProgressDisplay& display_;
  bool reboot_;
};

// Hooks that show the progress on display (with the size of the block under
// way from the process-wide link) and cancel that link once Ctrl-C has been
// pressed. upload names the block "TFD image".
TransferHooks ConsoleTransferHooks(ProgressDisplay& display, bool upload);

// Parses --only's list: component words separated by commas ("loader,
// settings,eeprom"; loader, firmware, flash or settings, eeprom, defaults,
// background). Throws UsageError for an unknown word, an empty list, and for
// the Background when allowBackground is false.
ComponentSelection ParseOnlyList(const std::string& list, bool allowBackground);

// True when standard error is a terminal.
bool StderrIsTerminal();

}  // namespace tolv::cli
