#include "link/packet.h"

#include <algorithm>
#include <cstring>

#include "codec/crc16.h"

namespace tolv {

namespace {

bool MagicAt(const uint8_t* p) { return std::memcmp(p, kPacketMagic, sizeof kPacketMagic) == 0; }

// Sequence, command and length fields follow the magic in both framings.
void WriteHead(uint8_t* dst, uint8_t sequence, uint8_t command) {
  std::memcpy(dst, kPacketMagic, sizeof kPacketMagic);
  dst[4] = sequence;
  dst[5] = command;
}

}  // namespace

uint8_t Packet_Sum(const uint8_t* data, int32_t byteCount) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < byteCount; ++i) sum += data[i];
  return static_cast<uint8_t>(sum);
}

int32_t Packet_UsbPaddedSize(int32_t packetSize) {
  if (packetSize <= 0) return 0;
  return (packetSize + kUsbTransferUnit - 1) / kUsbTransferUnit * kUsbTransferUnit;
}

int32_t Packet_FrameUsb(uint8_t sequence, uint8_t command, const uint8_t* payload, int32_t payloadSize,
                        uint8_t* dst, int32_t dstCapacity) {
  if (payloadSize < 0 || payloadSize > 0xFFFF || payloadSize > dstCapacity - kUsbPacketOverhead) return -1;
  WriteHead(dst, sequence, command);
  // Length: 16 bits, most significant byte first.
  WriteBE16(dst + 6, static_cast<uint32_t>(payloadSize));
  if (payloadSize > 0) std::memcpy(dst + kUsbHeaderSize, payload, static_cast<size_t>(payloadSize));
  // Checksum over everything after the magic.
  dst[kUsbHeaderSize + payloadSize] = Packet_Sum(dst + 4, kUsbHeaderSize - 4 + payloadSize);
  return payloadSize + kUsbPacketOverhead;
}

int32_t Packet_FrameSerial(uint8_t sequence, uint8_t command, const uint8_t* payload, int32_t payloadSize,
                           uint8_t* dst, int32_t dstCapacity) {
  if (payloadSize < 0 || payloadSize > kSerialMaxPayload || payloadSize > dstCapacity - kSerialPacketOverhead)
    return -1;
  WriteHead(dst, sequence, command);
  // Length: one byte.
  dst[6] = static_cast<uint8_t>(payloadSize);
  if (payloadSize > 0) std::memcpy(dst + kSerialHeaderSize, payload, static_cast<size_t>(payloadSize));
  dst[kSerialHeaderSize + payloadSize] = Packet_Sum(dst + 4, kSerialHeaderSize - 4 + payloadSize);
  return payloadSize + kSerialPacketOverhead;
}

namespace {

void FillPacket(const uint8_t* src, int32_t headerSize, int32_t payloadSize, ToppyPacketType& packet) {
  packet.Sequence = src[4];
  packet.Command = src[5];
  packet.DataLength = static_cast<uint32_t>(payloadSize);
  packet.Data.assign(src + headerSize, src + headerSize + payloadSize);
  packet.Checksum = src[headerSize + payloadSize];
}

}  // namespace

PacketParse Packet_ParseUsb(const uint8_t* src, int32_t srcSize, ToppyPacketType& packet) {
  if (srcSize <= 0) return PacketParse::Empty;
  if (srcSize < kUsbPacketOverhead) return PacketParse::Truncated;
  const int32_t payloadSize = static_cast<int32_t>(ReadBE16(src + 6));
  if (payloadSize > srcSize - kUsbPacketOverhead) return PacketParse::Truncated;
  FillPacket(src, kUsbHeaderSize, payloadSize, packet);
  const uint8_t expected = Packet_Sum(src + 4, kUsbHeaderSize - 4 + payloadSize);
  return expected == packet.Checksum ? PacketParse::Ok : PacketParse::BadChecksum;
}

SerialReceiver::SerialReceiver(int32_t capacity)
    : buffer_(static_cast<size_t>(std::max(capacity, kSerialPacketOverhead + kSerialMaxPayload))) {}

int32_t SerialReceiver::MakeRoom() {
  if (FreeSpace() > 0) return 0;
  // A full buffer holds no magic: a magic at the front would have completed
  // its packet within 263 bytes. Only the last 3 bytes may begin one.
  constexpr int32_t kKeep = static_cast<int32_t>(sizeof kPacketMagic) - 1;
  const int32_t dropped = count_ - kKeep;
  std::memmove(buffer_.data(), buffer_.data() + dropped, kKeep);
  count_ = kKeep;
  scanFrom_ = 0;
  return dropped;
}

void SerialReceiver::Commit(int32_t byteCount) { count_ += std::clamp(byteCount, 0, FreeSpace()); }

void SerialReceiver::Clear() {
  count_ = 0;
  scanFrom_ = 0;
}

SerialReceiver::Result SerialReceiver::TakePacket(ToppyPacketType& packet, std::vector<uint8_t>* raw) {
  if (count_ <= kSerialHeaderSize) return Result::None;
  const uint8_t* p = buffer_.data();
  int32_t start = -1;
  for (int32_t i = scanFrom_; i + 4 <= count_; ++i) {
    if (MagicAt(p + i)) {
      start = i;
      break;
    }
  }
  if (start < 0) {
    scanFrom_ = std::max(0, count_ - 3);
    return Result::None;
  }
  // Bytes before the magic are stray: drop them.
  if (start > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start, static_cast<size_t>(count_ - start));
    count_ -= start;
  }
  scanFrom_ = 0;
  if (count_ <= kSerialHeaderSize) return Result::None;
  const int32_t payloadSize = p[6];
  const int32_t packetSize = payloadSize + kSerialPacketOverhead;
  if (count_ < packetSize) return Result::None;
  FillPacket(p, kSerialHeaderSize, payloadSize, packet);
  if (raw) raw->assign(p, p + packetSize);
  const bool sumOk = Packet_Sum(p + 4, kSerialHeaderSize - 4 + payloadSize) == packet.Checksum;
  // The packet leaves the buffer; what follows it stays for the next call.
  std::memmove(buffer_.data(), buffer_.data() + packetSize, static_cast<size_t>(count_ - packetSize));
  count_ -= packetSize;
  return sumOk ? Result::Packet : Result::BadChecksum;
}

}  // namespace tolv
