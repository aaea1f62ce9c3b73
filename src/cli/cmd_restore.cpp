// tolv restore: a backup (or any input) back into the receiver, the backup
// checked first, the plan shown and asked for, and what arrived read back on
// request.
#include <chrono>

#include "cli/cli_command.h"
#include "cli/send_verify.h"
#include "cli/steps.h"
#include "cli/sysid_advice.h"
#include "cli/transfer_console.h"
#include "cli/upload_plan.h"
#include "common/file_io.h"
#include "flash/model_list.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"
#include "workspace/backup_folder.h"

namespace tolv::cli {
namespace {

struct RestoreArgs {
  UploadRequest request;
  bool only = false;
  std::optional<bool> reboot;  // --reboot, --no-reboot
  bool yes = false;
  bool forceModel = false;
  bool verify = true;  // --no-verify turns the read-back off
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
  } else if (arg == "--verify" || arg == "--no-verify") {
    parsed.verify = arg == "--verify";
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
    // A backup that is not as it was made is a refused input.
    for (const std::string& fault : faults) {
      ui.Failure("tolv restore: " + dir + ": " + fault);
      intact.Merge(Outcome::Failed("tolv restore: " + dir + ": " + fault, FailureCause::kInputRefused));
    }
    if (!faults.empty())
      ui.Note("tolv restore: \"" + dir + "\" does not match its " + kBackupSumsName + ": nothing was sent.");
  }
  return intact;
}

// The plan: what goes, its size and how long it takes, the model it is for.
void ShowPlan(Workspace& workspace, const UploadRequest& request, bool verify, ConsoleInteraction& ui) {
  ui.Note(std::string(request.dryRun ? "Dry run: nothing will be sent. " : "") +
          "Restore to the receiver on " + request.port + ":");
  const RestorePlan plan = Restore_Plan(workspace, request.selection, request.port);
  for (const RestorePlanLine& item : plan.lines) {
    char line[96];
    std::snprintf(line, sizeof line, "  %-10s %9zu bytes  about %s to send", ComponentName(item.kind),
                  item.bytes, Send_DurationText(item.seconds).c_str());
    ui.Note(line);
  }
  ui.Note("  made for SystemID " + ModelText(workspace.systemId));
  if (request.dryRun) return;
  ui.Note("About " + Send_DurationText(plan.sendSeconds) + " in all with the reboot" +
          (verify ? "; reading it back to compare adds about " + Send_DurationText(plan.readBackSeconds) +
                        " (--no-verify skips it)."
                  : "; not read back (--no-verify)."));
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
  return forceModel ? Outcome::Done() : Outcome::Failed(verdict, FailureCause::kInputRefused);
}

// A dry run: the receiver's SystemID from a download-mode handshake,
// nothing sent (and upload mode never asked for).
Outcome DryRun(const RestoreArgs& parsed, Workspace& workspace, const UploadRequest& request,
               ProgressDisplay& display, TransferConsole& ui) {
  ReceiverWait wait(request.port, parsed.timeoutSeconds, comm_status::kDownloadMode);
  UploadReport report;
  {
    InterruptGuard interrupt;
    report = Transfer_ToToppy(workspace, ui, request, ConsoleTransferHooks(display, true, wait));
  }
  display.EndLine();
  if (wait.timedOut()) {
    ui.Failure(wait.GaveUpText() + " Nothing sent.");
    return Outcome::Failed(wait.GaveUpText(), FailureCause::kNotReached);
  }
  if (report.result == result::kTfdUploadOpenFailed && !SerialOpenFailureText().empty()) {
    ui.Failure(SerialOpenFailureText());
    return Outcome::Failed(SerialOpenFailureText(), FailureCause::kNotReached);
  }
  const Outcome verdict = DryRunVerdict(workspace, report, request.port, parsed.forceModel, ui);
  if (wait.answered()) {
    const bool rebooted = ui.AskReboot();
    if (rebooted) Toppy_Reboot(request.port);
    ui.Note(ReceiverLeftText(ReceiverLeftAfter(true, rebooted), request.port));
  }
  return verdict;
}

// The command that sends the loader alone again, as the user gave the rest.
std::string ResendLoaderCommand(const RestoreArgs& parsed, const std::string& port) {
  std::string command = "tolv restore --port " + port + " --only loader";
  if (parsed.systemId != 0) command += " --sysid " + std::to_string(parsed.systemId);
  for (const std::string& source : parsed.sources)
    command += " " + (source.find(' ') == std::string::npos ? source : "\"" + source + "\"");
  return command;
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
  // A port that cannot be opened is said before anything is asked.
  if (const std::string fault = SerialPortFault(request.port); !fault.empty()) {
    ui.Failure(fault);
    return ExitStatus(Outcome::Failed(fault, FailureCause::kNotReached));
  }
  ShowPlan(*workspace, request, parsed.verify, ui);
  // Asked once at the very end, after a read-back too, and only when safe.
  ui.DeferRebootQuestion(true);
  if (request.dryRun) return ExitStatus(DryRun(parsed, *workspace, request, display, ui));
  const std::string question = "Send this to the receiver on " + request.port + "?";
  if (!ui.Question(question)) return ExitStatus(Outcome::Cancelled(question));
  if (const Outcome asked = Upload_AskForLoader(request, ui); asked.Stops()) return ExitStatus(asked);
  const auto start = std::chrono::steady_clock::now();
  const SendResult sent = Send_AndVerify({parsed.verify, parsed.timeoutSeconds, parsed.request.log},
                                         *workspace, request, display, ui);
  Send_Closing(sent, request.port, ResendLoaderCommand(parsed, request.port), SecondsSince(start), ui);
  return ExitStatus(sent.outcome);
}

}  // namespace

const CliCommand kRestoreCommand = {
    "restore", "put a backup (or any input) back into a receiver, checked and verified",
    "usage: tolv restore [--port PORT] [--only LIST] [--sysid N] [--force-model]\n"
    "                    [--dry-run] [--no-verify] [--yes] [--timeout SECONDS]\n"
    "                    [--reboot | --no-reboot] [--log] SOURCE...\n"
    "\n"
    "Sends the components of SOURCE to the receiver, as \"tolv upload\" does,\n"
    "and reads them back to compare them.\n"
    "SOURCE is any input of \"tolv convert\" (NAME.std, NAME.dmp, NAME.tfd,\n"
    "KIND=FILE, DIR/) or a folder made by \"tolv backup\": such a folder is first\n"
    "checked against its SHA256SUMS, and a file that does not match refuses the\n"
    "restore before the receiver is touched; then its backup.tfd gives the\n"
    "SystemID and its KIND.bin files the components as they came.\n"
    "A serial port that cannot be opened is said first. The plan is shown\n"
    "(each component, its size and about how long it takes; the SystemID and\n"
    "model the image is made for; the time the read-back adds) and asked for;\n"
    "writing the loader is asked on its own. --yes answers both. Once the\n"
    "receiver answers, its SystemID and model are shown, and an image for\n"
    "another model is not sent without --force-model.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\");\n"
    "                 default: the port a backup folder was taken from\n"
    "  --only LIST    components to send, separated by commas (loader, firmware,\n"
    "                 settings, eeprom, defaults, background); default: all\n"
    "  --sysid N      the receiver's SystemID (default: the one SOURCE carries)\n"
    "  --force-model  send also to a receiver that reports another SystemID\n"
    "  --dry-run      reach the receiver, compare the SystemIDs, send nothing:\n"
    "                 the receiver is rebooted and asked for download mode only\n"
    "                 (it never enters upload mode) to learn its SystemID\n"
    "  --no-verify    do not read the sent components back; by default they are\n"
    "                 read back and compared byte for byte (settings and\n"
    "                 defaults unpacked): \"Verified: Loader, Flash, EEPROM\", or\n"
    "                 exit status 4 naming each component that differs (the\n"
    "                 background cannot be read back). --verify is the default.\n"
    "  --yes          answer Yes to the questions (the plan, the loader, and\n"
    "                 those of the inputs); without it they are asked on a\n"
    "                 terminal\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write TolvPack.log and CommDump.bin in the current folder\n"
    "\n"
    "Progress goes to standard error. The last lines say what the receiver now\n"
    "holds (sent whole and checked, not checked), how long it took, and what to\n"
    "do next. When the loader read back wrong, or was sent and not checked, no\n"
    "reboot is asked or advised: the receiver is to stay on while the loader is\n"
    "sent again, with the command given.\n"
    "Exit status: 0 when everything chosen was sent and read back the same (for\n"
    "--dry-run: when it would be sent), 1 another failure, 2 a wrong command\n"
    "line, 3 port or receiver not reached (or lost), 4 a component read back\n"
    "differs, 5 input refused (a damaged backup, another model), 130\n"
    "cancelled.\n"
    "\n"
    "Examples:\n"
    "  tolv restore --dry-run TF5000PVR-406-20261207-1830/\n"
    "  tolv restore TF5000PVR-406-20261207-1830/\n"
    "  tolv restore --port /dev/ttyUSB0 --only settings,eeprom --yes settings.std\n",
    &RunRestore};

}  // namespace tolv::cli
