// Sending to the receiver, reading it back, and the closing lines.
#include "cli/send_verify.h"

#include <algorithm>

#include "cli/steps.h"
#include "cli/upload_plan.h"
#include "flash/model_list.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"

namespace tolv::cli {
namespace {

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

// Reads back what was sent and compares it; says the verdict and sorts the
// sent components into result.checked and result.unchecked.
Outcome ReadBackAndCompare(const SendOptions& options, const std::string& port, const Workspace& sent,
                           const UploadReport& report, ProgressDisplay& display, TransferConsole& ui,
                           SendResult& result) {
  const DownloadRequest request{port, ReadBack_Selection(report.sent), options.log, false};
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
  const std::string differ = ReadBack_Sort(sent, *read, back, result);
  if (!result.checked.empty())
    ui.Note("Verified: " + Restore_NameList(result.checked) +
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

void Send_Closing(const SendResult& sent, const std::string& port, const std::string& resendLoader,
                  double seconds, TransferConsole& ui) {
  if (sent.portFailed) return;
  ui.Note("Took " + Send_DurationText(seconds) + ".");
  for (const std::string& line : Restore_HeldLines(sent)) ui.Note(line);
  if (Restore_LoaderSuspect(sent)) {
    for (const std::string& line :
         Restore_LoaderAdvice(sent, resendLoader, "Then run the same command again to send the rest."))
      ui.Note(line);
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

}  // namespace tolv::cli
