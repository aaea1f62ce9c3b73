// tolv backup: everything the receiver gives, into a new folder that is
// checked before it is called complete.
#include <ctime>

#include "cli/cli_command.h"
#include "cli/output_check.h"
#include "cli/send_verify.h"
#include "cli/steps.h"
#include "cli/transfer_console.h"
#include "common/file_io.h"
#include "common/save_interrupt.h"
#include "results/result_codes.h"
#include "workspace/backup_folder.h"
#include "workspace/backup_jobs.h"

namespace tolv::cli {
namespace {

struct BackupArgs {
  DownloadRequest request;
  std::optional<bool> reboot;  // --reboot, --no-reboot
  std::optional<int> timeoutSeconds;
  std::string dir;  // empty: a new folder in the current one, named by Backup_DefaultName
};

BackupArgs ParseBackupArgs(const std::vector<std::string>& args) {
  BackupArgs parsed;
  parsed.request = Backup_Request("", false);
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded) {
      if (!parsed.dir.empty()) throw UsageError("one folder only, not also \"" + arg + "\"");
      parsed.dir = arg;
      continue;
    }
    if ((arg == "--port" || arg == "--timeout") && i + 1 >= args.size())
      throw UsageError(arg + " needs a value");
    if (arg == "--port") {
      parsed.request.port = args[++i];
    } else if (arg == "--timeout") {
      parsed.timeoutSeconds = ParseTimeoutSeconds(args[++i]);
    } else if (arg == "--reboot" || arg == "--no-reboot") {
      parsed.reboot = arg == "--reboot";
    } else if (arg == "--log") {
      parsed.request.log = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      throw UsageError("unknown option \"" + arg + "\"");
    } else if (!parsed.dir.empty()) {
      throw UsageError("one folder only, not also \"" + arg + "\"");
    } else {
      parsed.dir = arg;
    }
  }
  if (parsed.request.port.empty()) throw UsageError("--port PORT is needed (\"tolv ports\" lists them)");
  return parsed;
}

// Whether the backup can go where it is to go, before the receiver is
// touched; says why not (failed).
Outcome TargetUsable(const BackupArgs& parsed, ConsoleInteraction& ui) {
  const std::string fault =
      parsed.dir.empty() ? Folder_WriteFault("", false) : Backup_TargetFault(parsed.dir);
  if (fault.empty()) return Outcome::Done();
  return ReportFailure(ui, "tolv backup: " + fault + ". Nothing was fetched.");
}

// Writes the folder once everything arrived; done when it is complete.
Outcome MakeBackup(const BackupArgs& parsed, const Workspace& workspace, const DownloadReport& report,
                   TransferConsole& ui) {
  if (report.outcome.IsCancelled()) {
    ui.Note(kNoBackupCancelled);
    return Outcome::Cancelled(kNoBackupCancelled);
  }
  if (!report.outcome) {
    const std::string text = "No backup was made: " + Backup_MissingText(report, Send_PlainText) + ".";
    ui.Failure(text + (report.modeResult != 0 ? ""
                                              : " \"tolv download --port " + parsed.request.port +
                                                    " -o DIR/\" saves what arrives."));
    return Outcome::Failed(text, report.outcome.cause);
  }
  const std::time_t taken = std::time(nullptr);
  const std::string dir =
      parsed.dir.empty() ? Backup_FreeDefaultPath("", report.systemId, taken) : parsed.dir;
  // Hidden folders that earlier runs, ended by a kill, left beside it.
  std::string named = dir;
  while (named.size() > 1 && IsFolderSeparator(named.back())) named.pop_back();
  for (const std::string& leftover : Backup_RemoveLeftovers(DirectoryOf(named)))
    ui.Note(Backup_LeftoverText(leftover));
  // Ctrl-C or a request to end while the folder is built removes it.
  SaveInterruptGuard interrupt;
  try {
    const int count = Backup_Write(workspace, dir, {parsed.request.port, taken}, ui);
    ui.Note(Backup_CompleteText(dir, count));
    return Outcome::Done();
  } catch (const SaveCanceled&) {
    ui.Note(kNoBackupCancelled);
    return Outcome::Cancelled(kNoBackupCancelled);
  } catch (const FileError& error) {
    return ReportFailure(ui, Backup_FailedText(error.what(), dir));
  }
}

int RunBackup(const std::vector<std::string>& args) {
  const BackupArgs parsed = ParseBackupArgs(args);
  ProgressDisplay display(stderr, StderrIsTerminal());
  display.SetJob(Backup_JobBlocks());
  display.SetWaitsForLoader(true);
  TransferConsole ui({.reboot = parsed.reboot}, display);
  if (const Outcome usable = TargetUsable(parsed, ui); usable.Stops()) return ExitStatus(usable);
  auto workspace = std::make_unique<Workspace>();
  DownloadReport report;
  // Asked at the end, and only when the receiver answered.
  ui.DeferRebootQuestion(true);
  const auto start = std::chrono::steady_clock::now();
  ReceiverWait wait(parsed.request.port, parsed.timeoutSeconds, comm_status::kDownloadMode);
  {
    InterruptGuard interrupt;
    report = Transfer_FromToppy(*workspace, ui, parsed.request, ConsoleTransferHooks(display, false, wait));
  }
  display.EndLine();
  if (report.openResult == result::kOpenSerialFailed && !SerialOpenFailureText().empty()) {
    // The reason once, in one line.
    ui.Failure(SerialOpenFailureText());
    return ExitStatus(Outcome::Failed(SerialOpenFailureText(), FailureCause::kNotReached));
  }
  Outcome outcome;
  if (wait.timedOut()) {
    outcome = Outcome::Failed(wait.GaveUpText() + " No backup was made.", FailureCause::kNotReached);
    ui.Failure(outcome.Text());
  } else {
    ui.Note(Send_PlainText(Transfer_Summary(report)));
    outcome = MakeBackup(parsed, *workspace, report, ui);
  }
  FinishDownload(report, parsed.request.port, SecondsSince(start), ui);
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kBackupCommand = {
    "backup", "fetch everything from a receiver into a new, checked backup folder",
    "usage: tolv backup --port PORT [--timeout SECONDS] [--reboot | --no-reboot]\n"
    "                   [--log] [DIR]\n"
    "\n"
    "Reboots the receiver, waits until its loader answers and fetches every\n"
    "component it gives (loader, firmware, settings, EEPROM, defaults; the\n"
    "background is never fetched) into a new folder DIR, by default one in the\n"
    "current folder named after the model, the SystemID and the time, such as\n"
    "TF5000PVR-406-20261207-1830. The folder holds:\n"
    "  backup.tfd     everything with the SystemID, as \"-o NAME.tfd\" writes it\n"
    "  KIND.bin       each component as it came, as \"-o DIR/\" writes them\n"
    "  backup.json    SystemID, model, date, program, port; each component's\n"
    "                 size, SHA-256 and whether its checksums held\n"
    "  SHA256SUMS     the SHA-256 of every other file (\"sha256sum -c SHA256SUMS\"\n"
    "                 in the folder checks them)\n"
    "The folder is built under a hidden name beside DIR, every file is read\n"
    "back and compared, backup.tfd is read again and compared with what went\n"
    "into it, and only then does the folder get its name and the last line say\n"
    "\"Backup complete: DIR (N components, verified)\". A DIR that exists and is\n"
    "not empty is refused before the receiver is touched. When a component does\n"
    "not arrive, or Ctrl-C (or a request to end) comes, no folder is made; the\n"
    "hidden folders that backups ended by a kill left beside DIR are removed,\n"
    "and named.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\")\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write TolvPack.log and CommDump.bin in the current folder\n"
    "\n"
    "\"tolv restore DIR\" puts a backup back. Progress goes to standard error;\n"
    "the last line says what the receiver is left in and what to do next.\n"
    "The loader, which carries no checksum, is read twice and the two reads\n"
    "compared: when they differ, no backup is made and the loader is named.\n"
    "Exit status: 0 when the backup is complete and verified, 1 another\n"
    "failure, 2 a wrong command line, 3 port or receiver not reached (or lost),\n"
    "4 the two reads of the loader differ, 130 cancelled.\n"
    "\n"
    "Examples:\n"
    "  tolv backup --port USB\n"
    "  tolv backup --port /dev/ttyUSB0 --reboot backups/living-room\n",
    &RunBackup};

}  // namespace tolv::cli
