// tolv ports: where a receiver can be reached.
#include "cli/cli_command.h"
#include "cli/ports_platform.h"
#include "cli/steps.h"
#include "link/comm.h"

namespace tolv::cli {
namespace {

int RunPorts(const std::vector<std::string>& args) {
  if (!args.empty() && !(args.size() == 1 && args[0] == "--")) throw UsageError("takes no arguments");
  std::string diagnostic;
  const bool present = Comm_UsbReceiverPresent(&diagnostic);
  std::string usb = "USB";
  if (present) {
    usb += "  (receiver found)";
  } else if (!diagnostic.empty()) {
    usb += "  (receiver present but not usable: " + Ports_UsbAdvice(diagnostic) + ")";
  } else {
    usb += "  (no receiver attached)";
  }
  std::printf("%s\n", usb.c_str());
  for (const SerialPortEntry& port : Ports_SerialPorts()) {
    if (port.fault.empty()) std::printf("%s\n", port.name.c_str());
    if (!port.fault.empty())
      std::printf("%s  (cannot be opened: %s)\n", port.name.c_str(), port.fault.c_str());
  }
  return ExitStatus(Outcome::Done());
}

}  // namespace

const CliCommand kPortsCommand = {"ports", "list the ports a receiver can be reached on",
                                  "usage: tolv ports\n"
                                  "\n"
                                  "Prints \"USB\" (with whether a receiver is attached and usable) and then\n"
                                  "every serial port of this machine, one a line; a port that is there\n"
                                  "but cannot be opened now (no permission, in use) says why.\n"
                                  "Any of them is a --port of download, upload and reboot; a serial port\n"
                                  "not listed (a pseudo-terminal, say) can be given by its path too.\n"
                                  "\n"
                                  "Example:\n"
                                  "  tolv ports\n",
                                  &RunPorts};

}  // namespace tolv::cli
