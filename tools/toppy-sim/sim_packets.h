// The receiver's side of the packet format. Every packet starts with "ToFi",
// a sequence byte and a command code, then the payload length (two bytes on
// USB, one on a serial line), the payload and a one-byte additive checksum
// over everything after the magic. On USB each bulk transfer carries one
// packet padded to a multiple of 512 bytes.
//
// This is the emulated receiver's own implementation, written apart from the
// program's link so that each can check the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolv::sim {

struct SimPacket {
  uint8_t sequence = 0;
  uint8_t command = 0;
  std::vector<uint8_t> payload;
};

inline constexpr size_t kUsbPacketOverhead = 9;     // magic, sequence, command, 2 length bytes, checksum
inline constexpr size_t kSerialPacketOverhead = 8;  // magic, sequence, command, 1 length byte, checksum
inline constexpr size_t kUsbTransferUnit = 512;
inline constexpr size_t kSerialMaxPayload = 255;
inline constexpr size_t kUsbMaxPayload = 0xFFFF;

// Sum of bytes modulo 256.
uint8_t AdditiveChecksum(std::span<const uint8_t> bytes);

// Frames a packet for USB, without the padding. Payloads longer than
// kUsbMaxPayload are cut to it.
std::vector<uint8_t> EncodeUsbPacket(uint8_t sequence, uint8_t command, std::span<const uint8_t> payload);

// Frames a packet for a serial line. Payloads longer than kSerialMaxPayload
// are cut to it.
std::vector<uint8_t> EncodeSerialPacket(uint8_t sequence, uint8_t command, std::span<const uint8_t> payload);

// Rounds byteCount up to the next multiple of kUsbTransferUnit (at least one
// unit).
size_t UsbPaddedSize(size_t byteCount);

// Reads the USB packet at the start of one bulk transfer (transferSize bytes).
// Nothing when the magic is missing, the transfer is shorter than the packet
// its length field announces, or the checksum does not match.
std::optional<SimPacket> ParseUsbTransfer(std::span<const uint8_t> transfer);

// Cuts serial packets out of a byte stream. Bytes before a magic are dropped;
// a magic whose packet fails its checksum is passed over, so that stray bytes
// cannot wedge the stream. The buffer never holds more than one packet's worth
// of bytes plus what the last Feed brought.
class SerialPacketParser {
 public:
  void Feed(std::span<const uint8_t> bytes);
  // The next complete, valid packet, if the buffered bytes hold one.
  std::optional<SimPacket> Next();
  void Clear() { buffer_.clear(); }
  size_t buffered() const { return buffer_.size(); }
  // Packets passed over because of a bad checksum so far.
  int rejectedCount() const { return rejected_; }

 private:
  std::vector<uint8_t> buffer_;
  int rejected_ = 0;
};

}  // namespace tolv::sim
