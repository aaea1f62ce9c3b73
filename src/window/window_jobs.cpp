// The owner's jobs of the window model: back up the receiver into a new
// backup folder, restore a backup folder into it (plan, loader asked on its
// own, read-back), and compare it with a backup folder.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/file_io.h"
#include "flash/model_list.h"
#include "link/link.h"
#include "results/result_codes.h"
#include "window/window_model.h"
#include "workspace/backup_diff.h"
#include "workspace/backup_folder.h"
#include "workspace/backup_jobs.h"
#include "workspace/folder_check.h"

namespace tolv {
namespace {

// Passes everything on, except "Reboot the Toppy?" at the end of each
// session, which the job answers itself once it knows whether that is safe.
class RebootDeferred : public UserInteraction {
 public:
  explicit RebootDeferred(UserInteraction& inner) : inner_(inner) {}
  void Information(const std::string& text) override { inner_.Information(text); }
  void Message(const std::string& text) override { inner_.Message(text); }
  void Notice(const std::string& text) override { inner_.Notice(text); }
  bool Question(const std::string& text) override { return text != kRebootQuestion && inner_.Question(text); }
  bool QuestionDefaultNo(const std::string& text) override {
    return text != kRebootQuestion && inner_.QuestionDefaultNo(text);
  }
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override {
    return inner_.InputText(caption, prompt, preset);
  }

 private:
  UserInteraction& inner_;
};

FileDialogRequest FolderRequest(const std::string& title) {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::Folder;
  request.title = title;
  return request;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

std::string ModelText(int32_t systemId) {
  std::string error;
  return std::to_string(systemId) + " (" + Model_GetNameOrUnknown(systemId, error) + ")";
}

// The plan as the question that asks for it.
std::string PlanQuestion(const RestorePlan& plan, const Workspace& backup, const std::string& port) {
  std::string text = "Restore to the receiver on " + port + ":";
  for (const RestorePlanLine& item : plan.lines) {
    char line[96];
    std::snprintf(line, sizeof line, "\n  %-10s %9zu bytes  about %s to send", ComponentName(item.kind),
                  item.bytes, Send_DurationText(item.seconds).c_str());
    text += line;
  }
  return text + "\n  made for SystemID " + ModelText(backup.systemId) + "\nAbout " +
         Send_DurationText(plan.sendSeconds) +
         " in all with the reboot; reading it back to compare adds about " +
         Send_DurationText(plan.readBackSeconds) + ".\n\nSend this to the receiver on " + port + "?";
}

// The blocks of a restore: the image, then each component read back.
std::vector<int64_t> RestoreJobBlocks(Workspace& backup, const ComponentSelection& selection) {
  const ComponentBytes shares = Transfer_UploadShares(backup, selection);
  int64_t image = 0;
  for (int64_t share : shares) image += share;
  std::vector<int64_t> blocks = {image};
  for (ComponentKind kind : kAllComponents) {
    const size_t k = static_cast<size_t>(kind);
    if (!selection[k] || kind == ComponentKind::Background) continue;
    blocks.push_back(kind == ComponentKind::Firmware ? shares[k] : Transfer_WireSize(kind));
  }
  return blocks;
}

// The read-back's verdict, into result and lines: "Verified: ...",
// "Differs after sending: ...", or why nothing could be compared.
void RestoreVerdict(const Workspace& sent, const Workspace& read, const DownloadReport& back,
                    const std::vector<ComponentKind>& sentKinds, SendResult& result,
                    std::vector<std::string>& lines) {
  if (back.outcome.IsCancelled() || back.modeResult != 0) {
    const std::string text =
        "Not verified: " + (back.outcome.IsCancelled() ? std::string("cancelled.") : Transfer_Summary(back));
    result.outcome = back.outcome.IsCancelled() ? Outcome::Cancelled(text)
                                                : Outcome::Failed(text, FailureCause::kNotReached);
    lines.push_back(text);
    return;
  }
  const std::string differ = ReadBack_Sort(sent, read, back, result);
  const bool background =
      std::find(sentKinds.begin(), sentKinds.end(), ComponentKind::Background) != sentKinds.end();
  if (!result.checked.empty())
    lines.push_back("Verified: " + Restore_NameList(result.checked) +
                    (background ? " (the Background cannot be read back: a receiver never gives it)" : ""));
  if (differ.empty()) return;
  const std::string text = "Differs after sending: " + differ + ".";
  lines.push_back(text);
  result.outcome = Outcome::Failed(text, FailureCause::kReadBackDiffers);
}

}  // namespace

TransferHooks WindowModel::JobHooks() {
  TransferHooks hooks = Hooks();
  hooks.blockStarting = [this](ComponentKind, int64_t) { job_.BlockStarting(); };
  return hooks;
}

void WindowModel::EndJob(std::vector<std::string> lines, const std::string& port, bool answered,
                         bool loaderSuspect) {
  if (answered && !loaderSuspect) {
    const bool rebooted = interaction_.Question(kRebootQuestion);
    if (rebooted) transfers_.Reboot(port, {});
    lines.push_back(rebooted ? "The receiver restarts now and runs as usual once it has started up."
                             : "The receiver waits in its loader: switch it off and on to start it.");
  }
  interaction_.Information(Joined(lines));
}

std::string WindowModel::ChooseBackup(const std::string& title, const std::string& nothingDone,
                                      Workspace& backup) {
  const std::string dir = fileDialogs_.Choose(FolderRequest(title));
  if (dir.empty()) return {};
  if (!Backup_IsFolder(dir)) {
    interaction_.Information("\"" + dir + "\" is not a backup folder: it holds no " + kBackupSumsName + ". " +
                             nothingDone);
    return {};
  }
  // A backup that is not as it was made is refused before the receiver is
  // touched.
  if (const std::vector<std::string> faults = Backup_Faults(dir); !faults.empty()) {
    std::vector<std::string> lines;
    for (const std::string& fault : faults) lines.push_back(dir + ": " + fault);
    lines.push_back("\"" + dir + "\" does not match its " + kBackupSumsName + ": " + nothingDone);
    interaction_.Information(Joined(lines));
    return {};
  }
  if (Backup_Load(backup, dir, interaction_).Stops()) return {};
  return dir;
}

void WindowModel::BackUpJob() {
  if (TransferBusy()) return;
  const std::string parent = fileDialogs_.Choose(FolderRequest("TolvPack: Back up the Toppy into a folder"));
  if (parent.empty()) return;
  if (const std::string fault = Folder_WriteFault(parent, false); !fault.empty())
    return interaction_.Information("No backup can be made: " + fault + ". Nothing was fetched.");
  const std::string port = SelectedPort(state_.loadPort);
  const DownloadRequest request = Backup_Request(port, state_.checked[Index(ControlId::CheckBox11)]);
  auto fetched = std::make_unique<Workspace>();
  RebootDeferred deferred(transferInteraction_);
  DownloadReport report;
  job_.Start(Backup_JobBlocks());
  RunTransfer(TransferKind::FromToppy,
              [&] { report = transfers_.FromToppy(*fetched, deferred, request, JobHooks()); });
  if (state_.closeRequested) return;
  std::vector<std::string> lines = {Transfer_Summary(report)};
  if (report.outcome.IsCancelled()) {
    lines.push_back(kNoBackupCancelled);
  } else if (!report.outcome) {
    lines.push_back("No backup was made: " + Backup_MissingText(report) + ".");
  } else {
    const std::time_t taken = std::time(nullptr);
    const std::string dir = Backup_FreeDefaultPath(parent, report.systemId, taken);
    for (const std::string& leftover : Backup_RemoveLeftovers(parent))
      lines.push_back(Backup_LeftoverText(leftover));
    try {
      lines.push_back(Backup_CompleteText(dir, Backup_Write(*fetched, dir, {port, taken}, interaction_)));
    } catch (const SaveCanceled&) {
      lines.push_back(kNoBackupCancelled);
    } catch (const FileError& error) {
      lines.push_back(Backup_FailedText(error.what(), dir));
    }
  }
  if (!report.opened) lines.push_back("The receiver was not reached; it is as it was.");
  EndJob(lines, port, report.opened && report.modeResult == 0, false);
}

void WindowModel::CompareJob() {
  if (TransferBusy()) return;
  auto backup = std::make_unique<Workspace>();
  const std::string dir =
      ChooseBackup("TolvPack: Compare the Toppy with a backup", "nothing was compared.", *backup);
  if (dir.empty()) return;
  // A receiver never gives the Background: it is not compared.
  backup->Present(ComponentKind::Background) = false;
  DownloadRequest request;
  request.port = SelectedPort(state_.loadPort);
  request.log = state_.checked[Index(ControlId::CheckBox11)];
  request.reportFailures = false;
  std::vector<int64_t> blocks;
  for (ComponentKind kind : kAllComponents) {
    request.selection[static_cast<size_t>(kind)] = backup->Present(kind);
    if (backup->Present(kind)) blocks.push_back(Transfer_WireSize(kind));
  }
  if (blocks.empty())
    return interaction_.Information("\"" + dir +
                                    "\" holds no component a receiver gives: nothing was compared.");
  auto receiver = std::make_unique<Workspace>();
  RebootDeferred deferred(transferInteraction_);
  DownloadReport report;
  job_.Start(blocks);
  RunTransfer(TransferKind::FromToppy,
              [&] { report = transfers_.FromToppy(*receiver, deferred, request, JobHooks()); });
  if (state_.closeRequested) return;
  std::vector<std::string> lines = {Transfer_Summary(report)};
  const bool answered = report.opened && report.modeResult == 0;
  if (report.outcome.IsCancelled()) {
    lines.push_back("Cancelled; nothing was compared.");
  } else if (!answered) {
    lines.push_back(report.opened
                        ? "The receiver on " + request.port + " never answered; nothing was fetched."
                        : "The receiver was not reached; it is as it was.");
  } else {
    lines.push_back(
        BackupDiff_Text(Backups_Compare(*backup, *receiver), dir, "the receiver on " + request.port));
  }
  EndJob(lines, request.port, answered, false);
}

void WindowModel::RestoreJob() {
  if (TransferBusy()) return;
  auto backup = std::make_unique<Workspace>();
  const std::string dir =
      ChooseBackup("TolvPack: Restore a backup to the Toppy", "nothing was sent.", *backup);
  if (dir.empty()) return;
  if (backup->systemId == 0)
    return interaction_.Information("\"" + dir + "\" carries no SystemID: nothing was sent.");
  UploadRequest request;
  request.port = SelectedPort(state_.savePort);
  request.log = state_.checked[Index(ControlId::CheckBox12)];
  request.reportFailures = false;
  request.askForSystemId = false;
  for (ComponentKind kind : kAllComponents)
    request.selection[static_cast<size_t>(kind)] = backup->Present(kind);
  if (!interaction_.Question(
          PlanQuestion(Restore_Plan(*backup, request.selection, request.port), *backup, request.port)))
    return;
  // The loader is asked on its own; without it the rest still goes.
  bool& loader = request.selection[static_cast<size_t>(ComponentKind::Loader)];
  const bool loaderDeclined = loader && !interaction_.Question(kLoaderQuestion);
  if (loaderDeclined) loader = false;
  if (std::none_of(request.selection.begin(), request.selection.end(), [](bool s) { return s; }))
    return interaction_.Information("Nothing was sent.");
  RebootDeferred deferred(transferInteraction_);
  UploadReport sent;
  DownloadReport back;
  auto read = std::make_unique<Workspace>();
  job_.Start(RestoreJobBlocks(*backup, request.selection));
  RunTransfer(TransferKind::ToToppy, [&] {
    sent = transfers_.ToToppy(*backup, deferred, request, JobHooks());
    if (!sent.outcome || state_.closeRequested) return;
    const DownloadRequest readBack{request.port, ReadBack_Selection(sent.sent), request.log, false};
    back = transfers_.FromToppy(*read, deferred, readBack, JobHooks());
  });
  if (state_.closeRequested) return;
  SendResult result;
  result.answered = receiverAnswered_;
  result.sendStarted = sent.receiverSystemId != 0 && sent.result != result::kTfdUploadWrongModel;
  if (result.sendStarted) result.unchecked = sent.sent;
  const bool loaderSent =
      std::find(sent.sent.begin(), sent.sent.end(), ComponentKind::Loader) != sent.sent.end();
  if (result.sendStarted && loaderSent) result.loader = LoaderFate::kUnknown;
  result.outcome = sent.outcome;
  std::vector<std::string> lines = {Transfer_Summary(sent)};
  if (sent.outcome) RestoreVerdict(*backup, *read, back, sent.sent, result, lines);
  for (const std::string& line : Restore_HeldLines(result)) lines.push_back(line);
  if (loaderDeclined) lines.push_back("The loader was not sent: you chose not to write it.");
  const bool suspect = Restore_LoaderSuspect(result);
  if (suspect) {
    const std::string resend = "load \"" + dir + "/" + Backup_ComponentFileName(ComponentKind::Loader) +
                               "\" with Load > Loader BIN, check only Loader under Save and press To Toppy.";
    for (const std::string& line :
         Restore_LoaderAdvice(result, resend, "Then restore the same backup again to send the rest."))
      lines.push_back(line);
  } else if (!result.answered) {
    lines.push_back(result.sendStarted
                        ? "The receiver on " + request.port +
                              " stopped answering after part was sent. Once it answers again, "
                              "restore the same backup again to send it all."
                        : "The receiver on " + request.port + " did not answer; nothing was sent to it.");
  } else if (result.sendStarted && !result.outcome.IsDone()) {
    lines.push_back("Restore the same backup again to send it all.");
  }
  EndJob(lines, request.port, result.answered, suspect);
}

}  // namespace tolv
