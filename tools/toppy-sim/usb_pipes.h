// The emulated receiver behind a pair of emulated USB bulk pipes, in the same
// process as the link: the host side is a tolv::Transport that the link finds
// through its USB provider hook, the receiver side is a ReceiverPort.
//
// Like the real cable: every write of the host is one bulk transfer to the
// receiver; every read returns one bulk transfer from the receiver (one reply
// packet padded to a multiple of 512 bytes) or times out, leaving any later
// reply queued for the next read. While the receiver reboots it is off the
// bus: the provider finds nothing and transports opened before fail.
#pragma once

#include <cstdint>
#include <memory>

#include "link/transport.h"
#include "receiver.h"

namespace tolv::sim {

struct UsbBus;

class EmulatedUsbPort : public ReceiverPort {
 public:
  // bytesPerSecond paces the receiver's replies (0: as fast as they are read).
  explicit EmulatedUsbPort(uint32_t bytesPerSecond = 0);
  ~EmulatedUsbPort() override;

  // The host's way to the device: an open transport while the device is on
  // the bus, else nullptr (with an empty diagnostic). Stays usable after the
  // port is gone (then it finds nothing).
  UsbProvider Provider() const;

  // Bulk transfers moved so far, each way.
  int64_t TransfersToReceiver() const;
  int64_t TransfersToHost() const;

  bool IsUsb() const override { return true; }
  std::optional<SimPacket> Receive(SimClock::time_point deadline, const std::stop_token& stop) override;
  void Send(const std::vector<uint8_t>& bytes, const std::stop_token& stop) override;
  void BeginReboot() override;
  void EndReboot() override;
  void Disconnect() override;

 private:
  std::shared_ptr<UsbBus> bus_;
};

// Makes the link find the given port's device as its USB receiver for the
// life of this object; the link's own USB access comes back afterwards.
class ScopedUsbProvider {
 public:
  explicit ScopedUsbProvider(const EmulatedUsbPort& port) { Link_SetUsbProvider(port.Provider()); }
  ~ScopedUsbProvider() { Link_SetUsbProvider({}); }
  ScopedUsbProvider(const ScopedUsbProvider&) = delete;
  ScopedUsbProvider& operator=(const ScopedUsbProvider&) = delete;
};

}  // namespace tolv::sim
