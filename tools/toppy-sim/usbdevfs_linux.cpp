#include "usbdevfs_linux.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace tolv::sim {
namespace {

constexpr unsigned char kEndpointOut = 0x01;
constexpr unsigned char kEndpointIn = 0x81;
constexpr unsigned int kInterface = 0;
constexpr size_t kMaxPacket = 512;
// What a kernel driver bound to the interface is called; "usbfs" is the name
// of the kernel's own user-space interface, i.e. another program's claim.
constexpr const char* kKernelDriverName = "usbserial_generic";
constexpr const char* kOtherProgram = "usbfs";
// A host controller without scatter-gather (as EHCI): libusb splits long
// transfers into URBs of 16 KiB that continue one another; zero-length
// packets on request; URBs can still be reaped after an unplug.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

// The ioctl's argument resolved as a pointer to size bytes of the client's
// memory (a new reference), or null when it is not a valid pointer.
UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t size) {
  GError* error = nullptr;
  UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, size, &error);
  if (error) g_error_free(error);
  if (resolved && static_cast<size_t>(resolved->data_len) < size) {
    g_object_unref(resolved);
    return nullptr;
  }
  return resolved;
}

UMockdevIoctlData* ResolveArg(UMockdevIoctlClient* client, size_t size) {
  return Resolve(umockdev_ioctl_client_get_arg(client), 0, size);
}

// The ioctl's argument as a plain number (DISCARDURB passes the URB's address).
unsigned long ArgValue(UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  unsigned long value = 0;
  if (arg && static_cast<size_t>(arg->data_len) >= sizeof value) std::memcpy(&value, arg->data, sizeof value);
  return value;
}

usbdevfs_urb& UrbOf(UMockdevIoctlData* urb) { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }

}  // namespace

UsbdevfsNode::UsbdevfsNode(const std::string& fifoPath, const UsbDeviceSwitches& switches, UsbWire& wire)
    : switches_(switches), wire_(wire), driverBound_(switches.kernelDriver) {
  // The node becomes a FIFO of one page that holds one byte while no URB is
  // complete: full, so poll() does not report it writable.
  unlink(fifoPath.c_str());
  if (mkfifo(fifoPath.c_str(), 0600) != 0)
    throw std::runtime_error("cannot make the device node " + fifoPath + ": " + std::strerror(errno));
  fifo_ = open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifo_ < 0)
    throw std::runtime_error("cannot open the device node " + fifoPath + ": " + std::strerror(errno));
  fcntl(fifo_, F_SETPIPE_SZ, 4096);
  ready_ = true;
  SetReady(false);
  chmod(fifoPath.c_str(), switches.nodeNotPermitted ? 0000 : 0666);
}

UsbdevfsNode::~UsbdevfsNode() {
  for (Urb& urb : pendingIn_) Release(urb);
  for (Urb& urb : completed_) Release(urb);
  for (UMockdevIoctlClient* client : inStopped_) g_object_unref(client);
  if (fifo_ >= 0) close(fifo_);
}

bool UsbdevfsNode::Serve(UMockdevIoctlClient* client) {
  int error = 0;
  int result = 0;
  {
    std::lock_guard lock(mutex_);
    DropVanished();
    result = Dispatch(client, umockdev_ioctl_client_get_request(client), &error);
  }
  umockdev_ioctl_client_complete(client, result, result < 0 ? error : 0);
  return true;
}

int UsbdevfsNode::Dispatch(UMockdevIoctlClient* client, unsigned long request, int* error) {
  // After an unplug only the reaping of what was in flight still works.
  if (gone_ && request != USBDEVFS_REAPURBNDELAY) {
    *error = ENODEV;
    return -1;
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: return Capabilities(client, error);
    case USBDEVFS_GETDRIVER: return Driver(client, error);
    case USBDEVFS_IOCTL: return DriverRequest(client, error);
    case USBDEVFS_DISCONNECT_CLAIM: return DisconnectClaim(client, error);
    case USBDEVFS_CLAIMINTERFACE: return Claim(client, error);
    case USBDEVFS_SUBMITURB: return SubmitUrb(client, error);
    case USBDEVFS_REAPURBNDELAY: return ReapUrb(client, error);
    case USBDEVFS_DISCARDURB: return DiscardUrb(client, error);
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_RESET: return 0;
    default: *error = ENOTTY; return -1;
  }
}

int UsbdevfsNode::Capabilities(UMockdevIoctlClient* client, int* error) {
  UMockdevIoctlData* caps = ResolveArg(client, sizeof(uint32_t));
  if (!caps) {
    *error = EFAULT;
    return -1;
  }
  std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
  g_object_unref(caps);
  return 0;
}

int UsbdevfsNode::Driver(UMockdevIoctlClient* client, int* error) {
  UMockdevIoctlData* data = ResolveArg(client, sizeof(usbdevfs_getdriver));
  if (!data) {
    *error = EFAULT;
    return -1;
  }
  auto& request = *reinterpret_cast<usbdevfs_getdriver*>(data->data);
  const char* name = switches_.interfaceBusy ? kOtherProgram : driverBound_ ? kKernelDriverName : nullptr;
  int result = 0;
  if (request.interface != kInterface) {
    *error = EINVAL;
    result = -1;
  } else if (!name) {
    *error = ENODATA;  // no driver bound
    result = -1;
  } else {
    std::snprintf(request.driver, sizeof request.driver, "%s", name);
  }
  g_object_unref(data);
  return result;
}

int UsbdevfsNode::DriverRequest(UMockdevIoctlClient* client, int* error) {
  // A request to the interface's driver; libusb sends DISCONNECT (detach the
  // kernel driver) and CONNECT (give the interface back to it).
  UMockdevIoctlData* data = ResolveArg(client, sizeof(usbdevfs_ioctl));
  if (!data) {
    *error = EFAULT;
    return -1;
  }
  const usbdevfs_ioctl request = *reinterpret_cast<usbdevfs_ioctl*>(data->data);
  g_object_unref(data);
  if (request.ifno != static_cast<int>(kInterface)) {
    *error = EINVAL;
    return -1;
  }
  if (request.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
    if (!driverBound_) {
      *error = ENODATA;
      return -1;
    }
    driverBound_ = false;
    return 0;
  }
  if (request.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
    driverBound_ = switches_.kernelDriver;
    return 0;
  }
  *error = ENOTTY;
  return -1;
}

int UsbdevfsNode::DisconnectClaim(UMockdevIoctlClient* client, int* error) {
  UMockdevIoctlData* data = ResolveArg(client, sizeof(usbdevfs_disconnect_claim));
  if (!data) {
    *error = EFAULT;
    return -1;
  }
  auto& request = *reinterpret_cast<usbdevfs_disconnect_claim*>(data->data);
  request.driver[sizeof request.driver - 1] = '\0';
  const bool exceptNamed = (request.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0;
  const bool othersExcepted = exceptNamed && std::strcmp(request.driver, kOtherProgram) == 0;
  const unsigned int interface = request.interface;
  g_object_unref(data);
  if (interface != kInterface) {
    *error = EINVAL;
    return -1;
  }
  // Another program's claim is never broken when the caller excepts usbfs.
  if (switches_.interfaceBusy && (othersExcepted || !exceptNamed)) {
    *error = EBUSY;
    return -1;
  }
  driverBound_ = false;
  return 0;
}

int UsbdevfsNode::Claim(UMockdevIoctlClient* client, int* error) {
  UMockdevIoctlData* data = ResolveArg(client, sizeof(unsigned int));
  if (!data) {
    *error = EFAULT;
    return -1;
  }
  unsigned int interface = 0;
  std::memcpy(&interface, data->data, sizeof interface);
  g_object_unref(data);
  if (interface != kInterface) {
    *error = EINVAL;
    return -1;
  }
  if (switches_.interfaceBusy || driverBound_) {
    *error = EBUSY;
    return -1;
  }
  return 0;
}

int UsbdevfsNode::SubmitUrb(UMockdevIoctlClient* client, int* error) {
  UMockdevIoctlData* data = ResolveArg(client, sizeof(usbdevfs_urb));
  if (!data) {
    *error = EFAULT;
    return -1;
  }
  const usbdevfs_urb header = UrbOf(data);
  const bool bulk = header.type == USBDEVFS_URB_TYPE_BULK;
  const bool knownEndpoint = header.endpoint == kEndpointIn || header.endpoint == kEndpointOut;
  if (!bulk || !knownEndpoint || header.buffer_length < 0 || switches_.interfaceBusy) {
    g_object_unref(data);
    *error = switches_.interfaceBusy ? EBUSY : EINVAL;
    return -1;
  }
  Urb urb;
  urb.urb = data;
  urb.client = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
  urb.clientAddress = data->client_addr;
  urb.capacity = static_cast<size_t>(header.buffer_length);
  urb.flags = header.flags;
  if (header.endpoint == kEndpointIn) {
    SubmitIn(client, std::move(urb));
    return 0;
  }
  return SubmitOut(std::move(urb), error);
}

void UsbdevfsNode::SubmitIn(UMockdevIoctlClient* client, Urb urb) {
  const bool continues = (urb.flags & USBDEVFS_URB_BULK_CONTINUATION) != 0;
  const auto stopped = std::find(inStopped_.begin(), inStopped_.end(), client);
  if (stopped != inStopped_.end() && continues) {
    Complete(std::move(urb), -EREMOTEIO);  // its transfer has already ended
    return;
  }
  if (stopped != inStopped_.end()) {
    g_object_unref(*stopped);
    inStopped_.erase(stopped);
  }
  pendingIn_.push_back(std::move(urb));
  FillPending();
}

int UsbdevfsNode::SubmitOut(Urb urb, int* error) {
  // The device takes every packet at once.
  UMockdevIoctlData* buffer =
      urb.capacity > 0 ? Resolve(urb.urb, offsetof(usbdevfs_urb, buffer), urb.capacity) : nullptr;
  if (urb.capacity > 0 && !buffer) {
    Release(urb);
    *error = EFAULT;
    return -1;
  }
  const bool shortPacket = urb.capacity % kMaxPacket != 0;
  const bool zeroPacket = (urb.flags & USBDEVFS_URB_ZERO_PACKET) != 0;
  wire_.FromHost(std::span<const uint8_t>(buffer ? buffer->data : nullptr, urb.capacity),
                 shortPacket || zeroPacket);
  if (buffer) g_object_unref(buffer);
  Complete(std::move(urb), 0);
  return 0;
}

int UsbdevfsNode::ReapUrb(UMockdevIoctlClient* client, int* error) {
  const auto mine = std::find_if(completed_.begin(), completed_.end(),
                                 [client](const Urb& urb) { return urb.client == client; });
  if (mine == completed_.end()) {
    *error = gone_ ? ENODEV : EAGAIN;
    return -1;
  }
  Urb urb = std::move(*mine);
  completed_.erase(mine);
  SetReady(!completed_.empty());
  const bool handed = HandOver(client, urb);
  Release(urb);
  if (!handed) {
    *error = EFAULT;
    return -1;
  }
  return 0;
}

bool UsbdevfsNode::HandOver(UMockdevIoctlClient* client, Urb& urb) {
  // The URB's status and length, and for IN the bytes that arrived, go back
  // to the client with the completion of this reap; the client's pointer is
  // set to its URB.
  usbdevfs_urb& header = UrbOf(urb.urb);
  header.status = urb.status;
  const bool in = header.endpoint == kEndpointIn;
  // A discarded or unplugged OUT URB moved nothing.
  header.actual_length = in                ? static_cast<int>(urb.in.size())
                         : urb.status == 0 ? static_cast<int>(urb.capacity)
                                           : 0;
  if (in && !urb.in.empty()) {
    UMockdevIoctlData* buffer = Resolve(urb.urb, offsetof(usbdevfs_urb, buffer), urb.in.size());
    if (!buffer) return false;
    std::copy(urb.in.begin(), urb.in.end(), buffer->data);
    g_object_unref(buffer);
  }
  UMockdevIoctlData* pointer = ResolveArg(client, sizeof(void*));
  if (!pointer) return false;
  umockdev_ioctl_data_set_ptr(pointer, 0, urb.urb);
  g_object_unref(pointer);
  return true;
}

int UsbdevfsNode::DiscardUrb(UMockdevIoctlClient* client, int* error) {
  const unsigned long address = ArgValue(client);
  const auto match = std::find_if(pendingIn_.begin(), pendingIn_.end(), [&](const Urb& urb) {
    return urb.client == client && urb.clientAddress == address;
  });
  if (match == pendingIn_.end()) {
    *error = EINVAL;  // not in flight (already complete)
    return -1;
  }
  Urb urb = std::move(*match);
  pendingIn_.erase(match);
  Complete(std::move(urb), -ENOENT);
  return 0;
}

void UsbdevfsNode::Deliver() {
  std::lock_guard lock(mutex_);
  FillPending();
}

void UsbdevfsNode::FillPending() {
  DropVanished();
  while (!pendingIn_.empty()) {
    Urb& urb = pendingIn_.front();
    urb.in.resize(urb.capacity);
    const int64_t filled = wire_.ToHost(urb.in.data(), urb.capacity);
    if (filled < 0) {
      urb.in.clear();
      return;
    }
    urb.in.resize(static_cast<size_t>(filled));
    const bool shortEnd = urb.in.size() < urb.capacity && (urb.flags & USBDEVFS_URB_SHORT_NOT_OK) != 0;
    Urb done = std::move(urb);
    pendingIn_.pop_front();
    UMockdevIoctlClient* client = done.client;
    Complete(std::move(done), shortEnd ? -EREMOTEIO : 0);
    if (shortEnd) EndContinuation(client);
  }
}

void UsbdevfsNode::EndContinuation(UMockdevIoctlClient* client) {
  // The client's URBs that continue the ended transfer are given back
  // unfilled, and so are those it submits until a new transfer starts.
  for (auto it = pendingIn_.begin(); it != pendingIn_.end();) {
    if (it->client == client && (it->flags & USBDEVFS_URB_BULK_CONTINUATION) != 0) {
      Complete(std::move(*it), -ECONNRESET);
      it = pendingIn_.erase(it);
    } else {
      ++it;
    }
  }
  if (std::find(inStopped_.begin(), inStopped_.end(), client) == inStopped_.end())
    inStopped_.push_back(UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)));
}

void UsbdevfsNode::DropVanished() {
  // A client that closed the node (or died) no longer reaps: its URBs must
  // neither swallow replies nor keep the node ready for the others.
  const auto vanished = [](Urb& urb) {
    if (umockdev_ioctl_client_get_connected(urb.client)) return false;
    Release(urb);
    return true;
  };
  std::erase_if(pendingIn_, vanished);
  std::erase_if(completed_, vanished);
  std::erase_if(inStopped_, [](UMockdevIoctlClient* client) {
    if (umockdev_ioctl_client_get_connected(client)) return false;
    g_object_unref(client);
    return true;
  });
  SetReady(!completed_.empty());
}

void UsbdevfsNode::Unplug() {
  std::lock_guard lock(mutex_);
  if (gone_) return;
  gone_ = true;
  while (!pendingIn_.empty()) {
    Urb urb = std::move(pendingIn_.front());
    pendingIn_.pop_front();
    Complete(std::move(urb), -ESHUTDOWN);
  }
}

void UsbdevfsNode::Complete(Urb urb, int status) {
  urb.status = status;
  completed_.push_back(std::move(urb));
  SetReady(true);
}

void UsbdevfsNode::Release(Urb& urb) {
  if (urb.urb) g_object_unref(urb.urb);
  if (urb.client) g_object_unref(urb.client);
  urb.urb = nullptr;
  urb.client = nullptr;
}

void UsbdevfsNode::SetReady(bool ready) {
  if (ready == ready_) return;
  // Empty FIFO: writable, "a URB is complete"; one byte in it: full.
  uint8_t byte = 0;
  const ssize_t moved = ready ? read(fifo_, &byte, 1) : write(fifo_, &byte, 1);
  if (moved == 1) ready_ = ready;
}

}  // namespace tolv::sim
