// toppy-sim --usb: the emulated receiver as a USB device that a command finds
// through libusb as it would a real receiver, for as long as the command runs.
#pragma once

#include <signal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "receiver.h"

namespace tolv::sim {

// How the device presents itself on the bus.
struct UsbDeviceSwitches {
  int appearAfterMs = 0;          // the device comes onto the bus this long after the command starts
  bool kernelDriver = false;      // a kernel driver holds the interface until it is detached
  bool interfaceBusy = false;     // another program has claimed the interface
  bool nodeNotPermitted = false;  // the device node may not be opened (mode 0000)
};

struct UsbSessionOptions {
  bool enabled = false;              // --usb
  UsbDeviceSwitches device;          // --usb-appear-ms, --usb-kernel-driver, ...
  std::vector<std::string> command;  // what follows "--"
};

// The help text of the USB options.
extern const char* const kUsbUsage;

// Takes the USB option at args[i] (with its value at args[i + 1], then i is
// moved past it) into options. False when args[i] is not a USB option.
// Throws std::invalid_argument for a missing or bad value.
bool ParseUsbOption(const std::vector<std::string>& args, size_t& i, UsbSessionOptions& options);

// Starts the receiver on the given port; the receiver runs until the caller
// destroys what it made.
using StartReceiver = std::function<void(std::unique_ptr<ReceiverPort> port)>;

// Puts the receiver on an emulated USB bus, runs options.command (looked up in
// PATH) with the bus visible to libusb, and returns the command's exit status
// (128 + the signal number when a signal ended it). Ctrl-C at a terminal
// reaches the command itself; a stop signal that toppy-sim is sent
// (stopSignal, set by its handler) other than SIGINT is passed on to the
// command. Throws std::runtime_error when the bus cannot be made (umockdev
// missing) or the command cannot be started.
int RunUsbSession(const UsbSessionOptions& options, const StartReceiver& start,
                  const volatile sig_atomic_t& stopSignal);

}  // namespace tolv::sim
