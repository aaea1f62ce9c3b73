// Packet framing and parsing: known answers and stream behaviour.

#include "link/packet.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_line.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FrameUsb(uint8_t seq, uint8_t cmd, const Bytes& payload) {
  Bytes dst(kLinkBufferSize);
  const int32_t n = Packet_FrameUsb(seq, cmd, payload.data(), static_cast<int32_t>(payload.size()),
                                    dst.data(), static_cast<int32_t>(dst.size()));
  dst.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return dst;
}

Bytes FrameSerial(uint8_t seq, uint8_t cmd, const Bytes& payload) {
  Bytes dst(300);
  const int32_t n = Packet_FrameSerial(seq, cmd, payload.data(), static_cast<int32_t>(payload.size()),
                                       dst.data(), static_cast<int32_t>(dst.size()));
  dst.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return dst;
}

TEST(PacketFraming, KnownAnswers) {
  // Command 3 without payload, sequence 0x41: the checksum is 0x41 + 3.
  EXPECT_EQ(FrameSerial(0x41, 0x03, {}), (Bytes{0x54, 0x6F, 0x46, 0x69, 0x41, 0x03, 0x00, 0x44}));
  EXPECT_EQ(FrameUsb(0x41, 0x03, {}), (Bytes{0x54, 0x6F, 0x46, 0x69, 0x41, 0x03, 0x00, 0x00, 0x44}));
  // The checksum wraps modulo 256 and covers the length bytes and the payload.
  EXPECT_EQ(FrameSerial(0xFF, 0x04, {0xFF, 0x00, 0x12, 0x34}),
            (Bytes{0x54, 0x6F, 0x46, 0x69, 0xFF, 0x04, 0x04, 0xFF, 0x00, 0x12, 0x34, 0x4C}));
  EXPECT_EQ(FrameUsb(0x00, 0x04, {0x75, 0x30, 0x00, 0xEA, 0x60}),
            (Bytes{0x54, 0x6F, 0x46, 0x69, 0x00, 0x04, 0x00, 0x05, 0x75, 0x30, 0x00, 0xEA, 0x60, 0xF8}));
  // A USB length above 255 uses both length bytes.
  const Bytes big = FrameUsb(1, 5, Bytes(0x1234, 0));
  ASSERT_EQ(big.size(), 0x1234u + 9);
  EXPECT_EQ(big[6], 0x12);
  EXPECT_EQ(big[7], 0x34);
  EXPECT_EQ(big.back(), static_cast<uint8_t>(1 + 5 + 0x12 + 0x34));
}

TEST(PacketFraming, UsbPaddingAndLimits) {
  EXPECT_EQ(Packet_UsbPaddedSize(9), 512);
  EXPECT_EQ(Packet_UsbPaddedSize(503 + 9), 512);
  EXPECT_EQ(Packet_UsbPaddedSize(504 + 9), 1024);
  EXPECT_EQ(Packet_UsbPaddedSize(30009), 30208);
  EXPECT_EQ(Packet_UsbPaddedSize(0), 0);

  Bytes dst(kLinkBufferSize);
  const Bytes payload(kUsbMaxPayload + 1, 7);
  EXPECT_EQ(Packet_FrameUsb(0, 5, payload.data(), kUsbMaxPayload, dst.data(), kLinkBufferSize),
            kLinkBufferSize);
  EXPECT_EQ(Packet_FrameUsb(0, 5, payload.data(), kUsbMaxPayload + 1, dst.data(), kLinkBufferSize), -1);
  EXPECT_EQ(Packet_FrameUsb(0, 5, payload.data(), -1, dst.data(), kLinkBufferSize), -1);
  EXPECT_EQ(Packet_FrameSerial(0, 5, payload.data(), 255, dst.data(), kLinkBufferSize), 263);
  EXPECT_EQ(Packet_FrameSerial(0, 5, payload.data(), 256, dst.data(), kLinkBufferSize), -1);
  EXPECT_EQ(Packet_FrameSerial(0, 5, payload.data(), 10, dst.data(), 17), -1);  // one byte short
}

TEST(PacketParsing, UsbTransfers) {
  ToppyPacketType packet;
  // Padding after the checksum is ignored; the magic is not required.
  Bytes transfer = test::FramePacket(true, 7, 8, {0x00, 0x01, 0x02});
  transfer.resize(512, 0xEE);
  ASSERT_EQ(Packet_ParseUsb(transfer.data(), 512, packet), PacketParse::Ok);
  EXPECT_EQ(packet.Sequence, 7);
  EXPECT_EQ(packet.Command, 8);
  EXPECT_EQ(packet.DataLength, 3u);
  EXPECT_EQ(packet.Data, (Bytes{0, 1, 2}));
  transfer[0] = 'X';
  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 512, packet), PacketParse::Ok);

  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 0, packet), PacketParse::Empty);
  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 8, packet), PacketParse::Truncated);
  // The declared length runs past the bytes of the transfer.
  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 11, packet), PacketParse::Truncated);
  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 12, packet), PacketParse::Ok);
  Bytes lying = test::FramePacket(true, 1, 5, {});
  lying[6] = 0xFF;  // claims 65280 payload bytes
  EXPECT_EQ(Packet_ParseUsb(lying.data(), static_cast<int32_t>(lying.size()), packet),
            PacketParse::Truncated);

  transfer[9] ^= 1;
  EXPECT_EQ(Packet_ParseUsb(transfer.data(), 512, packet), PacketParse::BadChecksum);
}

// Feeds bytes one at a time as the link does; returns the packets in order.
std::vector<ToppyPacketType> Feed(SerialReceiver& rx, const Bytes& bytes,
                                  std::vector<size_t>* completedAt = nullptr, int* badChecksums = nullptr) {
  std::vector<ToppyPacketType> packets;
  for (size_t i = 0; i < bytes.size(); ++i) {
    rx.MakeRoom();
    *rx.WritePointer() = bytes[i];
    rx.Commit(1);
    ToppyPacketType packet;
    const auto result = rx.TakePacket(packet);
    if (result == SerialReceiver::Result::Packet) {
      packets.push_back(packet);
      if (completedAt) completedAt->push_back(i);
    }
    if (result == SerialReceiver::Result::BadChecksum && badChecksums) ++*badChecksums;
  }
  return packets;
}

TEST(PacketParsing, SerialStreams) {
  const Bytes first = test::FramePacket(false, 1, 0x08, {0x00, 0x10, 0x00});
  const Bytes second = test::FramePacket(false, 2, 0x05, {0xAA, 0xBB});
  // Junk before a packet is dropped once the magic shows; the packet is taken
  // by the byte that completes it.
  {
    SerialReceiver rx;
    Bytes stream = {0x00, 'T'};
    stream.insert(stream.end(), first.begin(), first.end());
    std::vector<size_t> at;
    const auto packets = Feed(rx, stream, &at);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(at[0], stream.size() - 1);
    EXPECT_EQ(packets[0].Command, 0x08);
    EXPECT_EQ(packets[0].Data, (Bytes{0x00, 0x10, 0x00}));
    EXPECT_EQ(rx.count(), 0);
  }
  // Back to back: each packet by the call that reads its last byte.
  {
    SerialReceiver rx;
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    std::vector<size_t> at;
    const auto packets = Feed(rx, stream, &at);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(at, (std::vector<size_t>{first.size() - 1, stream.size() - 1}));
    EXPECT_EQ(packets[1].Sequence, 2);
    EXPECT_EQ(packets[1].Data, (Bytes{0xAA, 0xBB}));
  }
  // A packet with a wrong checksum is removed and not taken; the next one is.
  {
    SerialReceiver rx;
    Bytes stream = first;
    stream.back() ^= 0xFF;
    stream.insert(stream.end(), second.begin(), second.end());
    int bad = 0;
    const auto packets = Feed(rx, stream, nullptr, &bad);
    EXPECT_EQ(bad, 1);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].Command, 0x05);
  }
  // An empty payload: 8 bytes in all.
  {
    SerialReceiver rx;
    const auto packets = Feed(rx, test::FramePacket(false, 9, 0x06, {}));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].DataLength, 0u);
    EXPECT_TRUE(packets[0].Data.empty());
  }
}

TEST(PacketParsing, SerialBufferNeverOverflows) {
  // A stream without a magic: the buffer drops old bytes, keeping the last 3,
  // and a packet whose magic straddles the drop is still found.
  SerialReceiver rx(300);
  Bytes head = test::RandomBytes(3, 298);
  for (auto& b : head)
    if (b == 'T') b = 't';
  // 298 junk bytes, then "To" fill the buffer; the rest of the packet follows.
  const Bytes packet = test::FramePacket(false, 4, 0x05, {1, 2, 3});
  head.insert(head.end(), packet.begin(), packet.end());
  const auto packets = Feed(rx, head);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].Data, (Bytes{1, 2, 3}));
  EXPECT_LE(rx.count(), 300);

  SerialReceiver big;
  const auto none = Feed(big, Bytes(100000, 0x55));
  EXPECT_TRUE(none.empty());
  EXPECT_LE(big.count(), kLinkBufferSize);
}

}  // namespace
}  // namespace tolv
