// The receiver on USB through libusb-1.0.
//
// The receiver is the device 11DB:1000. Its interface 0 carries two bulk
// pipes: the first bulk OUT endpoint to the receiver, the first bulk IN
// endpoint from it. (The set-up requests that a vendor driver on another
// system sends after opening are private to that driver and are not sent
// here.)
//
// Transfers use libusb's synchronous calls. When one times out, libusb
// cancels it and returns only after the cancellation has completed, so the
// buffer and the transfer are free again before the link reuses them.

#include <libusb.h>

#include <cstdio>
#include <memory>

#include "link/transport.h"

namespace tolv {

namespace {

constexpr uint16_t kReceiverVendorId = 0x11DB;
constexpr uint16_t kReceiverProductId = 0x1000;
constexpr int kReceiverInterface = 0;

std::string UsbError(int code) { return libusb_strerror(static_cast<libusb_error>(code)); }

// The process's libusb context, made on first use; null when libusb cannot
// start (diagnostic says why).
libusb_context* UsbContext(std::string* diagnostic) {
  static libusb_context* context = nullptr;
  static int initResult = libusb_init(&context);
  if (initResult != 0) *diagnostic = "USB support cannot start: " + UsbError(initResult);
  return initResult == 0 ? context : nullptr;
}

struct BulkEndpoints {
  uint8_t out = 0;
  uint8_t in = 0;
};

// The first bulk OUT and the first bulk IN endpoint of the interface's first
// setting; false when it lacks either.
bool FindBulkEndpoints(const libusb_interface& interface, BulkEndpoints* endpoints) {
  if (interface.num_altsetting < 1) return false;
  const libusb_interface_descriptor& setting = interface.altsetting[0];
  for (int i = 0; i < setting.bNumEndpoints; ++i) {
    const libusb_endpoint_descriptor& ep = setting.endpoint[i];
    if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
    const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
    uint8_t& slot = in ? endpoints->in : endpoints->out;
    if (slot == 0) slot = ep.bEndpointAddress;
  }
  return endpoints->in != 0 && endpoints->out != 0;
}

bool ReadEndpoints(libusb_device_handle* handle, BulkEndpoints* endpoints, std::string* diagnostic) {
  libusb_device* device = libusb_get_device(handle);
  libusb_config_descriptor* config = nullptr;
  int rc = libusb_get_active_config_descriptor(device, &config);
  if (rc == LIBUSB_ERROR_NOT_FOUND) {  // not configured yet
    libusb_set_configuration(handle, 1);
    rc = libusb_get_active_config_descriptor(device, &config);
  }
  if (rc != 0) {
    *diagnostic = "cannot read its configuration: " + UsbError(rc);
    return false;
  }
  const bool found = config->bNumInterfaces > kReceiverInterface &&
                     FindBulkEndpoints(config->interface[kReceiverInterface], endpoints);
  libusb_free_config_descriptor(config);
  if (!found) *diagnostic = "its interface 0 has no bulk IN and OUT endpoints";
  return found;
}

class UsbReceiver : public Transport {
 public:
  UsbReceiver(libusb_device_handle* handle, BulkEndpoints endpoints, std::string description)
      : handle_(handle), endpoints_(endpoints), description_(std::move(description)) {}
  ~UsbReceiver() override {
    libusb_release_interface(handle_, kReceiverInterface);
    libusb_close(handle_);
  }

  IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) override {
    int transferred = 0;
    // libusb reads a time-out of 0 as "no limit".
    const int rc = libusb_bulk_transfer(handle_, endpoints_.out, const_cast<uint8_t*>(data), byteCount,
                                        &transferred, timeoutMs > 0 ? static_cast<unsigned>(timeoutMs) : 1u);
    if (rc == 0) return {IoResult::Status::Ok, transferred};
    if (rc == LIBUSB_ERROR_TIMEOUT) return {IoResult::Status::Timeout, transferred};
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(handle_, endpoints_.out);
    return {IoResult::Status::Fault, transferred};
  }

  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    int transferred = 0;
    const int rc = libusb_bulk_transfer(handle_, endpoints_.in, dst, dstCapacity, &transferred,
                                        timeoutMs > 0 ? static_cast<unsigned>(timeoutMs) : 1u);
    if (rc == 0) return {IoResult::Status::Ok, transferred};
    // A reply that ends exactly on a packet boundary without a zero-length
    // packet leaves the transfer open until the time-out; what arrived is
    // the whole reply (the transfer is already cancelled and finished).
    if (rc == LIBUSB_ERROR_TIMEOUT)
      return transferred > 0 ? IoResult{IoResult::Status::Ok, transferred}
                             : IoResult{IoResult::Status::Timeout, 0};
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(handle_, endpoints_.in);
    return {IoResult::Status::Fault, 0};
  }

  void Purge() override {}
  std::string Description() const override { return description_; }

 private:
  libusb_device_handle* handle_;
  BulkEndpoints endpoints_;
  std::string description_;
};

// Opens and claims the receiver found in the device list.
std::unique_ptr<Transport> OpenDevice(libusb_device* device, std::string* diagnostic) {
  char where[64];
  std::snprintf(where, sizeof where, "USB bus %03u device %03u", libusb_get_bus_number(device),
                libusb_get_device_address(device));
  libusb_device_handle* handle = nullptr;
  int rc = libusb_open(device, &handle);
  if (rc == LIBUSB_ERROR_ACCESS) {
    *diagnostic = std::string("no permission to use the receiver on ") + where +
                  " (install the udev rule 60-tolvpack-toppy.rules, then plug the receiver in again)";
    return nullptr;
  }
  if (rc != 0) {
    *diagnostic = std::string("cannot open the receiver on ") + where + ": " + UsbError(rc);
    return nullptr;
  }
  const auto fail = [&](const std::string& why) {
    libusb_close(handle);
    *diagnostic = std::string("the receiver on ") + where + ": " + why;
    return nullptr;
  };
  // A kernel driver bound to the interface is detached (and re-attached by
  // libusb when the interface is released).
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (libusb_kernel_driver_active(handle, kReceiverInterface) == 1) {
    rc = libusb_detach_kernel_driver(handle, kReceiverInterface);
    if (rc != 0) return fail("a kernel driver holds its interface: " + UsbError(rc));
  }
  BulkEndpoints endpoints;
  std::string why;
  if (!ReadEndpoints(handle, &endpoints, &why)) return fail(why);
  rc = libusb_claim_interface(handle, kReceiverInterface);
  if (rc == LIBUSB_ERROR_BUSY) return fail("its interface is held by another program");
  if (rc != 0) return fail("cannot claim its interface: " + UsbError(rc));
  return std::make_unique<UsbReceiver>(handle, endpoints, where);
}

}  // namespace

std::unique_ptr<Transport> Usb_OpenReceiver(std::string* diagnostic) {
  diagnostic->clear();
  libusb_context* context = UsbContext(diagnostic);
  if (!context) return nullptr;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  if (count < 0) {
    *diagnostic = "cannot list the USB devices: " + UsbError(static_cast<int>(count));
    return nullptr;
  }
  std::unique_ptr<Transport> receiver;
  for (ssize_t i = 0; i < count && !receiver; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    if (descriptor.idVendor != kReceiverVendorId || descriptor.idProduct != kReceiverProductId) continue;
    receiver = OpenDevice(list[i], diagnostic);
  }
  libusb_free_device_list(list, 1);
  if (receiver) diagnostic->clear();
  return receiver;
}

}  // namespace tolv
