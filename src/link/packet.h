// Packets between the program and the receiver.
//
// USB:    "ToFi" | sequence | command | length (BE16) | payload | checksum
// serial: "ToFi" | sequence | command | length (1 byte) | payload | checksum
// The checksum is the sum, modulo 256, of every byte after the magic up to the
// end of the payload. On USB a packet travels in one bulk transfer padded to a
// multiple of 512 bytes; on a serial line packets follow one another without
// padding, possibly after stray bytes.
//
// Everything here is pure: framing into a caller's buffer and parsing from a
// caller's bytes, for either direction of the link.
#pragma once

#include <cstdint>
#include <vector>

namespace tolv {

inline constexpr uint8_t kPacketMagic[4] = {0x54, 0x6F, 0x46, 0x69};  // "ToFi"
inline constexpr int32_t kUsbHeaderSize = 8;
inline constexpr int32_t kSerialHeaderSize = 7;
inline constexpr int32_t kUsbPacketOverhead = kUsbHeaderSize + 1;
inline constexpr int32_t kSerialPacketOverhead = kSerialHeaderSize + 1;
inline constexpr int32_t kUsbTransferUnit = 512;
inline constexpr int32_t kSerialMaxPayload = 255;
// The link's packet buffers: a framed packet is at most this long.
inline constexpr int32_t kLinkBufferSize = 40004;
inline constexpr int32_t kUsbMaxPayload = kLinkBufferSize - kUsbPacketOverhead;  // 39995
// One USB read takes a whole reply of up to 30000 payload bytes, padded.
inline constexpr int32_t kUsbReadSize = 30208;

// The last packet received.
struct ToppyPacketType {
  uint8_t Sequence = 0;
  uint8_t Command = 0;  // 0: no packet parsed by the last wait
  uint32_t DataLength = 0;
  std::vector<uint8_t> Data;  // the DataLength payload bytes
  uint8_t Checksum = 0;       // as received
};

// Sum modulo 256 of byteCount bytes from data.
uint8_t Packet_Sum(const uint8_t* data, int32_t byteCount);

// Bytes a USB packet of packetSize bytes occupies on the pipe: packetSize
// rounded up to a multiple of 512 (0 stays 0).
int32_t Packet_UsbPaddedSize(int32_t packetSize);

// Frames a USB packet into dst (dstCapacity bytes). payload may be null when
// payloadSize is 0. Returns the packet length payloadSize + 9, or -1 (nothing
// written) when payloadSize is negative, above 65535 or the packet does not
// fit dstCapacity. The padding to 512 is not written.
int32_t Packet_FrameUsb(uint8_t sequence, uint8_t command, const uint8_t* payload, int32_t payloadSize,
                        uint8_t* dst, int32_t dstCapacity);

// Frames a serial packet into dst. Returns payloadSize + 8, or -1 (nothing
// written) when payloadSize is negative, above 255 or the packet does not fit.
int32_t Packet_FrameSerial(uint8_t sequence, uint8_t command, const uint8_t* payload, int32_t payloadSize,
                           uint8_t* dst, int32_t dstCapacity);

enum class PacketParse {
  Ok,           // packet filled
  Empty,        // no bytes at all
  Truncated,    // fewer bytes than the header or the declared length need
  BadChecksum,  // complete, but the checksum does not match (packet still filled)
};

// Parses the packet at the start of the srcSize bytes of one USB transfer.
// The magic is not required; bytes after the checksum (padding) are ignored.
// Reads only within src. On Ok and BadChecksum, packet holds the packet.
PacketParse Packet_ParseUsb(const uint8_t* src, int32_t srcSize, ToppyPacketType& packet);

// The receive side of a serial line: bytes accumulate in a bounded buffer and
// complete packets are taken from its front.
class SerialReceiver {
 public:
  explicit SerialReceiver(int32_t capacity = kLinkBufferSize);

  // Room for the next byte: when the buffer is full (which happens only when
  // it holds no magic), every byte but the last 3 is dropped, since those
  // could begin a magic. Returns the number of bytes dropped.
  int32_t MakeRoom();

  // Where the next byte goes and how many may go there (at least 1 after
  // MakeRoom). Call Commit with the count actually stored.
  uint8_t* WritePointer() { return buffer_.data() + count_; }
  int32_t FreeSpace() const { return static_cast<int32_t>(buffer_.size()) - count_; }
  void Commit(int32_t byteCount);

  enum class Result { None, Packet, BadChecksum };

  // Looks for the first magic once more than 7 bytes are held; the bytes
  // before it are dropped. When the packet at the front is complete it is
  // copied into packet (with its raw bytes in raw, if given) and removed from
  // the buffer; BadChecksum packets are removed too. At most one packet per
  // call; None when no complete packet is at the front.
  Result TakePacket(ToppyPacketType& packet, std::vector<uint8_t>* raw = nullptr);

  void Clear();
  int32_t count() const { return count_; }
  const uint8_t* data() const { return buffer_.data(); }

 private:
  std::vector<uint8_t> buffer_;
  int32_t count_ = 0;
  int32_t scanFrom_ = 0;  // no magic starts before this index
};

}  // namespace tolv
