// tolv download: From Toppy, then the outputs of "tolv convert".
#include <algorithm>

#include "cli/cli_command.h"
#include "cli/output_check.h"
#include "cli/send_verify.h"
#include "cli/steps.h"
#include "cli/transfer_console.h"
#include "common/file_io.h"
#include "common/save_interrupt.h"
#include "results/result_codes.h"

namespace tolv::cli {
namespace {

struct DownloadArgs {
  DownloadRequest request;
  std::optional<bool> reboot;  // --reboot, --no-reboot
  bool force = false;          // replace write-protected files
  std::optional<int> timeoutSeconds;
  std::vector<Step> outputs;
};

DownloadArgs ParseDownloadArgs(const std::vector<std::string>& args) {
  DownloadArgs parsed;
  parsed.request.selection = ParseOnlyList("loader,firmware,flash,eeprom,defaults", false);
  parsed.request.reportFailures = false;  // the final line says it
  for (size_t i = 0; i < args.size();) {
    const std::string& arg = args[i];
    if (arg == "--") {
      for (++i; i < args.size(); ++i)
        parsed.outputs.push_back(ParsePlainInput(args[i], {false, false, true}));
      break;
    }
    const bool hasValue = i + 1 < args.size();
    if ((arg == "--port" || arg == "--only" || arg == "--timeout") && !hasValue)
      throw UsageError(arg + " needs a value");
    if (arg == "--port") {
      parsed.request.port = args[i + 1];
      i += 2;
    } else if (arg == "--only") {
      parsed.request.selection = ParseOnlyList(args[i + 1], false);
      i += 2;
    } else if (arg == "--timeout") {
      parsed.timeoutSeconds = ParseTimeoutSeconds(args[i + 1]);
      i += 2;
    } else if (arg == "--reboot" || arg == "--no-reboot") {
      parsed.reboot = arg == "--reboot";
      ++i;
    } else if (arg == "--log" || arg == "--force") {
      (arg == "--log" ? parsed.request.log : parsed.force) = true;
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
  Outputs_CheckDistinct(parsed.outputs);
  return parsed;
}

// Every output checked before the receiver is touched, against the
// components that are to arrive: a folder that cannot be written, or an
// output that needs a component --only does not fetch, is found now rather
// than after the transfer. The SystemID comes from the receiver, so the
// forms that need one cannot be refused for the want of it here.
bool OutputsCanBeWritten(const DownloadArgs& parsed, ConsoleInteraction& ui) {
  Workspace expected;
  for (ComponentKind kind : kAllComponents)
    expected.Present(kind) = parsed.request.selection[static_cast<size_t>(kind)];
  const std::vector<std::string> faults = Outputs_CheckBeforehand(parsed.outputs, expected);
  for (const std::string& fault : faults) ui.Failure("tolv download: " + fault);
  if (!faults.empty()) ui.Note("Nothing was fetched: the outputs above could not be written.");
  return faults.empty();
}

// The outputs by what became of them, each by its text in quotes.
struct OutputsWritten {
  std::vector<std::string> written;
  std::vector<std::string> failed;  // each has told why
  std::vector<std::string> notRun;  // after a cancel
  bool cancelled = false;           // and a line has said which exist
  // Of all the outputs together: done when every one was written.
  Outcome outcome;
};

std::string List(const std::vector<std::string>& texts) {
  std::string list;
  for (const std::string& text : texts) list += (list.empty() ? "" : ", ") + text;
  return list;
}

// Writes every output, also after one has failed. Ctrl-C or a request to end
// the program stops the writing: the save under way is discarded (or
// finishes, when it is already replacing files), no later output is written,
// and a line says which outputs exist.
OutputsWritten WriteOutputs(const std::vector<Step>& outputs, Workspace& workspace, ConsoleInteraction& ui) {
  SaveInterruptGuard interrupt;
  OutputsWritten result;
  ReserveStandardOutput(outputs);
  for (const Step& output : outputs) {
    const std::string text = "\"" + output.text + "\"";
    if (SaveInterruptGuard::Requested()) {
      result.notRun.push_back(text);
      continue;
    }
    const Outcome written = RunSteps({output}, workspace, ui);
    (written.Stops() ? result.failed : result.written).push_back(text);
    result.outcome.Merge(written);
  }
  result.cancelled = SaveInterruptGuard::Requested();
  if (result.cancelled) {
    std::vector<std::string> missing = result.failed;
    missing.insert(missing.end(), result.notRun.begin(), result.notRun.end());
    const std::string line =
        "Cancelled while saving. Written: " + (result.written.empty() ? "none" : List(result.written)) +
        ". Not written: " + (missing.empty() ? "none" : List(missing)) + ".";
    ui.Failure(line);
    result.outcome.Merge(Outcome::Cancelled(line));
  }
  return result;
}

// The job's blocks in the order they come, with their sizes on the wire
// where they are known beforehand (the firmware's comes with it).
std::vector<int64_t> DownloadJob(const ComponentSelection& selection) {
  std::vector<int64_t> sizes;
  for (ComponentKind kind : kAllComponents) {
    if (!selection[static_cast<size_t>(kind)] || kind == ComponentKind::Background) continue;
    sizes.push_back(Transfer_WireSize(kind));
  }
  return sizes;
}

int RunDownload(const std::vector<std::string>& args) {
  const DownloadArgs parsed = ParseDownloadArgs(args);
  ProgressDisplay display(stderr, StderrIsTerminal());
  display.SetJob(DownloadJob(parsed.request.selection));
  display.SetWaitsForLoader(true);
  TransferConsole ui({.reboot = parsed.reboot}, display);
  ForceReplaceScope replaceProtected(parsed.force);
  if (!OutputsCanBeWritten(parsed, ui)) return ExitStatus(Outcome::Failed("outputs cannot be written"));
  Workspace workspace;
  DownloadReport report;
  // Asked at the end, and only when the receiver answered.
  ui.DeferRebootQuestion(true);
  const auto start = std::chrono::steady_clock::now();
  ReceiverWait wait(parsed.request.port, parsed.timeoutSeconds, comm_status::kDownloadMode);
  {
    InterruptGuard interrupt;
    report = Transfer_FromToppy(workspace, ui, parsed.request, ConsoleTransferHooks(display, false, wait));
  }
  display.EndLine();
  if (report.openResult == result::kOpenSerialFailed && !SerialOpenFailureText().empty()) {
    // The reason once, in one line.
    ui.Failure(SerialOpenFailureText());
    return ExitStatus(Outcome::Failed(SerialOpenFailureText(), FailureCause::kNotReached));
  }
  if (wait.timedOut()) {
    ui.Failure(wait.GaveUpText() + " Nothing written.");
    FinishDownload(report, parsed.request.port, SecondsSince(start), ui);
    return ExitStatus(Outcome::Failed(wait.GaveUpText(), FailureCause::kNotReached));
  }
  Outcome outcome = report.outcome;
  const bool anyStored = std::any_of(report.blocks.begin(), report.blocks.end(),
                                     [](const BlockOutcome& block) { return block.stored; });
  // What arrived is written even when another block failed, and every output
  // is tried even when another failed; a cancel writes nothing, as asked
  // (also when it came only after the last block had arrived).
  OutputsWritten outputs;
  if (outcome.IsCancelled()) {
    ui.Note("Cancelled; nothing written.");
  } else if (anyStored) {
    outputs = WriteOutputs(parsed.outputs, workspace, ui);
    outcome.Merge(outputs.outcome);
  }
  ui.Note(Send_PlainText(Transfer_Summary(report)));
  if (!outputs.failed.empty() && !outputs.cancelled) ui.Note("Not written: " + List(outputs.failed) + ".");
  FinishDownload(report, parsed.request.port, SecondsSince(start), ui);
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kDownloadCommand = {
    "download", "fetch components from a receiver (From Toppy) and save them",
    "usage: tolv download --port PORT [--only LIST] [--timeout SECONDS]\n"
    "                     [--reboot | --no-reboot] [--log] [--force] -o OUTPUT...\n"
    "\n"
    "Reboots the receiver, waits until its loader answers, fetches the chosen\n"
    "components into a workspace and saves them with the outputs of\n"
    "\"tolv convert\". The receiver's SystemID comes along.\n"
    "\n"
    "  --port PORT    USB, or a serial port such as /dev/ttyUSB0 (\"tolv ports\")\n"
    "  --only LIST    components to fetch, separated by commas: loader, firmware,\n"
    "                 settings (or flash), eeprom, defaults (default: all five;\n"
    "                 the background is never fetched)\n"
    "  --timeout SECONDS  give up when the receiver has not answered within\n"
    "                 SECONDS (default: wait until Ctrl-C)\n"
    "  --reboot, --no-reboot  answer \"Reboot the Toppy?\" at the end with Yes\n"
    "                 or No (without either it is asked on a terminal, else No)\n"
    "  --log          write the link's log TolvPack.log and the raw bytes\n"
    "                 CommDump.bin in the current folder\n"
    "  --force        replace write-protected output files (they stay\n"
    "                 write-protected); without it they are refused\n"
    "Outputs:\n"
    "  -o DIR/        every component that arrived as DIR/KIND.bin\n"
    "  -o NAME.std    settings and EEPROM as an STD file\n"
    "  -o NAME.dmp    the settings as a flash dump\n"
    "  -o NAME.tfd    every component that arrived as a TFD file\n"
    "  -o KIND=FILE   one component as a BIN file\n"
    "\n"
    "The outputs are checked before the receiver is touched: an output whose\n"
    "folder cannot be written, that names a folder, device or write-protected\n"
    "file, that needs a component --only leaves out, or two outputs that name\n"
    "one file, stop the command at once. A received settings or defaults\n"
    "block is kept only when every checksum of its packed form holds; settings\n"
    "whose section checksums, or an EEPROM whose record checksums, do not match\n"
    "are kept as they are, and the last line names them (saving an STD file, a\n"
    "TFD file or a flash dump rewrites them).\n"
    "Progress goes to standard error. When the receiver has not answered after\n"
    "a few seconds, a line says so. Ctrl-C cancels the transfer cleanly (a\n"
    "second Ctrl-C ends the program at once); nothing is written then. What\n"
    "arrived is saved even when another component failed, and every output is\n"
    "written even when another failed. The last lines say what arrived and\n"
    "what did not, and which outputs could not be written; the very last one\n"
    "what the receiver is left in and what to do next. Ctrl-C while the\n"
    "outputs are written stops there: the save under way is discarded (or\n"
    "finished, when it is already replacing files), no temporary file is\n"
    "left, and a line says which outputs were written and which were not.\n"
    "Exit status: 0 when every chosen component arrived and was saved, 1\n"
    "another failure, 2 a wrong command line, 3 port or receiver not reached\n"
    "(also after --timeout, or a pulled cable), 130 cancelled.\n"
    "\n"
    "Examples:\n"
    "  tolv download --port USB -o backup/\n"
    "  tolv download --port /dev/ttyUSB0 --only settings,eeprom -o settings.std\n"
    "  tolv download --port USB --only firmware --reboot --log -o firmware=fw.bin\n",
    &RunDownload};

}  // namespace tolv::cli
