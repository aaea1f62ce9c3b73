#include "sim_packets.h"

#include <algorithm>
#include <array>

namespace tolv::sim {
namespace {

constexpr std::array<uint8_t, 4> kMagic = {'T', 'o', 'F', 'i'};

bool StartsWithMagic(std::span<const uint8_t> bytes) {
  return bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin());
}

}  // namespace

uint8_t AdditiveChecksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> EncodeUsbPacket(uint8_t sequence, uint8_t command, std::span<const uint8_t> payload) {
  const size_t length = std::min(payload.size(), kUsbMaxPayload);
  std::vector<uint8_t> packet(kMagic.begin(), kMagic.end());
  // Sequence, command, then the payload length most significant byte first.
  packet.push_back(sequence);
  packet.push_back(command);
  packet.push_back(static_cast<uint8_t>(length >> 8));
  packet.push_back(static_cast<uint8_t>(length));
  packet.insert(packet.end(), payload.begin(), payload.begin() + static_cast<ptrdiff_t>(length));
  // The checksum covers everything after the magic.
  packet.push_back(AdditiveChecksum(std::span(packet).subspan(4)));
  return packet;
}

std::vector<uint8_t> EncodeSerialPacket(uint8_t sequence, uint8_t command, std::span<const uint8_t> payload) {
  const size_t length = std::min(payload.size(), kSerialMaxPayload);
  std::vector<uint8_t> packet(kMagic.begin(), kMagic.end());
  packet.push_back(sequence);
  packet.push_back(command);
  packet.push_back(static_cast<uint8_t>(length));
  packet.insert(packet.end(), payload.begin(), payload.begin() + static_cast<ptrdiff_t>(length));
  packet.push_back(AdditiveChecksum(std::span(packet).subspan(4)));
  return packet;
}

size_t UsbPaddedSize(size_t byteCount) {
  const size_t units = std::max<size_t>(1, (byteCount + kUsbTransferUnit - 1) / kUsbTransferUnit);
  return units * kUsbTransferUnit;
}

std::optional<SimPacket> ParseUsbTransfer(std::span<const uint8_t> transfer) {
  if (transfer.size() < kUsbPacketOverhead || !StartsWithMagic(transfer)) return std::nullopt;
  const size_t length = (size_t{transfer[6]} << 8) | transfer[7];
  if (transfer.size() < length + kUsbPacketOverhead) return std::nullopt;
  // The checksum byte follows the payload; padding after it means nothing.
  if (AdditiveChecksum(transfer.subspan(4, length + 4)) != transfer[8 + length]) return std::nullopt;
  SimPacket packet;
  packet.sequence = transfer[4];
  packet.command = transfer[5];
  packet.payload.assign(transfer.begin() + 8, transfer.begin() + 8 + static_cast<ptrdiff_t>(length));
  return packet;
}

void SerialPacketParser::Feed(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<SimPacket> SerialPacketParser::Next() {
  for (;;) {
    // Drop everything before the first magic; keep a tail that may start one.
    auto it = std::search(buffer_.begin(), buffer_.end(), kMagic.begin(), kMagic.end());
    if (it == buffer_.end()) {
      if (buffer_.size() > kMagic.size() - 1)
        buffer_.erase(buffer_.begin(), buffer_.end() - (kMagic.size() - 1));
      return std::nullopt;
    }
    buffer_.erase(buffer_.begin(), it);
    if (buffer_.size() < 7) return std::nullopt;
    const size_t length = buffer_[6];
    if (buffer_.size() < length + kSerialPacketOverhead) return std::nullopt;
    const std::span<const uint8_t> bytes(buffer_);
    if (AdditiveChecksum(bytes.subspan(4, length + 3)) != buffer_[7 + length]) {
      // Not a packet after all (or a damaged one): look for the next magic.
      ++rejected_;
      buffer_.erase(buffer_.begin());
      continue;
    }
    SimPacket packet;
    packet.sequence = buffer_[4];
    packet.command = buffer_[5];
    packet.payload.assign(buffer_.begin() + 7, buffer_.begin() + 7 + static_cast<ptrdiff_t>(length));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(length + kSerialPacketOverhead));
    return packet;
  }
}

}  // namespace tolv::sim
