// tolv upload: the inputs of "tolv convert", then To Toppy.
#include <chrono>
#include "cli/cli_command.h"

#include "cli/send_verify.h"
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
  bool verify = true;  // --no-verify turns the read-back off
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
    } else if (arg == "--verify" || arg == "--no-verify") {
      parsed.verify = arg == "--verify";
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

// The command that sends the loader alone again: this one with
// "--only loader" in place of any --only list.
std::string ResendLoaderCommand(const std::vector<std::string>& args, const std::string& port) {
  std::string command = "tolv upload --only loader";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--only" || args[i] == "--port") {
      ++i;
      continue;
    }
    if (args[i] == "--yes" || args[i] == "-y" || args[i] == "--no-verify") continue;
    command += " " + (args[i].find(' ') == std::string::npos ? args[i] : "\"" + args[i] + "\"");
  }
  return command + " --port " + port;
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
  if (const std::string fault = SerialPortFault(request.port); !fault.empty()) {
    ui.Failure(fault);
    return ExitStatus(Outcome::Failed(fault, FailureCause::kNotReached));
  }
  if (const Outcome asked = Upload_AskForLoader(request, ui); asked.Stops()) return ExitStatus(asked);
  // Asked at the very end, after the read-back, and only when safe.
  ui.DeferRebootQuestion(true);
  const auto start = std::chrono::steady_clock::now();
  const SendResult sent =
      Send_AndVerify({parsed.verify, parsed.timeoutSeconds, request.log}, workspace, request, display, ui);
  Send_Closing(sent, request.port, ResendLoaderCommand(args, request.port), SecondsSince(start), ui);
  return ExitStatus(sent.outcome);
}

}  // namespace

const CliCommand kUploadCommand = {
    "upload", "send components to a receiver (To Toppy)",
    "usage: tolv upload --port PORT [--only LIST] [--sysid N] [--force-model]\n"
    "                   [--no-verify] [--timeout SECONDS] [--reboot | --no-reboot]\n"
    "                   [--log] [--yes]\n"
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
    "                 SystemID (without it the command refuses, exit status 5)\n"
    "  --no-verify    do not read what was sent back; by default it is read back\n"
    "                 and compared (exit status 4 naming each component that\n"
    "                 differs). --verify is the default.\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write TolvPack.log and CommDump.bin in the current folder\n"
    "  --yes          answer Yes to the questions: writing the loader, which is\n"
    "                 asked on its own, and those of the operations (\"Unload\n"
    "                 flash?\"); without it they are asked on a terminal, and fail\n"
    "                 otherwise\n"
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
    "When the loader read back wrong, or was sent and not checked, no reboot is\n"
    "asked or advised: the last line gives the command that sends it again.\n"
    "Exit status: 0 when everything chosen was sent and read back the same, 1\n"
    "another failure, 2 a wrong command line, 3 port or receiver not reached\n"
    "(or lost), 4 read back different, 5 input refused, 130 cancelled.\n"
    "\n"
    "Examples:\n"
    "  tolv upload --port USB settings.std\n"
    "  tolv upload --port /dev/ttyUSB0 --sysid 406 firmware=fw.bin\n"
    "  tolv upload --port USB --only settings,eeprom --reboot backup.tfd\n"
    "  tolv upload --port USB --sysid 406 backup/\n",
    &RunUpload};

}  // namespace tolv::cli
