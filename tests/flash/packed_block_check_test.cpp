#include "flash/packed_block_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "flash/packing.h"
#include "flash_test_util.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes PackedOf(uint32_t seed, uint16_t systemId = 406) {
  const Bytes flash = test::SettingsLikeImage(seed);
  Bytes packed(kPackedBlockSize);
  EXPECT_TRUE(PackFlashData(systemId, flash.data(), packed.data()));
  return packed;
}

// Entries that are not Ok, by index.
std::vector<int> BadEntries(const PackedBlockCheck& check) {
  std::vector<int> bad;
  for (const PackedEntryCheck& entry : check.entries) {
    if (!entry.Ok()) bad.push_back(entry.index);
  }
  return bad;
}

TEST(PackedBlockCheck, FreshBlocksCarryOnlyGoodChecksums) {
  for (uint16_t systemId : {406, 21031}) {
    const PackedBlockCheck check = PackedBlock_Check(PackedOf(31, systemId).data(), kPackedBlockSize);
    EXPECT_EQ(check.littleEndian, systemId == 21031);
    EXPECT_EQ(check.systemId, systemId);
    EXPECT_EQ(check.entryCount, 64);
    ASSERT_EQ(check.entries.size(), 64u);
    for (const PackedEntryCheck& entry : check.entries) {
      EXPECT_EQ(entry.state, PackedEntryState::kChecked);
      EXPECT_EQ(entry.dataLength, 8192u);
      EXPECT_EQ(entry.decodedLength, 8192u);
      EXPECT_EQ(entry.storedHeaderCrc, 0x1B90u);
      ASSERT_EQ(entry.chunks.size(), 1u);
      EXPECT_EQ(entry.chunks[0].offset, entry.blockOffset + 10);
      EXPECT_EQ(entry.chunks[0].uncompressedSize, 8192u);
      EXPECT_TRUE(entry.Ok());
    }
    EXPECT_TRUE(check.Ok());
  }
}

TEST(PackedBlockCheck, EachChecksumIsReportedOnItsOwn) {
  const Bytes good = PackedOf(32);
  const PackedBlockCheck fresh = PackedBlock_Check(good.data(), good.size());

  // A changed data byte inside block 2: block CRC, chunk CRC and data fail.
  Bytes data = good;
  data[test::EntryBlockOffset(data, 2) + 30] ^= 0x01;
  PackedEntryCheck e = PackedBlock_Check(data.data(), data.size()).entries[2];
  EXPECT_FALSE(e.BlockCrcOk());
  EXPECT_TRUE(e.HeaderOk());
  EXPECT_FALSE(e.ChunksOk());
  EXPECT_FALSE(e.DataOk());

  // A wrong data CRC in the directory: only the data check fails.
  Bytes dataCrc = good;
  dataCrc[64 + 3 * 64 + 3] ^= 0x01;
  e = PackedBlock_Check(dataCrc.data(), dataCrc.size()).entries[3];
  EXPECT_TRUE(e.BlockCrcOk() && e.HeaderOk() && e.ChunksOk());
  EXPECT_FALSE(e.DataOk());
  EXPECT_EQ(e.computedDataCrc, fresh.entries[3].storedDataCrc);

  // A wrong header CRC with the block CRC refreshed: only the header fails.
  Bytes header = good;
  header[test::EntryBlockOffset(header, 4) + 3] ^= 0x01;
  test::RefreshBlockCrc(header, 4);
  e = PackedBlock_Check(header.data(), header.size()).entries[4];
  EXPECT_TRUE(e.BlockCrcOk() && e.ChunksOk() && e.DataOk());
  EXPECT_FALSE(e.HeaderOk());

  // A wrong chunk CRC with the block CRC refreshed: only the chunk fails.
  Bytes chunk = good;
  chunk[test::EntryBlockOffset(chunk, 5) + 12] ^= 0x01;
  test::RefreshBlockCrc(chunk, 5);
  const PackedBlockCheck chunkCheck = PackedBlock_Check(chunk.data(), chunk.size());
  e = chunkCheck.entries[5];
  EXPECT_TRUE(e.BlockCrcOk() && e.HeaderOk() && e.DataOk());
  EXPECT_FALSE(e.ChunksOk());
  EXPECT_EQ(BadEntries(chunkCheck), std::vector<int>{5});
  EXPECT_FALSE(chunkCheck.Ok());

  // A wrong data length in the directory.
  Bytes length = good;
  test::SetEntryField32(length, 6, 12, 8191);
  EXPECT_FALSE(PackedBlock_Check(length.data(), length.size()).entries[6].DataOk());
}

TEST(PackedBlockCheck, UnusedAndOutsideEntries) {
  Bytes packed = PackedOf(33);
  test::SetEntryBlockCrc(packed, 1, 0xFFFF);
  test::SetEntryField32(packed, 2, 4, kPackedBlockSize - 4);
  test::SetEntryField32(packed, 3, 8, 3);  // a block shorter than its header
  test::RefreshBlockCrc(packed, 3);
  test::SetEntryField32(packed, 4, 8, 14);  // the chunk header reaches past the block's end
  test::RefreshBlockCrc(packed, 4);
  const PackedBlockCheck check = PackedBlock_Check(packed.data(), packed.size());
  EXPECT_EQ(check.entries[1].state, PackedEntryState::kSkipped);
  EXPECT_TRUE(check.entries[1].Ok());
  EXPECT_EQ(check.entries[2].state, PackedEntryState::kOutside);
  EXPECT_FALSE(check.entries[3].chunksInside);
  EXPECT_FALSE(check.entries[4].chunksInside);
  EXPECT_TRUE(check.entries[4].chunks.empty());
  EXPECT_EQ(BadEntries(check), (std::vector<int>{2, 3, 4}));
}

TEST(PackedBlockCheck, OneEntryAloneIsCheckedAsInTheWholeBlock) {
  Bytes packed = PackedOf(35);
  test::SetEntryBlockCrc(packed, 1, 0xFFFF);
  test::SetEntryField32(packed, 2, 4, kPackedBlockSize - 4);
  packed[test::EntryBlockOffset(packed, 3) + 30] ^= 0x01;
  const PackedBlockCheck whole = PackedBlock_Check(packed.data(), packed.size());
  for (int j : {0, 1, 2, 3, 63}) {
    SCOPED_TRACE(j);
    const std::optional<PackedEntryCheck> alone = PackedBlock_CheckEntry(packed.data(), packed.size(), j);
    ASSERT_TRUE(alone);
    const PackedEntryCheck& in = whole.entries[static_cast<size_t>(j)];
    EXPECT_EQ(alone->state, in.state);
    EXPECT_EQ(alone->Ok(), in.Ok());
    EXPECT_EQ(alone->computedBlockCrc, in.computedBlockCrc);
    EXPECT_EQ(alone->chunks.size(), in.chunks.size());
    EXPECT_EQ(alone->decoded, in.decoded);
    EXPECT_EQ(alone->computedDataCrc, in.computedDataCrc);
  }
  // Beyond the entry count, before the first entry, or cut off.
  EXPECT_FALSE(PackedBlock_CheckEntry(packed.data(), packed.size(), 64));
  EXPECT_FALSE(PackedBlock_CheckEntry(packed.data(), packed.size(), -1));
  packed[33] = 3;
  EXPECT_FALSE(PackedBlock_CheckEntry(packed.data(), packed.size(), 3));
  EXPECT_TRUE(PackedBlock_CheckEntry(packed.data(), packed.size(), 2));
  EXPECT_FALSE(PackedBlock_CheckEntry(packed.data(), 64 + 64 * 2 + 15, 2));
  EXPECT_FALSE(PackedBlock_CheckEntry(packed.data(), 33, 0));
}

TEST(PackedBlockCheck, ShortAndEmptyInputs) {
  const Bytes packed = PackedOf(34);
  const PackedBlockCheck none = PackedBlock_Check(packed.data(), 10);
  EXPECT_FALSE(none.directoryInside);
  EXPECT_TRUE(none.entries.empty());
  EXPECT_FALSE(none.Ok());
  const PackedBlockCheck part = PackedBlock_Check(packed.data(), 64 + 64 * 10 + 16);
  EXPECT_FALSE(part.directoryInside);
  EXPECT_EQ(part.entries.size(), 11u);
  const Bytes zero(kPackedBlockSize, 0x00);
  const PackedBlockCheck empty = PackedBlock_Check(zero.data(), zero.size());
  EXPECT_EQ(empty.entryCount, 64);
  EXPECT_TRUE(empty.Ok());  // nothing but unused entries
  EXPECT_FALSE(PackedBlock_Check(nullptr, 0).Ok());
}

}  // namespace
}  // namespace tolv
