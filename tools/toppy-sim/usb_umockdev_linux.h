// The emulated receiver as a USB device on an emulated bus (umockdev), for
// programs that reach it through libusb as they would a real receiver.
//
// The bus is an umockdev testbed: a folder that stands in for /sys and /dev
// for every process that runs with the umockdev preload library and the
// testbed's environment (ChildEnvironment). The receiver appears there as USB
// device 11db:1000 with one interface, a bulk OUT endpoint 0x01 and a bulk IN
// endpoint 0x81 of 512-byte packets; its node's ioctls (libusb's usbdevfs
// requests) are served by a UsbdevfsNode.
//
// Every appearance on the bus gets the next device number and a new node, as
// on a real bus: a reboot takes the device off the bus and brings it back, so
// a program's open handle fails and the program finds the device anew.
//
// The testbed's ioctl handlers run on a GLib main loop in a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver.h"
#include "usbdevfs_linux.h"

namespace tolv::sim {

class UsbBusThread;

class UmockdevUsbPort : public ReceiverPort, private UsbWire {
 public:
  // Makes the testbed; the device is on the bus at once unless
  // switches.appearAfterMs asks for later (StartClock starts that count).
  // Throws std::runtime_error when the testbed cannot be made.
  explicit UmockdevUsbPort(const UsbDeviceSwitches& switches);
  ~UmockdevUsbPort() override;

  // Variables to add to a program's environment so that it sees the testbed
  // (UMOCKDEV_DIR, LD_PRELOAD, ASAN_OPTIONS), with the values to set.
  std::map<std::string, std::string> ChildEnvironment() const;

  // The program that is to find the device starts now: a device that is to
  // appear late comes onto the bus appearAfterMs from now.
  void StartClock();

  bool IsUsb() const override { return true; }
  std::optional<SimPacket> Receive(SimClock::time_point deadline, const std::stop_token& stop) override;
  void Send(const std::vector<uint8_t>& bytes, const std::stop_token& stop) override;
  void BeginReboot() override;
  void EndReboot() override;
  void Disconnect() override;

 private:
  void FromHost(std::span<const uint8_t> bytes, bool endsTransfer) override;
  int64_t ToHost(uint8_t* dst, size_t capacity) override;

  void Plug();
  void Unplug();

  const UsbDeviceSwitches switches_;
  std::unique_ptr<UsbBusThread> bus_;
  std::jthread appearTimer_;

  std::mutex mutex_;
  std::condition_variable_any changed_;
  bool plugged_ = false;
  bool pulled_ = false;                          // Disconnect: off the bus for good
  std::vector<uint8_t> fromHost_;                // an OUT transfer being put together
  std::deque<std::vector<uint8_t>> toReceiver_;  // complete transfers from the host
  std::deque<std::vector<uint8_t>> toHost_;      // replies, each padded to whole packets
  size_t toHostSent_ = 0;                        // bytes of toHost_.front() already sent
  UsbdevfsNode* node_ = nullptr;                 // the node of the current appearance
};

}  // namespace tolv::sim
