#include "codec/crc16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tolv {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

uint32_t Crc(const std::vector<uint8_t>& bytes) {
  return CRC16_Calc(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// Bit-by-bit CRC-16/ARC: the reflected register shifted once per input bit.
uint32_t BitwiseCrc(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

struct CrcVector {
  std::vector<uint8_t> bytes;
  uint32_t crc;
};

std::vector<CrcVector> KnownVectors() {
  return {
      {Bytes("abc"), 0x9738},
      {Bytes("123456789"), 0xBB3D},
      {std::vector<uint8_t>(1, 0xFF), 0x4040},
      {std::vector<uint8_t>(1, 0x01), 0xC0C1},
      {std::vector<uint8_t>(1, 0x80), 0xA001},
      {std::vector<uint8_t>(1000, 0x00), 0x0000},
      {std::vector<uint8_t>(), 0x0000},
  };
}

TEST(Crc16, KnownVectors) {
  for (const CrcVector& v : KnownVectors()) EXPECT_EQ(Crc(v.bytes), v.crc) << "length " << v.bytes.size();
}

TEST(Crc16, MatchesBitwiseComputationOnVariedData) {
  for (size_t length : {1u, 2u, 7u, 64u, 1023u, 65537u}) {
    const std::vector<uint8_t> data = test::RandomBytes(static_cast<uint32_t>(length), length);
    const uint32_t crc = Crc(data);
    EXPECT_EQ(crc, BitwiseCrc(data)) << "length " << length;
    EXPECT_LE(crc, 0xFFFFu);
  }
}

TEST(Crc16, FeedingInPiecesGivesTheWholeValue) {
  std::vector<CrcVector> vectors = KnownVectors();
  vectors.push_back({test::RandomBytes(7, 5000), 0});
  vectors.back().crc = BitwiseCrc(vectors.back().bytes);
  for (const CrcVector& v : vectors) {
    const int32_t size = static_cast<int32_t>(v.bytes.size());
    for (int32_t cut = 0; cut <= size; cut += std::max<int32_t>(1, size / 7)) {
      const uint32_t first = CRC16_Calc(v.bytes.data(), cut);
      EXPECT_EQ(CRC16_Update(first, v.bytes.data() + cut, size - cut), v.crc) << "cut at " << cut;
    }
    // One byte at a time.
    uint32_t crc = 0;
    for (uint8_t byte : v.bytes) crc = CRC16_Update(crc, &byte, 1);
    EXPECT_EQ(crc, v.crc);
  }
}

TEST(Crc16, CombiningTwoPiecesGivesTheCrcOfBoth) {
  const std::vector<uint8_t> data = test::RandomBytes(9, 400000);
  for (size_t split : {size_t{0}, size_t{1}, size_t{8192}, size_t{32762}, size_t{399999}, data.size()}) {
    const std::vector<uint8_t> a(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(split));
    const std::vector<uint8_t> b(data.begin() + static_cast<std::ptrdiff_t>(split), data.end());
    EXPECT_EQ(CRC16_Combine(Crc(a), Crc(b), b.size()), BitwiseCrc(data)) << "split at " << split;
  }
}

TEST(Crc16, EverySingleBitFlipChangesTheValue) {
  for (std::vector<uint8_t> data : {Bytes("123456789"), test::RandomBytes(3, 300)}) {
    const uint32_t original = Crc(data);
    for (size_t bit = 0; bit < data.size() * 8; ++bit) {
      data[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_NE(Crc(data), original) << "bit " << bit;
      data[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
  }
}

TEST(Crc16, ZeroOrNegativeCountReadsNothing) {
  EXPECT_EQ(CRC16_Calc(nullptr, 0), 0u);
  EXPECT_EQ(CRC16_Calc(nullptr, -5), 0u);
  EXPECT_EQ(CRC16_Update(0x1234, nullptr, 0), 0x1234u);
}

TEST(BigEndianFields, ReadAndWriteKnownValues) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(ReadBE16(bytes), 0x1234u);
  EXPECT_EQ(ReadBE24(bytes), 1193046u);
  EXPECT_EQ(ReadBE32(bytes), 305419896u);
  EXPECT_EQ(ReadBE32(bytes + 4), 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<int32_t>(ReadBE32(bytes + 4)), -1);
  EXPECT_EQ(ReadBE16(bytes + 4), 0xFFFFu);
  EXPECT_EQ(ReadBE24(bytes + 4), 0xFFFFFFu);
}

TEST(BigEndianFields, ReadAtOddAddressesAndTouchNothingElse) {
  uint8_t buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  WriteBE16(buffer + 3, 70196);  // 0x11234: the upper half is ignored
  const uint8_t expected[8] = {0xAA, 0xAA, 0xAA, 0x12, 0x34, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(0, memcmp(buffer, expected, sizeof buffer));
  EXPECT_EQ(ReadBE16(buffer + 3), 0x1234u);
  EXPECT_EQ(ReadBE24(buffer + 3), 0x1234AAu);
  EXPECT_EQ(ReadBE32(buffer + 1), 0xAAAA1234u);
  for (uint32_t value : {0u, 1u, 0xFFu, 0x100u, 0xFFFFu}) {
    WriteBE16(buffer + 1, value);
    EXPECT_EQ(ReadBE16(buffer + 1), value);
  }
}

}  // namespace
}  // namespace tolv
