// tolv reboot: restart the receiver.
#include "cli/cli_command.h"
#include "cli/steps.h"
#include "cli/transfer_console.h"
#include "link/comm.h"
#include "results/result_codes.h"

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
  const int32_t opened = Comm_Open(port, hooks.progress);
  const int32_t rebooted = opened == result::kOk ? Comm_Reboot() : opened;
  Comm_Close();
  display.EndLine();
  if (wait.timedOut()) {
    std::fprintf(stderr, "Not rebooted: %s\n", wait.GaveUpText().c_str());
    return kExitFailure;
  }
  if (rebooted != result::kOk) {
    // The code's text, and for a serial port the reason behind it.
    const std::string why = opened == result::kOpenSerialFailed ? Comm_OpenDiagnostic() : std::string();
    std::fprintf(stderr, "Not rebooted: %s%s\n", Result_Text(rebooted).c_str(),
                 why.empty() ? "" : (" (" + why + ")").c_str());
    return kExitFailure;
  }
  std::fprintf(stderr, "Reboot sent to the receiver on %s.\n", port.c_str());
  return kExitOk;
}

}  // namespace

const CliCommand kRebootCommand = {
    "reboot", "restart a receiver",
    "usage: tolv reboot --port PORT [--timeout SECONDS]\n"
    "\n"
    "Sends the reboot command to the receiver on PORT (USB, or a serial port\n"
    "such as /dev/ttyUSB0). On USB it waits until a receiver is there; Ctrl-C\n"
    "or --timeout SECONDS stops the wait.\n"
    "Exit status: 0 when the command was written to the receiver, 1 when the\n"
    "port could not be opened, the wait was cancelled or timed out, or the\n"
    "command could not be written, 2 when the command line is wrong.\n"
    "\n"
    "Example:\n"
    "  tolv reboot --port USB\n",
    &RunReboot};

}  // namespace tolv::cli
