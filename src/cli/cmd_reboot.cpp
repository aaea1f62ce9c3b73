// tolv reboot: restart the receiver.
#include "cli/cli_command.h"
#include "cli/send_verify.h"
#include "cli/steps.h"
#include "cli/transfer_console.h"
#include "results/result_codes.h"
#include "workspace/transfer_runner.h"

namespace tolv::cli {
namespace {

int RunReboot(const std::vector<std::string>& args) {
  std::string port;
  std::optional<int> timeoutSeconds;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--port" && i + 1 < args.size()) {
      port = args[++i];
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeoutSeconds = ParseTimeoutSeconds(args[++i]);
    } else if (args[i] == "--" && i + 1 == args.size()) {
      break;  // the end of the options; this command takes nothing else
    } else {
      throw UsageError("unknown option \"" + args[i] + "\"");
    }
  }
  if (port.empty()) throw UsageError("--port PORT is needed (\"tolv ports\" lists them)");
  ProgressDisplay display(stderr, StderrIsTerminal());
  InterruptGuard interrupt;
  // The receiver has answered as soon as its port is open.
  ReceiverWait wait(port, timeoutSeconds, comm_status::kDeviceOpened);
  const TransferHooks hooks = ConsoleTransferHooks(display, false, wait);
  // Open (waiting for a USB receiver until it comes, Ctrl-C or the time-out),
  // reboot, close. Only a command written to the receiver counts.
  const RebootReport report = LinkTransfers().Reboot(port, hooks);
  display.EndLine();
  std::string failure;
  if (wait.timedOut()) {
    failure = "Not rebooted: " + wait.GaveUpText();
  } else if (report.openResult == result::kOpenSerialFailed && !SerialOpenFailureText().empty()) {
    failure = SerialOpenFailureText();
  } else if (report.result != result::kOk) {
    failure = "Not rebooted: " + Send_PlainText(Result_Text(report.result));
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    // A cancel ends the wait for the receiver: the user stopped it.
    const bool cancelled = report.result == result::kOpenUsbCanceled && !wait.timedOut();
    return ExitStatus(cancelled ? Outcome::Cancelled(failure)
                                : Outcome::Failed(failure, FailureCause::kNotReached));
  }
  std::fprintf(stderr, "Reboot sent to the receiver on %s.\n", port.c_str());
  return ExitStatus(Outcome::Done());
}

}  // namespace

const CliCommand kRebootCommand = {
    "reboot", "restart a receiver",
    "usage: tolv reboot --port PORT [--timeout SECONDS]\n"
    "\n"
    "Sends the reboot command to the receiver on PORT (USB, or a serial port\n"
    "such as /dev/ttyUSB0). On USB it waits until a receiver is there; Ctrl-C\n"
    "or --timeout SECONDS stops the wait.\n"
    "Exit status: 0 when the command was written to the receiver, 2 when the\n"
    "command line is wrong, 3 when the port could not be opened, the wait timed\n"
    "out or the command could not be written, 130 when the wait was cancelled.\n"
    "\n"
    "Example:\n"
    "  tolv reboot --port USB\n",
    &RunReboot};

}  // namespace tolv::cli
