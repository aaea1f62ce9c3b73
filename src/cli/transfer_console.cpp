// The terminal side of the receiver transfer commands.
#include "cli/transfer_console.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "cli/steps.h"
#include "link/comm.h"

namespace tolv::cli {
namespace {

std::string Bytes(double count) {
  char text[32];
  if (count >= 1024.0 * 1024.0) {
    std::snprintf(text, sizeof text, "%.1f MiB", count / (1024.0 * 1024.0));
  } else if (count >= 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KiB", count / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f B", count);
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
  constexpr int kWidth = 24;
  const int filled = static_cast<int>(std::clamp(percent, 0.0, 100.0) / 100.0 * kWidth);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kWidth - filled), '-') + "]";
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

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

void ProgressDisplay::OnBlockStarting(const std::string& name, int64_t byteCount) {
  blockName_ = name;
  blockBytes_ = byteCount;
  lastQuarter_ = -1;
  blockStart_ = std::chrono::steady_clock::now();
  lastDraw_ = {};
}

void ProgressDisplay::OnTransferSize(int64_t byteCount) {
  if (byteCount > 0) blockBytes_ = byteCount;
}

void ProgressDisplay::OnStatus(uint8_t status, double value) {
  if (status == comm_status::kProgress) return ShowProgress(value);
  const TransferProgressView view = Transfer_Progress(status, value, ".");
  if (!view.statusText || *view.statusText == lastText_) return;  // the serial mode wait repeats itself
  lastText_ = *view.statusText;
  PrintLine(lastText_);
}

void ProgressDisplay::ShowProgress(double percent) {
  lastText_.clear();
  const std::string name = blockName_.empty() ? "Block" : blockName_;
  if (!terminal_) {
    const int quarter = static_cast<int>(std::clamp(percent, 0.0, 100.0) / 25.0);
    if (quarter == lastQuarter_) return;
    lastQuarter_ = quarter;
    // One line per quarter passed, with the figures of the moment.
    char head[32];
    std::snprintf(head, sizeof head, "%.0f%% done", std::floor(std::clamp(percent, 0.0, 100.0)));
    std::string line = name + ": " + head;
    if (blockBytes_ > 0)
      line += " (" + Bytes(static_cast<double>(blockBytes_) * percent / 100.0) + " of " +
              Bytes(static_cast<double>(blockBytes_)) + ")";
    return PrintLine(line);
  }
  const auto now = std::chrono::steady_clock::now();
  if (percent < 100 && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - blockStart_).count();
  char head[64];
  std::snprintf(head, sizeof head, "%-10s %s %5.1f%%", name.c_str(), Bar(percent).c_str(), percent);
  std::string line = head;
  if (blockBytes_ > 0) {
    const double done = static_cast<double>(blockBytes_) * percent / 100.0;
    line += "  " + Bytes(done) + " of " + Bytes(static_cast<double>(blockBytes_));
    if (seconds > 0.2) line += "  " + Bytes(done / seconds) + "/s";
  }
  if (percent > 0.5 && percent < 100 && seconds > 0.2) {
    line += "  " + Duration(seconds * (100.0 - percent) / percent) + " left";
  }
  std::fprintf(stream_, "\r%-79s", line.c_str());
  std::fflush(stream_);
  lineOpen_ = true;
}

TransferConsole::TransferConsole(TransferAnswers answers, ProgressDisplay& display)
    : ConsoleInteraction(answers.answerYes),
      display_(display),
      reboot_(answers.reboot),
      forceModel_(answers.forceModel) {}

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
  if (text != "Reboot the Toppy?") return ConsoleInteraction::Question(text);
  Note(text + (reboot_ ? " -> Yes" : " -> No (--reboot answers Yes)"));
  return reboot_;
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
  const auto waited = std::chrono::steady_clock::now() - start_;
  if (!noticed_ && waited >= std::chrono::milliseconds(kNoticeMs)) {
    noticed_ = true;
    display.PrintLine("Waiting for the receiver on " + port_ +
                      ": switch it on or reconnect the cable; Ctrl-C stops.");
  }
  ShowUsbReason(status, usbDiagnostic, display);
  if (timeoutSeconds_ && waited >= std::chrono::seconds(*timeoutSeconds_)) timedOut_ = true;
  return timedOut_;
}

void ReceiverWait::ShowUsbReason(uint8_t status, const std::string& usbDiagnostic, ProgressDisplay& display) {
  if (status != comm_status::kWaitingForUsb) return;
  if (usbDiagnostic != pendingReason_) {
    pendingReason_ = usbDiagnostic;
    pendingPolls_ = 0;
  }
  if (usbDiagnostic.empty() || ++pendingPolls_ < kReasonPolls || usbDiagnostic == shownReason_) return;
  shownReason_ = usbDiagnostic;
  display.PrintLine(Transfer_UsbWaitReason(usbDiagnostic));
}

std::string ReceiverWait::GaveUpText() const {
  return "Gave up after " + std::to_string(timeoutSeconds_.value_or(0)) + " s: no answer from the receiver on " +
         port_ + ".";
}

TransferHooks ConsoleTransferHooks(ProgressDisplay& display, bool upload, ReceiverWait& wait) {
  TransferHooks hooks;
  auto cancelSent = std::make_shared<bool>(false);
  hooks.progress = [&display, &wait, cancelSent](uint8_t status, double value) {
    // The percentage alone cannot tell bytes and rate: the link knows the
    // block's size once the receiver has reported it (a firmware's too).
    if (status == comm_status::kProgress) display.OnTransferSize(Comm_TransferSize());
    // A time-out's cancel is the command giving up, which it says itself.
    if (status != comm_status::kCancelRequested || !wait.timedOut()) display.OnStatus(status, value);
    // Status 1 comes before every USB poll: the reason is the last poll's.
    const bool timeUp = wait.OnStatus(
        status, display, status == comm_status::kWaitingForUsb ? Comm_UsbDiagnostic() : std::string());
    if ((InterruptGuard::Requested() || timeUp) && !*cancelSent) {
      *cancelSent = true;
      Comm_Cancel();
    }
  };
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
