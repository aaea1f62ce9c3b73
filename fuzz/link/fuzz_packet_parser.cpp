// Arbitrary byte streams from the receiver's side: through the serial stream
// parser, the USB reply parser, and a whole link session (mode handshake,
// download with firmware sections, upload) on both transports.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/link.h"
#include "link/packet.h"

namespace {

using tolv::IoResult;

class Clock : public tolv::LinkClock {
 public:
  uint64_t NowMs() override { return now; }
  void SleepMs(int ms) override { now += static_cast<uint64_t>(ms); }
  uint64_t now = 0;
};

// Reads hand out the input: on USB each transfer is prefixed by a 2-byte
// length, on a serial line the bytes come as they are. Writes go nowhere.
class InputTransport : public tolv::Transport {
 public:
  InputTransport(const uint8_t* data, size_t size, bool usb, Clock& clock)
      : data_(data), size_(size), usb_(usb), clock_(clock) {}
  IoResult Write(const uint8_t*, int32_t byteCount, int) override {
    return {IoResult::Status::Ok, byteCount};
  }
  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    if (pos_ >= size_) {
      clock_.now += static_cast<uint64_t>(timeoutMs);
      return {usb_ ? IoResult::Status::Timeout : IoResult::Status::Ok, 0};
    }
    size_t n = 1;
    if (usb_) {
      if (size_ - pos_ < 2) {
        pos_ = size_;
        return {IoResult::Status::Fault, 0};
      }
      n = static_cast<size_t>(data_[pos_] << 8 | data_[pos_ + 1]);
      pos_ += 2;
    }
    n = std::min({n, size_ - pos_, static_cast<size_t>(dstCapacity)});
    std::memcpy(dst, data_ + pos_, n);
    pos_ += n;
    clock_.now += 1;
    return {IoResult::Status::Ok, static_cast<int32_t>(n)};
  }
  void Purge() override {}

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool usb_;
  Clock& clock_;
};

void ParseSerial(const uint8_t* data, size_t size) {
  tolv::SerialReceiver rx(300);
  tolv::ToppyPacketType packet;
  std::vector<uint8_t> raw;
  for (size_t i = 0; i < size; ++i) {
    rx.MakeRoom();
    *rx.WritePointer() = data[i];
    rx.Commit(1);
    if (rx.TakePacket(packet, &raw) != tolv::SerialReceiver::Result::None &&
        (packet.Data.size() != packet.DataLength || raw.size() != packet.DataLength + 8))
      __builtin_trap();
  }
}

void ParseUsb(const uint8_t* data, size_t size) {
  tolv::ToppyPacketType packet;
  // A copy of exactly the input's size, so that any over-read is caught.
  std::vector<uint8_t> copy(data, data + size);
  const auto parsed = tolv::Packet_ParseUsb(copy.data(), static_cast<int32_t>(copy.size()), packet);
  if (parsed == tolv::PacketParse::Ok && packet.DataLength + 9 > size) __builtin_trap();
}

// A block of 2 kB: a whole download of it, with repeats and stray replies,
// fits in inputs of the 4 kB that the options allow.
constexpr int32_t kSessionBlock = 2048;

void RunSession(const uint8_t* data, size_t size, bool usb, uint8_t blockType) {
  Clock clock;
  tolv::LinkDevices devices;
  devices.clock = &clock;
  const auto open = [&]() -> std::unique_ptr<tolv::Transport> {
    return std::make_unique<InputTransport>(data, size, usb, clock);
  };
  devices.openSerial = [&](const std::string&, std::string*) { return open(); };
  devices.pollUsb = [&](std::string*) { return open(); };
  tolv::Link link(devices);
  if (link.Open(usb ? "USB" : "/dev/ttyFUZZ", {}) != 0) return;
  std::vector<uint8_t> buffer(kSessionBlock + 16, 0xCC);
  int32_t received = 0;
  if (link.DownloadMode() == 0) {
    link.TransferBlock(blockType, buffer.data(), kSessionBlock, &received);
    if (received < 0 || received > kSessionBlock) __builtin_trap();
  }
  for (size_t i = kSessionBlock; i < buffer.size(); ++i)
    if (buffer[i] != 0xCC) __builtin_trap();
  if (link.UploadMode() == 0) {
    int32_t imageSize = 2000;
    link.TransferBlock(2, buffer.data(), 2000, &imageSize);
  }
  link.End();
  link.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  switch (mode % 4) {
    case 0: ParseSerial(data, size); break;
    case 1: ParseUsb(data, size); break;
    case 2: RunSession(data, size, false, static_cast<uint8_t>(mode >> 2 & 1)); break;
    case 3: RunSession(data, size, true, static_cast<uint8_t>(mode >> 2 & 1)); break;
  }
  return 0;
}
