// One appearance of the emulated receiver on the bus, as the kernel's usbdevfs
// interface shows it to libusb: the device node's ioctls served from an
// umockdev ioctl handler.
//
// libusb talks to a USB device through ioctls on its node /dev/bus/usb/BBB/DDD:
// it asks for the driver's capabilities, which kernel driver holds an
// interface (and has it let go), claims the interface, submits URBs (one bulk
// transfer each), waits with poll() until one is complete, reaps it, and
// discards the ones it gives up on. This class answers those ioctls for one
// device node. The node itself is a FIFO that the class keeps "writable"
// (POLLOUT, what libusb waits for) exactly while a completed URB waits to be
// reaped, so that a waiting libusb sleeps instead of spinning.
//
// The bytes move through a UsbWire: an OUT URB's data goes to the receiver,
// an IN URB is filled from the receiver's next reply (a reply longer than the
// URB continues in the next one, as on a real bus). libusb splits a long
// transfer into URBs that continue one another (flag BULK_CONTINUATION, all
// but the last SHORT_NOT_OK); as the kernel does, a short packet ends the
// transfer: that URB completes with -EREMOTEIO and the URBs continuing it
// with -ECONNRESET, without data, so that the next reply waits for the next
// transfer.
//
// Thread-safety: every member may be called from any thread; one lock guards
// the state. The wire is called with that lock held and must not call back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "usb_session.h"

typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tolv::sim {

// The receiver's side of the two bulk pipes.
class UsbWire {
 public:
  virtual ~UsbWire() = default;
  // The data of one OUT URB; endsTransfer when it was a short packet or
  // carried the zero-length-packet flag.
  virtual void FromHost(std::span<const uint8_t> bytes, bool endsTransfer) = 0;
  // Fills up to capacity bytes of an IN URB from the next reply; the bytes
  // copied, or -1 when no reply is waiting.
  virtual int64_t ToHost(uint8_t* dst, size_t capacity) = 0;
};

class UsbdevfsNode {
 public:
  // fifoPath: the device node in the testbed, made a FIFO here; wire: the
  // receiver's pipes (outlives this object). Throws std::runtime_error when
  // the FIFO cannot be made.
  UsbdevfsNode(const std::string& fifoPath, const UsbDeviceSwitches& switches, UsbWire& wire);
  ~UsbdevfsNode();
  UsbdevfsNode(const UsbdevfsNode&) = delete;
  UsbdevfsNode& operator=(const UsbdevfsNode&) = delete;

  // Serves the ioctl the client is making and completes it. Always true
  // (unknown requests fail with ENOTTY, as the kernel answers them).
  bool Serve(UMockdevIoctlClient* client);

  // A reply is waiting: fills the IN URBs that are pending.
  void Deliver();

  // The device left the bus: URBs in flight complete with -ESHUTDOWN, and
  // every later request fails with ENODEV.
  void Unplug();

 private:
  // A URB from submission to reaping. The umockdev objects are touched only
  // while their client's ioctl is served; what a completion brings is kept
  // here until the reap hands it over.
  struct Urb {
    UMockdevIoctlData* urb = nullptr;  // the client's struct usbdevfs_urb (a reference)
    UMockdevIoctlClient* client = nullptr;
    unsigned long clientAddress = 0;  // the URB's address in the client, what DISCARDURB names
    size_t capacity = 0;              // buffer_length
    unsigned int flags = 0;           // USBDEVFS_URB_*
    int status = 0;
    std::vector<uint8_t> in;  // IN: the bytes that arrived
  };

  int SubmitUrb(UMockdevIoctlClient* client, int* error);
  void SubmitIn(UMockdevIoctlClient* client, Urb urb);
  int SubmitOut(Urb urb, int* error);
  int ReapUrb(UMockdevIoctlClient* client, int* error);
  int DiscardUrb(UMockdevIoctlClient* client, int* error);
  int Driver(UMockdevIoctlClient* client, int* error);
  int DriverRequest(UMockdevIoctlClient* client, int* error);
  int DisconnectClaim(UMockdevIoctlClient* client, int* error);
  int Claim(UMockdevIoctlClient* client, int* error);
  int Capabilities(UMockdevIoctlClient* client, int* error);
  int Dispatch(UMockdevIoctlClient* client, unsigned long request, int* error);

  void FillPending();
  void EndContinuation(UMockdevIoctlClient* client);
  void DropVanished();
  void Complete(Urb urb, int status);
  static bool HandOver(UMockdevIoctlClient* client, Urb& urb);
  static void Release(Urb& urb);
  void SetReady(bool ready);

  const UsbDeviceSwitches switches_;
  UsbWire& wire_;
  std::mutex mutex_;
  int fifo_ = -1;  // our end of the device node
  bool ready_ = false;
  bool gone_ = false;
  bool driverBound_ = false;
  // Clients whose IN transfer ended short: their URBs that continue it are
  // not filled (until a URB starts a new transfer).
  std::vector<UMockdevIoctlClient*> inStopped_;
  std::deque<Urb> pendingIn_;  // IN URBs waiting for a reply, oldest first
  std::deque<Urb> completed_;  // URBs for the client to reap, oldest first
};

}  // namespace tolv::sim
