// A receiver emulator wired to a link of its own, over emulated USB pipes or
// a pseudo-terminal, and the receiver memory the end-to-end tests start from.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "pty_port.h"
#include "receiver.h"
#include "usb_pipes.h"
#include "workspace/transfers.h"

namespace tolv::test {

// Quick boots and generous waits: the tests do not wait for realism.
sim::ReceiverOptions FastOptions();

// A receiver memory for SystemID 406 with DVB-s settings (recognisable), a
// firmware of firmwareSize bytes (compressible text and incompressible noise),
// factory defaults and distinct loader, EEPROM and background.
sim::ReceiverMemory TestMemory(size_t firmwareSize = 4 * 1024 * 1024);

// The default EEPROM packed into TestMemory's defaults.
std::vector<uint8_t> TestDefaultEeprom();

// A 524,288-byte settings image that Flash_RecogniseLayout takes for DVB-s,
// every section checksum right.
std::vector<uint8_t> DvbSSettings(uint32_t seed);

// The emulated receiver and a link that finds it.
class SimRig {
 public:
  // USB through emulated pipes (bytesPerSecond 0: unpaced).
  static std::unique_ptr<SimRig> Usb(sim::ReceiverMemory memory, sim::ReceiverOptions options = FastOptions(),
                                     uint32_t bytesPerSecond = 0);
  // A serial line over a pseudo-terminal (bytesPerSecond 0: unpaced).
  static std::unique_ptr<SimRig> Serial(sim::ReceiverMemory memory,
                                        sim::ReceiverOptions options = FastOptions(),
                                        uint32_t bytesPerSecond = 0);

  Link& link() { return *link_; }
  sim::Receiver& receiver() { return sim_->receiver(); }
  sim::ReceiverPort& port() { return sim_->port(); }
  // "USB" or the pseudo-terminal's path.
  const std::string& portName() const { return portName_; }

 private:
  SimRig() = default;
  std::unique_ptr<sim::SimulatedReceiver> sim_;
  std::unique_ptr<Link> link_;
  std::string portName_;
};

// Records what a workflow shows, and cancels the link when told to.
struct ProgressWatcher {
  std::vector<uint8_t> statuses;
  std::vector<double> values;
  std::vector<std::string> statusLines;
  // Checked at every status; the first time it says yes, the link is
  // cancelled from inside the callback, as the window's button does.
  std::function<bool(uint8_t status, double value)> cancelWhen;
  Link* link = nullptr;

  TransferHooks Hooks();
  int Count(uint8_t status) const;
};

DownloadRequest MakeDownload(const SimRig& rig, ComponentSelection selection);
UploadRequest MakeUpload(const SimRig& rig, ComponentSelection selection);

// Every component selected.
ComponentSelection AllComponents();
ComponentSelection Only(std::initializer_list<ComponentKind> kinds);

// Unpacks a packed settings or defaults block into a fresh image of size
// bytes (zero-filled before).
std::vector<uint8_t> Unpacked(const std::vector<uint8_t>& packed, size_t size);

}  // namespace tolv::test
