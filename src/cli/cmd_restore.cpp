// tolv restore: a backup (or any input) back into the receiver, the backup
// checked first, the plan shown and asked for, and what arrived read back on
// request.
#include "cli/backup_diff.h"
#include "cli/backup_folder.h"
#include "cli/cli_command.h"
#include "cli/steps.h"
#include "cli/sysid_advice.h"
#include "cli/transfer_console.h"
#include "cli/upload_plan.h"
#include "common/file_io.h"
#include "flash/model_list.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"

namespace tolv::cli {
namespace {

struct RestoreArgs {
  UploadRequest request;
  bool only = false;
  std::optional<bool> reboot;  // --reboot, --no-reboot
  bool yes = false;
  bool forceModel = false;
  bool verify = false;
  std::optional<int> timeoutSeconds;
  int32_t systemId = 0;              // 0: the one the sources carry
  std::vector<std::string> sources;  // as given
  std::vector<std::string> backups;  // the sources that are backup folders
  std::vector<Step> inputs;
};

// A backup folder is loaded as its TFD (the SystemID, and the model header
// that packing for a model without a built-in one needs), then as its
// KIND.bin files, which hold the components exactly as they came.
void AddSource(const std::string& source, RestoreArgs& parsed) {
  if (!Backup_IsFolder(source)) {
    parsed.inputs.push_back(ParseInputStep(source));
    return;
  }
  parsed.backups.push_back(source);
  const std::string tfd = (source.ends_with('/') ? source : source + "/") + kBackupTfdName;
  if (FileExists(tfd)) parsed.inputs.push_back(ParseInputStep(tfd, false));
  parsed.inputs.push_back(ParseInputStep(source.ends_with('/') ? source : source + "/", false));
}

// The options without a value; false for any other argument.
bool ParseFlag(const std::string& arg, RestoreArgs& parsed) {
  if (arg == "--reboot" || arg == "--no-reboot") {
    parsed.reboot = arg == "--reboot";
  } else if (arg == "--log") {
    parsed.request.log = true;
  } else if (arg == "--yes" || arg == "-y") {
    parsed.yes = true;
  } else if (arg == "--force-model") {
    parsed.forceModel = true;
  } else if (arg == "--dry-run") {
    parsed.request.dryRun = true;
  } else if (arg == "--verify") {
    parsed.verify = true;
  } else {
    return false;
  }
  return true;
}

RestoreArgs ParseRestoreArgs(const std::vector<std::string>& args) {
  RestoreArgs parsed;
  parsed.request.selection.fill(true);
  parsed.request.reportFailures = false;  // the final lines say it
  parsed.request.askForSystemId = false;  // the sources or --sysid give it
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      parsed.sources.insert(parsed.sources.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            args.end());
      break;
    }
    if (ParseFlag(arg, parsed)) continue;
    const bool takesValue = arg == "--port" || arg == "--only" || arg == "--sysid" || arg == "--timeout";
    if (takesValue && i + 1 >= args.size()) throw UsageError(arg + " needs a value");
    if (arg == "--port") {
      parsed.request.port = args[++i];
    } else if (arg == "--only") {
      parsed.request.selection = ParseOnlyList(args[++i], true);
      parsed.only = true;
    } else if (arg == "--sysid") {
      parsed.systemId = ParseSendSystemId(args[++i]);
    } else if (arg == "--timeout") {
      parsed.timeoutSeconds = ParseTimeoutSeconds(args[++i]);
    } else if (arg.starts_with("-") && arg.size() > 1) {
      throw UsageError("unknown option \"" + arg + "\"");
    } else {
      parsed.sources.push_back(arg);
    }
  }
  if (parsed.sources.empty()) throw UsageError("no SOURCE given: nothing to restore");
  for (const std::string& source : parsed.sources) AddSource(source, parsed);
  // Without --port, the port the backup was taken from.
  for (size_t b = 0; parsed.request.port.empty() && b < parsed.backups.size(); ++b)
    parsed.request.port = Backup_RecordedPort(parsed.backups[b]).value_or("");
  if (parsed.request.port.empty())
    throw UsageError("--port PORT is needed (\"tolv ports\" lists them; a backup folder names its own)");
  return parsed;
}

// "Settings" for the Flash, as the window's check boxes say; the others by
// their names.
std::string RestoreName(ComponentKind kind) {
  return kind == ComponentKind::Flash ? "Settings" : ComponentName(kind);
}

std::string NameList(const std::vector<ComponentKind>& kinds) {
  std::string list;
  for (ComponentKind kind : kinds) list += (list.empty() ? "" : ", ") + RestoreName(kind);
  return list;
}

std::string ModelText(int32_t systemId) {
  std::string error;
  return std::to_string(systemId) + " (" + Model_GetNameOrUnknown(systemId, error) + ")";
}

// Every backup folder among the sources against its SHA256SUMS, before
// anything else; says what does not match (failed).
Outcome BackupsIntact(const RestoreArgs& parsed, ConsoleInteraction& ui) {
  Outcome intact = Outcome::Done();
  for (const std::string& dir : parsed.backups) {
    std::vector<std::string> faults;
    try {
      faults = Backup_CheckSums(dir);
    } catch (const FileError& error) {
      faults.push_back(error.what());
    }
    for (const std::string& fault : faults)
      intact.Merge(ReportFailure(ui, "tolv restore: " + dir + ": " + fault));
    if (!faults.empty())
      ui.Note("tolv restore: \"" + dir + "\" does not match its " + kBackupSumsName + ": nothing was sent.");
  }
  return intact;
}

// The plan: what goes, its size, the model it is for.
void ShowPlan(const Workspace& workspace, const UploadRequest& request, bool verify, ConsoleInteraction& ui) {
  ui.Note(std::string(request.dryRun ? "Dry run: nothing will be sent. " : "") +
          "Restore to the receiver on " + request.port + ":");
  for (ComponentKind kind : kAllComponents) {
    if (!request.selection[static_cast<size_t>(kind)]) continue;
    char line[64];
    std::snprintf(line, sizeof line, "  %-10s %9zu bytes", RestoreName(kind).c_str(),
                  workspace.Image(kind).size());
    ui.Note(line);
  }
  ui.Note("  made for SystemID " + ModelText(workspace.systemId) +
          (verify && !request.dryRun ? "; read back and compared afterwards" : ""));
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

// What a dry run found: done when the image would be sent.
Outcome DryRunVerdict(const Workspace& workspace, const UploadReport& report, const std::string& port,
                      bool forceModel, ConsoleInteraction& ui) {
  if (!report.outcome) {
    ui.Note(Upload_SummaryText(report));
    return report.outcome;
  }
  const bool suits = TFD_ImageSuitsReceiver(workspace.systemId, report.receiverSystemId);
  const std::string head = "Dry run: the receiver on " + port + " reports SystemID " +
                           ModelText(report.receiverSystemId) + "; the image is for SystemID " +
                           ModelText(static_cast<uint16_t>(workspace.systemId)) + ": ";
  if (suits) {
    ui.Note(head + "it would be taken (" + std::to_string(report.imageSize) + " bytes). Nothing was sent.");
    return Outcome::Done();
  }
  const std::string verdict = head + "another model; " +
                              (forceModel ? "--force-model would send it all the same."
                                          : "it would not be sent without --force-model.") +
                              " Nothing was sent.";
  ui.Note(verdict);
  return forceModel ? Outcome::Done() : Outcome::Failed(verdict);
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
  if (!block.stored) return RestoreName(kind) + " could not be read back (" + block.failure + ")";
  const std::vector<uint8_t>& a = sent.Image(kind);
  const std::vector<uint8_t>& b = read.Image(kind);
  const uint64_t end =
      a.size() == b.size() ? ReadBack_ComparedBytes(kind, a.size()) : std::max(a.size(), b.size());
  const BytesDiff diff = CompareBytes(a, b, 0, end);
  if (diff.Same()) return {};
  return RestoreName(kind) + " (" + std::to_string(diff.differing) +
         (diff.differing == 1 ? " byte differs" : " bytes differ") + ", the first at offset " +
         std::to_string(diff.first.value_or(0)) + ")";
}

struct ReadBack {
  Outcome verified;  // done when everything read back as it was sent
  bool opened = false;
};

// Reads back what was sent and compares it; says the verdict.
ReadBack ReadBackAndCompare(const RestoreArgs& parsed, const std::string& port, const Workspace& sent,
                            const UploadReport& report, ProgressDisplay& display, TransferConsole& ui) {
  const DownloadRequest request{port, ReadableSelection(report.sent), parsed.request.log, false};
  ui.Note("Reading back what was sent to compare it.");
  auto read = std::make_unique<Workspace>();
  ReceiverWait wait(request.port, parsed.timeoutSeconds, comm_status::kDownloadMode);
  DownloadReport back;
  {
    InterruptGuard interrupt;
    back = Transfer_FromToppy(*read, ui, request, ConsoleTransferHooks(display, false, wait));
  }
  display.EndLine();
  if (wait.timedOut() || back.modeResult != 0)
    return {
        ReportFailure(ui, "Not verified: " + (wait.timedOut() ? wait.GaveUpText() : Transfer_Summary(back))),
        back.opened};
  std::vector<ComponentKind> same;
  std::string differ;
  for (const BlockOutcome& block : back.blocks) {
    const std::string difference = Difference(sent, *read, block);
    if (difference.empty()) same.push_back(block.kind);
    if (!difference.empty()) differ += (differ.empty() ? "" : "; ") + difference;
  }
  const bool background =
      std::find(report.sent.begin(), report.sent.end(), ComponentKind::Background) != report.sent.end();
  if (!same.empty())
    ui.Note("Verified: " + NameList(same) +
            (background ? " (the Background cannot be read back: a receiver never gives it)" : ""));
  if (!differ.empty()) return {ReportFailure(ui, "Differs after the restore: " + differ + "."), back.opened};
  // Done, or cancelled by Ctrl-C, which leaves it unverified.
  return {back.outcome, back.opened};
}

// Sends (or for a dry run, goes as far as the first byte), and whether the
// port was ever opened.
Outcome Send(const RestoreArgs& parsed, Workspace& workspace, UploadRequest& request,
             ProgressDisplay& display, TransferConsole& ui, bool& opened) {
  std::vector<int64_t> job = {0};  // the image's size comes with it
  if (parsed.verify && !request.dryRun)
    for (ComponentKind kind : kAllComponents)
      if (request.selection[static_cast<size_t>(kind)] && kind != ComponentKind::Background)
        job.push_back(Transfer_WireSize(kind));
  display.SetJob(job);
  ReceiverWait wait(request.port, parsed.timeoutSeconds, comm_status::kUploadMode);
  UploadReport report;
  {
    InterruptGuard interrupt;
    report = Transfer_ToToppy(workspace, ui, request,
                              NamingReceiver(ConsoleTransferHooks(display, true, wait), display));
  }
  display.EndLine();
  opened = report.opened;
  if (wait.timedOut()) return ReportFailure(ui, wait.GaveUpText() + " Nothing sent.");
  if (request.dryRun) return DryRunVerdict(workspace, report, request.port, parsed.forceModel, ui);
  ui.Note(Upload_SummaryText(report));
  if (report.result == result::kTfdUploadOpenFailed) ui.Note(SerialOpenFailureText());
  if (!report.outcome || !parsed.verify) return report.outcome;
  const ReadBack back = ReadBackAndCompare(parsed, request.port, workspace, report, display, ui);
  opened = opened || back.opened;
  return back.verified;
}

int RunRestore(const std::vector<std::string>& args) {
  RestoreArgs parsed = ParseRestoreArgs(args);
  ProgressDisplay display(stderr, StderrIsTerminal());
  display.SetWaitsForLoader(true);
  TransferConsole ui({.reboot = parsed.reboot, .answerYes = parsed.yes, .forceModel = parsed.forceModel},
                     display);
  if (const Outcome intact = BackupsIntact(parsed, ui); intact.Stops()) return ExitStatus(intact);
  auto workspace = std::make_unique<Workspace>();
  if (const Outcome loaded = RunSteps(parsed.inputs, *workspace, ui); loaded.Stops())
    return ExitStatus(loaded);
  UploadRequest request = parsed.request;
  if (const Outcome ready =
          Upload_ReadyToSend("restore", parsed.systemId, parsed.only, *workspace, request, ui);
      ready.Stops())
    return ExitStatus(ready);
  NoteSystemIdFit(*workspace, ui);
  ShowPlan(*workspace, request, parsed.verify, ui);
  const std::string question = "Send this to the receiver on " + request.port + "?";
  if (!request.dryRun && !ui.Question(question)) return ExitStatus(Outcome::Cancelled(question));
  // Asked once at the very end, after a read-back too.
  ui.DeferRebootQuestion(true);
  bool opened = false;
  const Outcome outcome = Send(parsed, *workspace, request, display, ui, opened);
  const bool rebooted = opened && ui.AskReboot();
  if (rebooted) Toppy_Reboot(request.port);
  ui.Note(ReceiverLeftText(ReceiverLeftAfter(opened, rebooted), request.port));
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kRestoreCommand = {
    "restore", "put a backup (or any input) back into a receiver, checked and verified",
    "usage: tolv restore [--port PORT] [--only LIST] [--sysid N] [--force-model]\n"
    "                    [--dry-run] [--verify] [--yes] [--timeout SECONDS]\n"
    "                    [--reboot | --no-reboot] [--log] SOURCE...\n"
    "\n"
    "Sends the components of SOURCE to the receiver, as \"tolv upload\" does.\n"
    "SOURCE is any input of \"tolv convert\" (NAME.std, NAME.dmp, NAME.tfd,\n"
    "KIND=FILE, DIR/) or a folder made by \"tolv backup\": such a folder is first\n"
    "checked against its SHA256SUMS, and a file that does not match refuses the\n"
    "restore before the receiver is touched; then its backup.tfd gives the\n"
    "SystemID and its KIND.bin files the components as they came.\n"
    "The plan is shown (each component and its size, the SystemID and model the\n"
    "image is made for) and asked for on a terminal (--yes answers it); once\n"
    "the receiver answers, its SystemID and model are shown, and an image for\n"
    "another model is not sent without --force-model.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\");\n"
    "                 default: the port a backup folder was taken from\n"
    "  --only LIST    components to send, separated by commas (loader, firmware,\n"
    "                 settings, eeprom, defaults, background); default: all\n"
    "  --sysid N      the receiver's SystemID (default: the one SOURCE carries)\n"
    "  --force-model  send also to a receiver that reports another SystemID\n"
    "  --dry-run      reach the receiver, compare the SystemIDs, send nothing\n"
    "  --verify       afterwards read the sent components back and compare them\n"
    "                 byte for byte (settings and defaults unpacked): \"Verified:\n"
    "                 Loader, Settings, EEPROM\", or exit status 1 naming each\n"
    "                 component that differs (the background cannot be read back)\n"
    "  --yes          answer Yes to the questions (the plan, and those of the\n"
    "                 inputs); without it they are asked on a terminal\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write TolvPack.log and CommDump.bin in the current folder\n"
    "\n"
    "Progress goes to standard error; the last line says what the receiver is\n"
    "left in and what to do next.\n"
    "Exit status: 0 when everything chosen was sent (and verified with\n"
    "--verify; for --dry-run: when it would be sent), 1 otherwise, 2 when the\n"
    "command line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tolv restore --dry-run TF5000PVR-406-20261207-1830/\n"
    "  tolv restore --verify TF5000PVR-406-20261207-1830/\n"
    "  tolv restore --port /dev/ttyUSB0 --only settings,eeprom --yes settings.std\n",
    &RunRestore};

}  // namespace tolv::cli
