// tolv download: From Toppy, then the outputs of "tolv convert".
#include <algorithm>

#include "cli/cli_command.h"
#include "cli/steps.h"
#include "cli/transfer_console.h"

namespace tolv::cli {
namespace {

struct DownloadArgs {
  DownloadRequest request;
  bool reboot = false;
  std::vector<Step> outputs;
};

DownloadArgs ParseDownloadArgs(const std::vector<std::string>& args) {
  DownloadArgs parsed;
  parsed.request.selection = ParseOnlyList("loader,firmware,flash,eeprom,defaults", false);
  parsed.request.reportFailures = false;  // the final line says it
  for (size_t i = 0; i < args.size();) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if ((arg == "--port" || arg == "--only") && !hasValue) throw UsageError(arg + " needs a value");
    if (arg == "--port") {
      parsed.request.port = args[i + 1];
      i += 2;
    } else if (arg == "--only") {
      parsed.request.selection = ParseOnlyList(args[i + 1], false);
      i += 2;
    } else if (arg == "--reboot" || arg == "--log") {
      (arg == "--reboot" ? parsed.reboot : parsed.request.log) = true;
      ++i;
    } else if (std::optional<Step> step = ParseStep(args, i, StepSyntax{false, false, true})) {
      parsed.outputs.push_back(std::move(*step));
    } else {
      throw UsageError("unknown option \"" + arg + "\"");
    }
  }
  if (parsed.request.port.empty()) throw UsageError("--port PORT is needed (\"tolv ports\" lists them)");
  if (parsed.outputs.empty())
    throw UsageError("no output given: what arrives would be lost (-o DIR/ keeps it all)");
  return parsed;
}

int RunDownload(const std::vector<std::string>& args) {
  const DownloadArgs parsed = ParseDownloadArgs(args);
  ProgressDisplay display(stderr, StderrIsTerminal());
  TransferConsole ui(parsed.reboot, display);
  Workspace workspace;
  DownloadReport report;
  {
    InterruptGuard interrupt;
    report = Transfer_FromToppy(workspace, ui, parsed.request, ConsoleTransferHooks(display, false));
  }
  display.EndLine();
  int status = report.AllStored() && !ui.failureReported() ? kExitOk : kExitFailure;
  const bool anyStored = std::any_of(report.blocks.begin(), report.blocks.end(),
                                     [](const BlockOutcome& block) { return block.stored; });
  // What arrived is written even when another block failed; a cancel writes
  // nothing, as asked.
  if (report.canceled) {
    ui.Note("Cancelled; nothing written.");
  } else if (anyStored && RunSteps(parsed.outputs, workspace, ui) != kExitOk) {
    status = kExitFailure;
  }
  ui.Note(Transfer_Summary(report));
  return status;
}

}  // namespace

const CliCommand kDownloadCommand = {
    "download", "fetch components from a receiver (From Toppy) and save them",
    "usage: tolv download --port PORT [--only LIST] [--reboot] [--log] -o OUTPUT...\n"
    "\n"
    "Reboots the receiver, waits until its loader answers, fetches the chosen\n"
    "components into a workspace and saves them with the outputs of\n"
    "\"tolv convert\". The receiver's SystemID comes along.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\")\n"
    "  --only LIST    components to fetch, separated by commas: loader, firmware,\n"
    "                 settings (or flash), eeprom, defaults (default: all five;\n"
    "                 the background is never fetched)\n"
    "  --reboot       answer Yes to \"Reboot the Toppy?\" at the end\n"
    "  --log          write the link's log TolvPack.log and the raw bytes\n"
    "                 CommDump.bin in the current folder\n"
    "Outputs:\n"
    "  -o DIR/        every component that arrived as DIR/KIND.bin\n"
    "  -o NAME.std    settings and EEPROM as an STD file\n"
    "  -o NAME.dmp    the settings as a flash dump\n"
    "  -o NAME.tfd    every component that arrived as a TFD file\n"
    "  -o KIND=FILE   one component as a BIN file\n"
    "\n"
    "Progress goes to standard error. Ctrl-C cancels the transfer cleanly (a\n"
    "second Ctrl-C ends the program at once); nothing is written then. What\n"
    "arrived is saved even when another component failed. The last line says\n"
    "what arrived and what did not, and why.\n"
    "Exit status: 0 when every chosen component arrived and was saved, 1\n"
    "otherwise, 2 when the command line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tolv download --port USB -o backup/\n"
    "  tolv download --port /dev/ttyUSB0 --only settings,eeprom -o settings.std\n"
    "  tolv download --port USB --only firmware --reboot --log -o firmware=fw.bin\n",
    &RunDownload};

}  // namespace tolv::cli
