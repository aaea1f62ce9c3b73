#include "usb_pipes.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace tolv::sim {

// The cable: the two pipes and whether the device is on the bus. A new
// generation starts with every unplug, so that transports opened before it
// fail instead of talking to the rebooted device.
struct UsbBus {
  explicit UsbBus(uint32_t rate) : bytesPerSecond(rate) {}

  std::mutex mutex;
  std::condition_variable_any changed;
  bool plugged = true;
  uint64_t generation = 1;
  std::deque<std::vector<uint8_t>> toReceiver;
  std::deque<std::vector<uint8_t>> toHost;
  int64_t transfersToReceiver = 0;
  int64_t transfersToHost = 0;
  const uint32_t bytesPerSecond;
};

namespace {

void PaceTransfer(uint32_t bytesPerSecond, size_t byteCount) {
  if (bytesPerSecond == 0) return;
  std::this_thread::sleep_for(
      std::chrono::microseconds(static_cast<int64_t>(byteCount) * 1000000 / bytesPerSecond));
}

class PipeTransport : public Transport {
 public:
  PipeTransport(std::shared_ptr<UsbBus> bus, uint64_t generation)
      : bus_(std::move(bus)), generation_(generation) {}

  IoResult Write(const uint8_t* data, int32_t byteCount, int /*timeoutMs*/) override {
    if (byteCount < 0) return {IoResult::Status::Fault, 0};
    std::lock_guard lock(bus_->mutex);
    if (!Connected()) return {IoResult::Status::Fault, 0};
    bus_->toReceiver.emplace_back(data, data + byteCount);
    ++bus_->transfersToReceiver;
    bus_->changed.notify_all();
    return {IoResult::Status::Ok, byteCount};
  }

  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    std::unique_lock lock(bus_->mutex);
    bus_->changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [&] { return !Connected() || !bus_->toHost.empty(); });
    if (!Connected()) return {IoResult::Status::Fault, 0};
    if (bus_->toHost.empty()) return {IoResult::Status::Timeout, 0};
    std::vector<uint8_t> transfer = std::move(bus_->toHost.front());
    bus_->toHost.pop_front();
    // A transfer larger than the buffer is an overflow, as on a real bus.
    if (dstCapacity < 0 || transfer.size() > static_cast<size_t>(dstCapacity))
      return {IoResult::Status::Fault, 0};
    std::memcpy(dst, transfer.data(), transfer.size());
    return {IoResult::Status::Ok, static_cast<int32_t>(transfer.size())};
  }

  void Purge() override {}

 private:
  bool Connected() const { return bus_->plugged && bus_->generation == generation_; }

  std::shared_ptr<UsbBus> bus_;
  const uint64_t generation_;
};

}  // namespace

EmulatedUsbPort::EmulatedUsbPort(uint32_t bytesPerSecond) : bus_(std::make_shared<UsbBus>(bytesPerSecond)) {}

EmulatedUsbPort::~EmulatedUsbPort() { Disconnect(); }

UsbProvider EmulatedUsbPort::Provider() const {
  std::weak_ptr<UsbBus> weak = bus_;
  return [weak](std::string* diagnostic) -> std::unique_ptr<Transport> {
    if (diagnostic) diagnostic->clear();
    std::shared_ptr<UsbBus> bus = weak.lock();
    if (!bus) return nullptr;
    std::lock_guard lock(bus->mutex);
    if (!bus->plugged) return nullptr;
    return std::make_unique<PipeTransport>(bus, bus->generation);
  };
}

int64_t EmulatedUsbPort::TransfersToReceiver() const {
  std::lock_guard lock(bus_->mutex);
  return bus_->transfersToReceiver;
}

int64_t EmulatedUsbPort::TransfersToHost() const {
  std::lock_guard lock(bus_->mutex);
  return bus_->transfersToHost;
}

std::optional<SimPacket> EmulatedUsbPort::Receive(SimClock::time_point deadline,
                                                  const std::stop_token& stop) {
  std::unique_lock lock(bus_->mutex);
  while (bus_->changed.wait_until(lock, stop, deadline, [&] { return !bus_->toReceiver.empty(); })) {
    std::vector<uint8_t> transfer = std::move(bus_->toReceiver.front());
    bus_->toReceiver.pop_front();
    // The packet starts the transfer; anything else on the pipe is dropped.
    if (auto packet = ParseUsbTransfer(transfer)) return packet;
  }
  return std::nullopt;
}

void EmulatedUsbPort::Send(const std::vector<uint8_t>& bytes, const std::stop_token& /*stop*/) {
  std::vector<uint8_t> transfer(UsbPaddedSize(bytes.size()), 0);
  std::copy(bytes.begin(), bytes.end(), transfer.begin());
  PaceTransfer(bus_->bytesPerSecond, transfer.size());
  std::lock_guard lock(bus_->mutex);
  if (!bus_->plugged) return;
  bus_->toHost.push_back(std::move(transfer));
  ++bus_->transfersToHost;
  bus_->changed.notify_all();
}

void EmulatedUsbPort::BeginReboot() {
  std::lock_guard lock(bus_->mutex);
  bus_->plugged = false;
  ++bus_->generation;
  bus_->toReceiver.clear();
  bus_->toHost.clear();
  bus_->changed.notify_all();
}

void EmulatedUsbPort::EndReboot() {
  std::lock_guard lock(bus_->mutex);
  bus_->plugged = true;
  bus_->toReceiver.clear();
  bus_->toHost.clear();
  bus_->changed.notify_all();
}

void EmulatedUsbPort::Disconnect() {
  std::lock_guard lock(bus_->mutex);
  bus_->plugged = false;
  ++bus_->generation;
  bus_->changed.notify_all();
}

}  // namespace tolv::sim
