// The terminal side of the receiver transfer commands.
#include "cli/transfer_console.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <utility>

#include "cli/ports_platform.h"
#include "cli/steps.h"
#include "link/transport.h"
#include "results/result_codes.h"
#include "workspace/transfer_runner.h"

namespace tolv::cli {
namespace {

// "393216 of 1572864 bytes": counted in bytes, as the summary of a transfer
// gives sizes.
std::string ByteFigures(double moved, int64_t total) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f of %lld bytes", std::floor(moved), static_cast<long long>(total));
  return text;
}

// A rate in the unit that keeps it short: "850 B/s", "34.5 KiB/s", "1.2 MiB/s".
std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1024.0 * 1024.0) {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
  } else if (bytesPerSecond >= 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  }
  return text;
}

std::string Duration(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

std::string Bar(double percent) {
  constexpr int kWidth = 12;
  const int filled = static_cast<int>(std::clamp(percent, 0.0, 100.0) / 100.0 * kWidth);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kWidth - filled), '-') + "]";
}

constexpr const char* kRebootQuestion = "Reboot the Toppy?";

bool IsUsbPort(const std::string& port) {
  std::string upper = port;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "USB";
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

void ProgressDisplay::SetJob(std::vector<int64_t> blockBytes) {
  jobBytes_ = std::move(blockBytes);
  jobBlocksStarted_ = 0;
  jobBytesBefore_ = 0;
}

void ProgressDisplay::PrintLine(const std::string& text) {
  EndLine();
  std::fprintf(stream_, "%s\n", text.c_str());
  std::fflush(stream_);
}

void ProgressDisplay::EndLine() {
  if (!lineOpen_) return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
  lineOpen_ = false;
}

double ProgressDisplay::BlockBytesMoved() const {
  return static_cast<double>(blockBytes_) * std::clamp(blockPercent_, 0.0, 100.0) / 100.0;
}

void ProgressDisplay::OnBlockStarting(const std::string& name, int64_t byteCount) {
  const auto now = std::chrono::steady_clock::now();
  // The block before counts with what it moved, finished or not.
  if (jobBlocksStarted_ > 0) jobBytesBefore_ += BlockBytesMoved();
  if (jobBlocksStarted_ == 0) jobStart_ = now;
  ++jobBlocksStarted_;
  if (byteCount > 0 && jobBlocksStarted_ <= jobBytes_.size()) jobBytes_[jobBlocksStarted_ - 1] = byteCount;
  blockName_ = name;
  blockBytes_ = byteCount;
  blockPercent_ = 0;
  lastQuarter_ = -1;
  blockStart_ = now;
  lastDraw_ = {};
}

void ProgressDisplay::OnTransferSize(int64_t byteCount) {
  if (byteCount <= 0) return;
  blockBytes_ = byteCount;
  if (jobBlocksStarted_ > 0 && jobBlocksStarted_ <= jobBytes_.size())
    jobBytes_[jobBlocksStarted_ - 1] = byteCount;
}

// The statuses of the wait for the loader that are not shown: after the
// reboot (the first close after the first open) until the receiver answers
// the mode request, one line stands for the closes, opens and polls.
bool ProgressDisplay::HiddenInLoaderWait(uint8_t status) {
  switch (status) {
    case comm_status::kWaitingForUsb: return phase_ == LinkPhase::kLoaderWait;
    case comm_status::kDeviceOpened:
      if (phase_ == LinkPhase::kIdle) phase_ = LinkPhase::kOpened;
      return phase_ == LinkPhase::kLoaderWait;
    case comm_status::kDeviceClosed:
      if (phase_ == LinkPhase::kOpened) {
        phase_ = LinkPhase::kLoaderWait;
        lastText_ = "Rebooting the receiver, waiting for its loader";
        PrintLine(lastText_);
        return true;
      }
      if (phase_ == LinkPhase::kSession) phase_ = LinkPhase::kIdle;  // a next session starts over
      return phase_ == LinkPhase::kLoaderWait;
    case comm_status::kDownloadMode:
    case comm_status::kUploadMode: phase_ = LinkPhase::kSession; return false;
    default: return false;
  }
}

void ProgressDisplay::OnStatus(uint8_t status, double value) {
  if (status == comm_status::kCancelRequested) cancelled_ = true;
  if (cancelled_ && (status == comm_status::kBlockStarted || status == comm_status::kProgress)) return;
  if (status == comm_status::kProgress) return ShowProgress(value);
  // A close says something only after an open: the port may have failed.
  if (status == comm_status::kDeviceOpened) deviceOpen_ = true;
  if (status == comm_status::kDeviceClosed && !std::exchange(deviceOpen_, false)) return;
  if (waitsForLoader_ && HiddenInLoaderWait(status)) return;
  const TransferProgressView view = Transfer_Progress(status, value, ".");
  if (!view.statusText || *view.statusText == lastText_) return;  // the serial mode wait repeats itself
  lastText_ = *view.statusText;
  PrintLine(lastText_);
}

// "all: 40%, 0:12 left" for a job of several blocks whose sizes are all
// known; empty otherwise.
std::string ProgressDisplay::JobText(std::chrono::steady_clock::time_point now) const {
  if (jobBytes_.size() < 2 || jobBlocksStarted_ == 0) return {};
  double total = 0;
  for (int64_t bytes : jobBytes_) {
    if (bytes <= 0) return {};
    total += static_cast<double>(bytes);
  }
  const double done = std::min(total, jobBytesBefore_ + BlockBytesMoved());
  char text[32];
  std::snprintf(text, sizeof text, "all: %.0f%%", std::floor(100.0 * done / total));
  std::string line = text;
  const double seconds = std::chrono::duration<double>(now - jobStart_).count();
  if (done > 0 && done < total && seconds > 0.2)
    line += ", " + Duration(seconds * (total - done) / done) + " left";
  return line;
}

void ProgressDisplay::ShowProgress(double percent) {
  lastText_.clear();
  blockPercent_ = std::isfinite(percent) ? percent : 0;
  const std::string name = blockName_.empty() ? "Block" : blockName_;
  const auto now = std::chrono::steady_clock::now();
  const std::string job = JobText(now);
  if (!terminal_) {
    const int quarter = static_cast<int>(std::clamp(blockPercent_, 0.0, 100.0) / 25.0);
    if (quarter == lastQuarter_) return;
    lastQuarter_ = quarter;
    // One line per quarter passed, with the figures of the moment.
    char head[32];
    std::snprintf(head, sizeof head, "%.0f%% done", std::floor(std::clamp(blockPercent_, 0.0, 100.0)));
    std::string figures;
    if (blockBytes_ > 0) figures = ByteFigures(BlockBytesMoved(), blockBytes_);
    if (!job.empty()) figures += (figures.empty() ? "" : "; ") + job;
    return PrintLine(name + ": " + head + (figures.empty() ? "" : " (" + figures + ")"));
  }
  if (blockPercent_ < 100 && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - blockStart_).count();
  char head[64];
  std::snprintf(head, sizeof head, "%-10s %s %5.1f%%", name.c_str(), Bar(blockPercent_).c_str(),
                blockPercent_);
  std::string line = head;
  // Within 79 columns: the whole job's share and time left take the place
  // of the block's rate and time left.
  if (blockBytes_ > 0) line += "  " + ByteFigures(BlockBytesMoved(), blockBytes_);
  if (!job.empty()) {
    line += "  " + job;
  } else {
    if (blockBytes_ > 0 && seconds > 0.2) line += "  " + Rate(BlockBytesMoved() / seconds);
    if (blockPercent_ > 0.5 && blockPercent_ < 100 && seconds > 0.2)
      line += "  " + Duration(seconds * (100.0 - blockPercent_) / blockPercent_) + " left";
  }
  std::fprintf(stream_, "\r%-79s", line.c_str());
  std::fflush(stream_);
  lineOpen_ = true;
}

TransferConsole::TransferConsole(TransferAnswers answers, ProgressDisplay& display)
    : ConsoleInteraction(answers.answerYes),
      display_(display),
      reboot_(answers.reboot),
      forceModel_(answers.forceModel),
      interactive_(StandardInputAnswers().isTerminal && StderrIsTerminal()) {}

void TransferConsole::Information(const std::string& text) {
  display_.EndLine();
  ConsoleInteraction::Information(text);
}

void TransferConsole::Message(const std::string& text) {
  display_.EndLine();
  ConsoleInteraction::Message(text);
}

bool TransferConsole::Question(const std::string& text) {
  display_.EndLine();
  if (text != kRebootQuestion) return ConsoleInteraction::Question(text);
  return !deferReboot_ && AskReboot();
}

bool TransferConsole::AskReboot() {
  display_.EndLine();
  if (reboot_) {
    Note(std::string(kRebootQuestion) + (*reboot_ ? " -> Yes" : " -> No (--no-reboot)"));
    return *reboot_;
  }
  if (!interactive_) {
    Note(std::string(kRebootQuestion) + " -> No (--reboot answers Yes)");
    return false;
  }
  // No is the answer of an empty line and of the end of input; neither is
  // a failure: the transfer is over.
  return AskYesNo(kRebootQuestion, stdin, stderr);
}

bool TransferConsole::QuestionDefaultNo(const std::string& text) {
  display_.EndLine();
  Note(text + (forceModel_ ? " -> Yes (--force-model)" : " -> No (--force-model answers Yes)"));
  return forceModel_;
}

ReceiverWait::ReceiverWait(std::string port, std::optional<int> timeoutSeconds, uint8_t answeredStatus)
    : port_(std::move(port)),
      timeoutSeconds_(timeoutSeconds),
      answeredStatus_(answeredStatus),
      start_(std::chrono::steady_clock::now()) {}

bool ReceiverWait::OnStatus(uint8_t status, ProgressDisplay& display, const std::string& usbDiagnostic) {
  if (status == answeredStatus_) answered_ = true;
  if (answered_ || timedOut_) return false;
  if (status == comm_status::kDeviceOpened) ++opens_;
  ShowUsbReason(status, usbDiagnostic, display);
  const auto waited = std::chrono::steady_clock::now() - start_;
  if (!noticed_ && waited >= std::chrono::milliseconds(kNoticeMs)) {
    noticed_ = true;
    // A receiver that is there but cannot be used has been named already.
    const bool unusable = !shownReason_.empty() && shownReason_ == pendingReason_;
    display.PrintLine("Waiting for the receiver on " + port_ +
                      (unusable ? ": it is there but cannot be used (see above); Ctrl-C stops."
                                : ": switch it on or reconnect the cable; Ctrl-C stops."));
  }
  if (timeoutSeconds_ && waited >= std::chrono::seconds(*timeoutSeconds_)) timedOut_ = true;
  return timedOut_;
}

void ReceiverWait::StartOver() {
  answered_ = false;
  noticed_ = false;
  start_ = std::chrono::steady_clock::now();
}

void ReceiverWait::ShowUsbReason(uint8_t status, const std::string& usbDiagnostic, ProgressDisplay& display) {
  if (status != comm_status::kWaitingForUsb) return;
  if (usbDiagnostic != pendingReason_) {
    pendingReason_ = usbDiagnostic;
    pendingPolls_ = 0;
  }
  if (usbDiagnostic.empty() || ++pendingPolls_ < kReasonPolls || usbDiagnostic == shownReason_) return;
  shownReason_ = usbDiagnostic;
  display.PrintLine(Transfer_UsbWaitReason(Ports_UsbAdvice(usbDiagnostic)));
}

std::string ReceiverWait::GaveUpText() const {
  const std::string head = "Gave up after " + std::to_string(timeoutSeconds_.value_or(0)) + " s: ";
  // A USB receiver that was there is not "no answer": it was busy, or its
  // loader never took the mode request.
  if (IsUsbPort(port_) && !pendingReason_.empty())
    return head + "the receiver on USB is there but cannot be used: " + pendingReason_ + ".";
  if (IsUsbPort(port_) && opens_ >= 2) return head + "the receiver on USB is there but does not answer.";
  return head + "no answer from the receiver on " + port_ + ".";
}

ReceiverLeft ReceiverLeftAfter(bool portOpened, bool rebooted) {
  if (!portOpened) return ReceiverLeft::kUntouched;
  return rebooted ? ReceiverLeft::kRestarting : ReceiverLeft::kInLoader;
}

std::string ReceiverLeftText(ReceiverLeft left, const std::string& port) {
  switch (left) {
    case ReceiverLeft::kUntouched: return "The receiver was not reached; it is as it was.";
    case ReceiverLeft::kRestarting:
      return "The receiver restarts now and runs as usual once it has started up.";
    case ReceiverLeft::kInLoader: break;
  }
  return "The receiver waits in its loader: run `tolv reboot --port " + port + "`, or switch it off and on.";
}

void FinishDownload(const DownloadReport& report, const std::string& port, double seconds,
                    TransferConsole& ui) {
  const long total = std::lround(std::max(0.0, seconds));
  char took[48];
  std::snprintf(took, sizeof took, "Took %ld:%02ld.", total / 60, total % 60);
  ui.Note(took);
  if (!report.opened) return ui.Note(ReceiverLeftText(ReceiverLeft::kUntouched, port));
  if (report.modeResult != result::kOk)
    return ui.Note("The receiver on " + port + " never answered; nothing was fetched.");
  const bool rebooted = ui.AskReboot();
  if (rebooted) LinkTransfers().Reboot(port, {});
  ui.Note(ReceiverLeftText(ReceiverLeftAfter(true, rebooted), port));
}

std::string SerialOpenFailureText() {
  const std::string why = LinkTransfers().OpenDiagnostic();
  return why.empty() ? std::string() : "Cannot open the serial port " + why + ".";
}

std::string SerialPortFault(const std::string& port) {
  if (IsUsbPort(port)) return {};
  std::string why;
  if (Serial_Open(port, &why)) return {};
  return "Cannot open the serial port " + (why.empty() ? port : why) + ".";
}

TransferHooks ConsoleTransferHooks(ProgressDisplay& display, bool upload, ReceiverWait& wait) {
  TransferHooks hooks;
  auto cancelSent = std::make_shared<bool>(false);
  hooks.progress = [&display, &wait, cancelSent](uint8_t status, double value) {
    // The percentage alone cannot tell bytes and rate: the link knows the
    // block's size once the receiver has reported it (a firmware's too).
    if (status == comm_status::kProgress) display.OnTransferSize(LinkTransfers().TransferSize());
    // A time-out's cancel is the command giving up, which it says itself.
    if (status != comm_status::kCancelRequested || !wait.timedOut()) display.OnStatus(status, value);
    // Status 1 comes before every USB poll: the reason is the last poll's.
    const bool timeUp = wait.OnStatus(
        status, display,
        status == comm_status::kWaitingForUsb ? LinkTransfers().UsbDiagnostic() : std::string());
    if ((InterruptGuard::Requested() || timeUp) && !*cancelSent) {
      *cancelSent = true;
      LinkTransfers().Cancel();
    }
  };
  // In an upload the workflow's status-line texts say that it starts again
  // after a fault; the wait for the receiver then starts over.
  if (upload) {
    hooks.statusLine = [&display, &wait](const std::string& text) {
      display.PrintLine(text);
      wait.StartOver();
    };
  }
  hooks.blockStarting = [&display, upload](ComponentKind kind, int64_t byteCount) {
    display.OnBlockStarting(upload ? "TFD image" : ComponentName(kind), byteCount);
  };
  return hooks;
}

ComponentSelection ParseOnlyList(const std::string& list, bool allowBackground) {
  ComponentSelection selection{};
  std::stringstream stream(list);
  bool any = false;
  for (std::string word; std::getline(stream, word, ',');) {
    const std::optional<ComponentKind> kind = ParseComponentKind(word);
    if (!kind) throw UsageError("--only: \"" + word + "\" is not a component");
    if (*kind == ComponentKind::Background && !allowBackground) {
      throw UsageError("--only: the background is never fetched from the receiver");
    }
    selection[static_cast<size_t>(*kind)] = true;
    any = true;
  }
  if (!any) throw UsageError("--only needs a list of components");
  return selection;
}

int ParseTimeoutSeconds(const std::string& text) {
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 1)
    throw UsageError("--timeout needs a whole number of seconds from 1 up, not \"" + text + "\"");
  return seconds;
}

}  // namespace tolv::cli
