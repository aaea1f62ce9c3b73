// tolv upload: the inputs of "tolv convert", then To Toppy.
#include "cli/cli_command.h"
#include "cli/steps.h"
#include "cli/sysid_advice.h"
#include "cli/transfer_console.h"
#include "cli/upload_plan.h"
#include "results/result_codes.h"
#include "workspace/commands.h"

namespace tolv::cli {
namespace {

struct UploadArgs {
  UploadRequest request;
  bool only = false;
  std::optional<bool> reboot;  // --reboot, --no-reboot
  bool yes = false;            // answers the questions of the operations among the inputs
  bool forceModel = false;
  std::optional<int> timeoutSeconds;
  int32_t systemId = 0;  // 0: the one the inputs carry
  std::vector<Step> inputs;
};

UploadArgs ParseUploadArgs(const std::vector<std::string>& args) {
  UploadArgs parsed;
  parsed.request.selection.fill(true);
  parsed.request.reportFailures = false;  // the final line says it
  parsed.request.askForSystemId = false;  // the inputs or --sysid give it
  for (size_t i = 0; i < args.size();) {
    const std::string& arg = args[i];
    if (arg == "--") {
      for (++i; i < args.size(); ++i) parsed.inputs.push_back(ParsePlainInput(args[i], {true, true, false}));
      break;
    }
    const bool takesValue = arg == "--port" || arg == "--only" || arg == "--sysid" || arg == "--timeout";
    if (takesValue && i + 1 >= args.size()) throw UsageError(arg + " needs a value");
    if (arg == "--port") {
      parsed.request.port = args[i + 1];
    } else if (arg == "--only") {
      parsed.request.selection = ParseOnlyList(args[i + 1], true);
      parsed.only = true;
    } else if (arg == "--sysid") {
      parsed.systemId = ParseSendSystemId(args[i + 1]);
    } else if (arg == "--timeout") {
      parsed.timeoutSeconds = ParseTimeoutSeconds(args[i + 1]);
    } else if (arg == "--reboot" || arg == "--no-reboot") {
      parsed.reboot = arg == "--reboot";
      ++i;
      continue;
    } else if (arg == "--log" || arg == "--force-model") {
      (arg == "--log" ? parsed.request.log : parsed.forceModel) = true;
      ++i;
      continue;
    } else if (arg == "--yes" || arg == "-y") {
      parsed.yes = true;
      ++i;
      continue;
    } else if (std::optional<Step> step = ParseStep(args, i, StepSyntax{true, true, false})) {
      parsed.inputs.push_back(std::move(*step));
      continue;
    } else {
      throw UsageError("unknown option \"" + arg + "\"");
    }
    i += 2;
  }
  if (parsed.request.port.empty()) throw UsageError("--port PORT is needed (\"tolv ports\" lists them)");
  if (parsed.inputs.empty()) throw UsageError("no input given: nothing to send");
  return parsed;
}

int RunUpload(const std::vector<std::string>& args) {
  const UploadArgs parsed = ParseUploadArgs(args);
  ProgressDisplay display(stderr, StderrIsTerminal());
  display.SetWaitsForLoader(true);
  TransferConsole ui({.reboot = parsed.reboot, .answerYes = parsed.yes, .forceModel = parsed.forceModel},
                     display);
  Workspace workspace;
  if (const Outcome loaded = RunSteps(parsed.inputs, workspace, ui); loaded.Stops())
    return ExitStatus(loaded);
  UploadRequest request = parsed.request;
  if (const Outcome ready =
          Upload_ReadyToSend("upload", parsed.systemId, parsed.only, workspace, request, ui);
      ready.Stops())
    return ExitStatus(ready);
  NoteSystemIdFit(workspace, ui);
  UploadReport report;
  ReceiverWait wait(request.port, parsed.timeoutSeconds, comm_status::kUploadMode);
  {
    InterruptGuard interrupt;
    report = Transfer_ToToppy(workspace, ui, request, ConsoleTransferHooks(display, true, wait));
  }
  display.EndLine();
  const std::string left = ReceiverLeftText(ReceiverLeftAfter(report.opened, report.rebooted), request.port);
  if (wait.timedOut()) {
    ui.Failure(wait.GaveUpText() + " Nothing sent.");
    ui.Note(left);
    return kExitFailure;
  }
  ui.Note(Upload_SummaryText(report));
  if (report.result == result::kTfdUploadOpenFailed) ui.Note(SerialOpenFailureText());
  if (report.started) ui.Note(left);
  return ExitStatus(report.outcome);
}

}  // namespace

const CliCommand kUploadCommand = {
    "upload", "send components to a receiver (To Toppy)",
    "usage: tolv upload --port PORT [--only LIST] [--sysid N] [--force-model]\n"
    "                   [--timeout SECONDS] [--reboot | --no-reboot] [--log] [--yes]\n"
    "                   INPUT...\n"
    "\n"
    "Loads the inputs as \"tolv convert\" does, then reboots the receiver, waits\n"
    "until its loader is ready to take data and lets it fetch the components as\n"
    "one TFD image. Settings and defaults are packed for the SystemID; the\n"
    "settings and EEPROM go with the checksums they hold.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\")\n"
    "  --only LIST    components to send, separated by commas: loader, firmware,\n"
    "                 settings (or flash), eeprom, defaults, background\n"
    "                 (default: every component the inputs hold)\n"
    "  --sysid N      the receiver's SystemID (default: the one the inputs carry,\n"
    "                 e.g. from an STD or TFD file). Without one nothing is sent.\n"
    "  --force-model  send the image also when the receiver reports another\n"
    "                 SystemID (without it the command refuses, exit status 1)\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write TolvPack.log and CommDump.bin in the current folder\n"
    "  --yes          answer Yes to the questions of the operations (\"Unload flash?\");\n"
    "                 without it they are asked on a terminal, and fail otherwise\n"
    "Inputs (and operations) as in \"tolv convert\": NAME.std, NAME.dmp,\n"
    "NAME.tfd, KIND=FILE, block=FILE, a folder DIR/ of KIND.bin files,\n"
    "--flash-to-defaults, ...\n"
    "\n"
    "The receiver's SystemID is compared with the image's before anything is\n"
    "sent. An empty firmware is never sent. Progress goes to standard error;\n"
    "when the receiver has not answered after a few seconds, a line says so.\n"
    "Ctrl-C cancels cleanly (a second Ctrl-C ends the program at once). The\n"
    "last lines say what went and what failed, what the receiver is left in\n"
    "and what to do next.\n"
    "Exit status: 0 when everything chosen was sent, 1 otherwise, 2 when the\n"
    "command line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tolv upload --port USB settings.std\n"
    "  tolv upload --port /dev/ttyUSB0 --sysid 406 firmware=fw.bin\n"
    "  tolv upload --port USB --only settings,eeprom --reboot backup.tfd\n"
    "  tolv upload --port USB --sysid 406 backup/\n",
    &RunUpload};

}  // namespace tolv::cli
