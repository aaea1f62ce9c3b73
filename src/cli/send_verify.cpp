// Sending to the receiver, reading it back, and the closing lines.
#include "cli/send_verify.h"

#include <algorithm>
#include <cmath>

#include "cli/backup_diff.h"
#include "cli/backup_folder.h"
#include "cli/steps.h"
#include "cli/upload_plan.h"
#include "flash/model_list.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"

namespace tolv::cli {
namespace {

std::string NameList(const std::vector<ComponentKind>& kinds) {
  std::string list;
  for (ComponentKind kind : kinds) list += (list.empty() ? "" : ", ") + std::string(ComponentName(kind));
  return list;
}

bool Has(const std::vector<ComponentKind>& kinds, ComponentKind kind) {
  return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

std::string ModelText(int32_t systemId) {
  std::string error;
  return std::to_string(systemId) + " (" + Model_GetNameOrUnknown(systemId, error) + ")";
}

// The progress hook that also names the receiver's SystemID as soon as it
// has answered the upload-mode request.
TransferHooks NamingReceiver(TransferHooks hooks, ProgressDisplay& display) {
  hooks.progress = [progress = hooks.progress, &display](uint8_t status, double value) {
    if (progress) progress(status, value);
    if (status != comm_status::kUploadMode) return;
    int32_t reported = 0;
    Comm_GetReceiverInfo(&reported, nullptr);
    display.PrintLine("The receiver reports SystemID " + ModelText(reported) + ".");
  };
  return hooks;
}

// The components sent that a receiver gives back: all but the Background.
ComponentSelection ReadableSelection(const std::vector<ComponentKind>& sent) {
  ComponentSelection selection{};
  for (ComponentKind kind : sent)
    if (kind != ComponentKind::Background) selection[static_cast<size_t>(kind)] = true;
  return selection;
}

// How one component read back differs from what was sent; empty when it
// does not. The Flash and the Defaults are compared unpacked, as far as
// their packed form brings them back (ReadBack_ComparedBytes).
std::string Difference(const Workspace& sent, const Workspace& read, const BlockOutcome& block) {
  const ComponentKind kind = block.kind;
  const std::string name = ComponentName(kind);
  if (!block.stored) return name + " could not be read back (" + block.failure + ")";
  const std::vector<uint8_t>& a = sent.Image(kind);
  const std::vector<uint8_t>& b = read.Image(kind);
  const uint64_t end =
      a.size() == b.size() ? ReadBack_ComparedBytes(kind, a.size()) : std::max(a.size(), b.size());
  const BytesDiff diff = CompareBytes(a, b, 0, end);
  if (diff.Same()) return {};
  return name + " (" + std::to_string(diff.differing) +
         (diff.differing == 1 ? " byte differs" : " bytes differ") + ", the first at offset " +
         std::to_string(diff.first.value_or(0)) + ")";
}

// Reads back what was sent and compares it; says the verdict and sorts the
// sent components into result.checked and result.unchecked.
Outcome ReadBackAndCompare(const SendOptions& options, const std::string& port, const Workspace& sent,
                           const UploadReport& report, ProgressDisplay& display, TransferConsole& ui,
                           SendResult& result) {
  const DownloadRequest request{port, ReadableSelection(report.sent), options.log, false};
  ui.Note("Reading back what was sent to compare it.");
  auto read = std::make_unique<Workspace>();
  ReceiverWait wait(request.port, options.timeoutSeconds, comm_status::kDownloadMode);
  DownloadReport back;
  {
    InterruptGuard interrupt;
    back = Transfer_FromToppy(*read, ui, request, ConsoleTransferHooks(display, false, wait));
  }
  display.EndLine();
  result.unchecked = report.sent;
  if (back.outcome.IsCancelled()) return Outcome::Cancelled("Not verified: stopped by Ctrl-C.");
  if (wait.timedOut() || back.modeResult != 0) {
    const std::string why = wait.timedOut() ? wait.GaveUpText() : Send_PlainText(Transfer_Summary(back));
    ui.Failure("Not verified: " + why);
    return Outcome::Failed("Not verified: " + why, FailureCause::kNotReached);
  }
  std::string differ;
  for (const BlockOutcome& block : back.blocks) {
    const std::string difference = Difference(sent, *read, block);
    if (!difference.empty()) {
      differ += (differ.empty() ? "" : "; ") + difference;
      if (block.kind == ComponentKind::Loader)
        result.loader = block.stored ? LoaderFate::kWrong : LoaderFate::kUnknown;
      continue;
    }
    result.checked.push_back(block.kind);
    std::erase(result.unchecked, block.kind);
    if (block.kind == ComponentKind::Loader) result.loader = LoaderFate::kVerified;
  }
  if (!result.checked.empty())
    ui.Note("Verified: " + NameList(result.checked) +
            (Has(report.sent, ComponentKind::Background)
                 ? " (the Background cannot be read back: a receiver never gives it)"
                 : ""));
  if (differ.empty()) return Outcome::Done();
  const std::string text = "Differs after sending: " + differ + ".";
  ui.Failure(text);
  return Outcome::Failed(text, FailureCause::kReadBackDiffers);
}

}  // namespace

SendResult Send_AndVerify(const SendOptions& options, Workspace& workspace, const UploadRequest& request,
                          ProgressDisplay& display, TransferConsole& ui) {
  std::vector<int64_t> job = {0};  // the image's size comes with it
  if (options.verify)
    for (ComponentKind kind : kAllComponents)
      if (request.selection[static_cast<size_t>(kind)] && kind != ComponentKind::Background)
        job.push_back(Transfer_WireSize(kind));
  display.SetJob(job);
  ReceiverWait wait(request.port, options.timeoutSeconds, comm_status::kUploadMode);
  UploadReport report;
  {
    InterruptGuard interrupt;
    report = Transfer_ToToppy(workspace, ui, request,
                              NamingReceiver(ConsoleTransferHooks(display, true, wait), display));
  }
  display.EndLine();
  SendResult verdict;
  verdict.answered = wait.answered();
  // Bytes of the image may have gone once the receiver was let have it.
  verdict.sendStarted = report.receiverSystemId != 0 && report.result != result::kTfdUploadWrongModel;
  if (verdict.sendStarted) verdict.unchecked = report.sent;
  if (verdict.sendStarted && Has(report.sent, ComponentKind::Loader)) verdict.loader = LoaderFate::kUnknown;
  if (wait.timedOut()) {
    const std::string text = wait.GaveUpText() + " Nothing sent.";
    ui.Failure(text);
    verdict.outcome = Outcome::Failed(text, FailureCause::kNotReached);
    return verdict;
  }
  if (report.result == result::kTfdUploadOpenFailed && !SerialOpenFailureText().empty()) {
    // The reason once, in one line.
    ui.Failure(SerialOpenFailureText());
    verdict.portFailed = true;
    verdict.outcome = Outcome::Failed(SerialOpenFailureText(), FailureCause::kNotReached);
    return verdict;
  }
  ui.Note(Send_PlainText(Upload_SummaryText(report)));
  verdict.outcome = report.outcome;
  if (!report.outcome || !options.verify) return verdict;
  verdict.outcome = ReadBackAndCompare(options, request.port, workspace, report, display, ui, verdict);
  return verdict;
}

namespace {

// The link's results in plain words, for the terminal; the window and the
// log keep the texts as they are.
struct PlainResult {
  int32_t code;
  const char* text;
};
constexpr PlainResult kPlainResults[] = {
    {result::kTfdUploadOpenFailed, "the serial port could not be opened"},
    {result::kTfdUploadCanceled, "stopped by Ctrl-C"},
    {result::kTfdUploadTimeout, "the receiver stopped asking for data"},
    {result::kOpenSerialFailed, "the serial port could not be opened"},
    {result::kOpenUsbCanceled, "stopped by Ctrl-C while waiting for the USB receiver"},
    {result::kOpenUsbNotFound, "no USB receiver came"},
    {result::kDownloadModeCanceled, "stopped by Ctrl-C"},
    {result::kDownloadModeTimeout, "the receiver did not answer in time"},
    {result::kUploadModeCanceled, "stopped by Ctrl-C"},
    {result::kUploadModeTimeout, "the receiver did not answer in time"},
    {result::kTransferCanceled, "stopped by Ctrl-C"},
    {result::kTransferTimeout, "the receiver stopped answering"},
    {result::kTransferBlockTooLarge, "the receiver reported a block larger than there is room for"},
    {result::kTransferBadBlockData, "the receiver sent data that does not decode"},
    {result::kTransferBadRequest, "the receiver asked for data outside the image"},
};

}  // namespace

std::string Send_PlainText(std::string text) {
  for (const PlainResult& plain : kPlainResults) {
    const std::string code = Result_Text(plain.code);
    for (size_t at = text.find(code); at != std::string::npos; at = text.find(code, at)) {
      const std::string words = std::string(plain.text) + " (code " + std::to_string(plain.code) + ")";
      text.replace(at, code.size(), words);
      at += words.size();
    }
  }
  return text;
}

namespace {

double BytesPerSecond(const std::string& port) {
  const bool usb = port == "USB" || port == "usb";
  return usb ? 1000000.0 : 115200.0 / 10.0;
}

}  // namespace

double Send_UploadSeconds(int64_t imageShare, const std::string& port) {
  // The receiver asks for the image in pieces: a few bytes of framing each.
  return static_cast<double>(imageShare) * 1.02 / BytesPerSecond(port);
}

double Send_ReadBackSeconds(ComponentKind kind, int64_t imageShare, const std::string& port) {
  if (kind == ComponentKind::Background) return 0;
  // The firmware comes back compressed as it went; the others as their
  // blocks, asked for chunk by chunk (255 bytes on a serial line).
  const int64_t bytes = kind == ComponentKind::Firmware ? imageShare : Transfer_WireSize(kind);
  return static_cast<double>(bytes) * 1.1 / BytesPerSecond(port);
}

void Send_Closing(const SendResult& sent, const std::string& port, const std::string& resendLoader,
                  double seconds, TransferConsole& ui) {
  if (sent.portFailed) return;
  ui.Note("Took " + Send_DurationText(seconds) + ".");
  if (sent.sendStarted && !sent.outcome.IsDone()) {
    if (!sent.checked.empty())
      ui.Note("The receiver now holds, sent whole and checked: " + NameList(sent.checked) + ".");
    if (!sent.unchecked.empty())
      ui.Note("Not checked (sent, or partly sent): " + NameList(sent.unchecked) + ".");
  }
  const bool loaderSuspect = sent.loader == LoaderFate::kWrong || sent.loader == LoaderFate::kUnknown;
  if (loaderSuspect) {
    ui.Note(std::string("Its loader ") +
            (sent.loader == LoaderFate::kWrong ? "read back wrong" : "was sent but not checked") +
            ": do not restart the receiver or switch it off, or it may never start again. Leave it on "
            "and send the loader again: " +
            resendLoader);
    const bool more = std::any_of(sent.unchecked.begin(), sent.unchecked.end(),
                                  [](ComponentKind kind) { return kind != ComponentKind::Loader; });
    if (more && !sent.outcome.IsDone()) ui.Note("Then run the same command again to send the rest.");
  } else if (!sent.answered && !sent.sendStarted) {
    ui.Note("The receiver on " + port + " did not answer; nothing was sent to it.");
  } else if (!sent.answered) {
    // A start over after a fault that the receiver never answered.
    ui.Note("The receiver on " + port +
            " stopped answering after part was sent. Once it answers again, run the same command "
            "again to send it all.");
  } else {
    const bool rebooted = ui.AskReboot();
    if (rebooted) Toppy_Reboot(port);
    if (sent.sendStarted && !sent.outcome.IsDone()) ui.Note("Run the same command again to send it all.");
    ui.Note(ReceiverLeftText(ReceiverLeftAfter(true, rebooted), port));
  }
}

std::string Send_DurationText(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace tolv::cli
