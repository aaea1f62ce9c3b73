#include "usb_umockdev_linux.h"

#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <stdexcept>

namespace tolv::sim {

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";

// The sysfs "descriptors" attribute: the device descriptor, then the whole
// configuration descriptor (interface 0 with its two bulk endpoints), as the
// device sends them (16-bit fields least significant byte first).
constexpr const char* kDescriptorsHex =
    // device: USB 2.0, class vendor-specific, EP0 64 bytes, 11DB:1000,
    // release 1.00, strings 1 and 2, one configuration
    "12 01 00 02 ff 00 00 40 db 11 00 10 00 01 01 02 00 01 "
    // configuration 1: 32 bytes in all, one interface, self-powered
    "09 02 20 00 01 01 00 c0 00 "
    // interface 0: two endpoints, vendor-specific
    "09 04 00 00 02 ff 00 00 00 "
    // bulk OUT 0x01 and bulk IN 0x81, 512-byte packets
    "07 05 01 02 00 02 00 "
    "07 05 81 02 00 02 00";

std::string DescriptorsHex() {
  std::string hex(kDescriptorsHex);
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  return hex;
}

// The testbed's description of the device as the kernel would show it with
// device number devnum on bus 1: its sysfs path (P), device node (N), udev
// properties (E), sysfs attributes (A, ending in a newline as sysfs has
// them) and the binary descriptors (H, hexadecimal).
std::string DeviceDescription(int devnum) {
  char node[32];
  std::snprintf(node, sizeof node, "bus/usb/001/%03d", devnum);
  const std::string number = std::string(node).substr(12);
  const std::vector<std::string> lines = {
      std::string("P: ") + (kSysPath + 4),
      std::string("N: ") + node,
      std::string("E: DEVNAME=/dev/") + node,
      "E: SUBSYSTEM=usb",
      "E: DEVTYPE=usb_device",
      "E: PRODUCT=11db/1000/100",
      "E: TYPE=255/0/0",
      "E: BUSNUM=001",
      "E: DEVNUM=" + number,
      "A: busnum=1\\n",
      "A: devnum=" + std::to_string(devnum) + "\\n",
      "A: speed=480\\n",
      "A: bConfigurationValue=1\\n",
      "A: bNumConfigurations=1\\n",
      "A: bNumInterfaces= 1\\n",
      "A: idVendor=11db\\n",
      "A: idProduct=1000\\n",
      "A: manufacturer=Topfield\\n",
      "A: product=Toppy\\n",
      "H: descriptors=" + DescriptorsHex(),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string DevicePath(int devnum) {
  char path[32];
  std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", devnum);
  return path;
}

gboolean ServeIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer node) {
  return static_cast<UsbdevfsNode*>(node)->Serve(client);
}

}  // namespace

// The testbed and the GLib main loop that serves its ioctl handlers. Every
// testbed call runs on the loop's thread.
class UsbBusThread {
 public:
  UsbBusThread() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    thread_ = std::thread([this] {
      g_main_context_push_thread_default(context_);
      g_main_loop_run(loop_);
      g_main_context_pop_thread_default(context_);
    });
    Invoke([this] {
      KeepSocketPathsShort();
      testbed_ = umockdev_testbed_new();
      gchar* root = umockdev_testbed_get_root_dir(testbed_);
      root_ = root;
      g_free(root);
      // A command run as another user uses the bus too: it reads the
      // testbed and makes its uevent sockets in this folder.
      chmod(root_.c_str(), 01777);
    });
  }

  ~UsbBusThread() {
    Invoke([this] {
      for (const auto& [path, handler] : handlers_) {
        // A client still holding a node (a process the command left behind)
        // no longer reaches the nodes that go now.
        g_signal_handlers_disconnect_matched(handler, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(ServeIoctl), nullptr);
        umockdev_testbed_detach_ioctl(testbed_, path.c_str(), nullptr);
        g_object_unref(handler);
      }
      nodes_.clear();
      g_object_unref(testbed_);
    });
    g_main_loop_quit(loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  const std::string& root() const { return root_; }
  // TMPDIR as it was before the testbed was made (empty: unset).
  const std::string& userTmpDir() const { return userTmpDir_; }

  // Puts the device on the bus with the next device number; its node.
  UsbdevfsNode* AddDevice(const UsbDeviceSwitches& switches, UsbWire& wire) {
    UsbdevfsNode* node = nullptr;
    std::string failure;
    Invoke([&] {
      const int devnum = ++devnum_;
      const std::string path = DevicePath(devnum);
      // The handler is attached before the device appears, so that no
      // program can open the node before its ioctls are served.
      UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
      GError* error = nullptr;
      if (!umockdev_testbed_attach_ioctl(testbed_, path.c_str(), handler, &error)) {
        failure = std::string("cannot serve the device node: ") + (error ? error->message : "?");
        g_clear_error(&error);
        g_object_unref(handler);
        return;
      }
      handlers_.emplace_back(path, handler);
      chmod((root_ + "/ioctl" + path).c_str(), 0666);  // for a command run as another user
      if (!umockdev_testbed_add_from_string(testbed_, DeviceDescription(devnum).c_str(), &error)) {
        failure = std::string("cannot add the device: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return;
      }
      try {
        nodes_.push_back(std::make_unique<UsbdevfsNode>(root_ + path, switches, wire));
      } catch (const std::exception& e) {
        failure = e.what();
        return;
      }
      node = nodes_.back().get();
      g_signal_connect(handler, "handle-ioctl", G_CALLBACK(ServeIoctl), node);
    });
    if (!failure.empty()) throw std::runtime_error(failure);
    return node;
  }

  // Takes the device off the bus (its node and sysfs entry go).
  void RemoveDevice() {
    Invoke([this] {
      // Removing the device sends no uevent of its own; libusb learns of
      // the unplug from this one.
      umockdev_testbed_uevent(testbed_, kSysPath, "remove");
      umockdev_testbed_remove_device(testbed_, kSysPath);
      unlink((root_ + DevicePath(devnum_)).c_str());
    });
  }

 private:
  // The testbed is made in TMPDIR, and its device node's ioctl socket lies
  // 42 characters deeper; a socket's path has room for 107. A deep TMPDIR
  // (as in some CI set-ups) is replaced by /tmp for the testbed.
  void KeepSocketPathsShort() {
    const char* tmp = std::getenv("TMPDIR");
    userTmpDir_ = tmp ? tmp : "";
    if (userTmpDir_.size() > 60) setenv("TMPDIR", "/tmp", 1);
  }

  // Runs job on the loop's thread and waits for it.
  void Invoke(std::function<void()> job) {
    struct Call {
      std::function<void()> job;
      std::promise<void> done;
    } call{std::move(job), {}};
    std::future<void> done = call.done.get_future();
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
          auto* c = static_cast<Call*>(data);
          c->job();
          c->done.set_value();
          return G_SOURCE_REMOVE;
        },
        &call, nullptr);
    g_source_attach(source, context_);
    g_source_unref(source);
    done.wait();
  }

  GMainContext* context_;
  GMainLoop* loop_;
  std::thread thread_;
  UMockdevTestbed* testbed_ = nullptr;
  std::string root_;
  std::string userTmpDir_;
  int devnum_ = 1;  // the host controller's root hub is device 1
  std::vector<std::pair<std::string, UMockdevIoctlBase*>> handlers_;
  std::vector<std::unique_ptr<UsbdevfsNode>> nodes_;  // every appearance, kept for clients still holding one
};

UmockdevUsbPort::UmockdevUsbPort(const UsbDeviceSwitches& switches)
    : switches_(switches), bus_(std::make_unique<UsbBusThread>()) {
  if (switches_.appearAfterMs <= 0) Plug();
}

UmockdevUsbPort::~UmockdevUsbPort() {
  if (appearTimer_.joinable()) {
    appearTimer_.request_stop();
    appearTimer_.join();
  }
  bus_.reset();
}

std::map<std::string, std::string> UmockdevUsbPort::ChildEnvironment() const {
  std::map<std::string, std::string> env;
  env["UMOCKDEV_DIR"] = bus_->root();
  if (!bus_->userTmpDir().empty()) env["TMPDIR"] = bus_->userTmpDir();
  const char* preload = std::getenv("LD_PRELOAD");
  env["LD_PRELOAD"] = std::string(kPreloadLibrary) + (preload && *preload ? std::string(":") + preload : "");
  // A program built with AddressSanitizer refuses to start when another
  // library is loaded before the sanitizer's runtime.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] =
      (asan && *asan ? std::string(asan) + ":" : std::string()) + "verify_asan_link_order=0";
  return env;
}

void UmockdevUsbPort::StartClock() {
  if (switches_.appearAfterMs <= 0) return;
  appearTimer_ = std::jthread([this](std::stop_token stop) {
    std::mutex m;
    std::unique_lock lock(m);
    std::condition_variable_any cv;
    if (cv.wait_for(lock, stop, std::chrono::milliseconds(switches_.appearAfterMs), [] { return false; }))
      return;
    if (stop.stop_requested()) return;
    try {
      Plug();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "toppy-sim: the device cannot come onto the bus: %s\n", e.what());
    }
  });
}

std::optional<SimPacket> UmockdevUsbPort::Receive(SimClock::time_point deadline,
                                                  const std::stop_token& stop) {
  std::unique_lock lock(mutex_);
  while (changed_.wait_until(lock, stop, deadline, [&] { return !toReceiver_.empty(); })) {
    std::vector<uint8_t> transfer = std::move(toReceiver_.front());
    toReceiver_.pop_front();
    // The packet starts the transfer; anything else on the pipe is dropped.
    if (auto packet = ParseUsbTransfer(transfer)) return packet;
  }
  return std::nullopt;
}

void UmockdevUsbPort::Send(const std::vector<uint8_t>& bytes, const std::stop_token& /*stop*/) {
  std::vector<uint8_t> transfer(UsbPaddedSize(bytes.size()), 0);
  std::copy(bytes.begin(), bytes.end(), transfer.begin());
  UsbdevfsNode* node = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!plugged_) return;  // the cable is out
    toHost_.push_back(std::move(transfer));
    node = node_;
  }
  if (node) node->Deliver();
}

void UmockdevUsbPort::BeginReboot() { Unplug(); }

void UmockdevUsbPort::EndReboot() {
  {
    std::lock_guard lock(mutex_);
    if (pulled_) return;
  }
  Plug();
}

void UmockdevUsbPort::Disconnect() {
  {
    std::lock_guard lock(mutex_);
    pulled_ = true;
  }
  Unplug();
}

void UmockdevUsbPort::FromHost(std::span<const uint8_t> bytes, bool endsTransfer) {
  std::lock_guard lock(mutex_);
  if (!plugged_) return;
  fromHost_.insert(fromHost_.end(), bytes.begin(), bytes.end());
  // The transfer ends with a short packet, or where the packet that its
  // header announces (magic, sequence, command, 16-bit length) is complete.
  bool complete = endsTransfer;
  if (fromHost_.size() >= kUsbPacketOverhead - 1) {
    const bool magic = std::equal(fromHost_.begin(), fromHost_.begin() + 4, "ToFi");
    const size_t declared = kUsbPacketOverhead + (size_t{fromHost_[6]} << 8 | fromHost_[7]);
    complete = complete || !magic || fromHost_.size() >= declared;
  }
  if (!complete || fromHost_.empty()) return;
  toReceiver_.push_back(std::move(fromHost_));
  fromHost_.clear();
  changed_.notify_all();
}

int64_t UmockdevUsbPort::ToHost(uint8_t* dst, size_t capacity) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || toHost_.empty()) return -1;
  // A reply longer than the URB goes on in the next one.
  const std::vector<uint8_t>& reply = toHost_.front();
  const size_t count = std::min(capacity, reply.size() - toHostSent_);
  std::copy_n(reply.begin() + static_cast<ptrdiff_t>(toHostSent_), count, dst);
  toHostSent_ += count;
  if (toHostSent_ == reply.size()) {
    toHost_.pop_front();
    toHostSent_ = 0;
  }
  return static_cast<int64_t>(count);
}

void UmockdevUsbPort::Plug() {
  {
    std::lock_guard lock(mutex_);
    if (plugged_ || pulled_) return;
    plugged_ = true;
  }
  UsbdevfsNode* node = bus_->AddDevice(switches_, *this);
  std::lock_guard lock(mutex_);
  node_ = node;
}

void UmockdevUsbPort::Unplug() {
  UsbdevfsNode* node = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!plugged_) return;
    plugged_ = false;
    node = node_;
    node_ = nullptr;
    fromHost_.clear();
    toReceiver_.clear();
    toHost_.clear();
    toHostSent_ = 0;
    changed_.notify_all();
  }
  if (node) node->Unplug();
  bus_->RemoveDevice();
}

}  // namespace tolv::sim
