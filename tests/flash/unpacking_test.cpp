#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec/block_codec.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "flash_test_util.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xEE;

// A packed settings block of a known image, and the image.
struct Packed {
  Bytes flash;
  Bytes block;
};

Packed PackedSettings(uint32_t seed, uint16_t systemId = 406) {
  Packed p{test::SettingsLikeImage(seed), Bytes(kPackedBlockSize)};
  EXPECT_TRUE(PackFlashData(systemId, p.flash.data(), p.block.data()));
  return p;
}

bool Unpack(const Bytes& packed, Bytes& dst) {
  return UnPackFlashData(packed.data(), packed.size(), dst.data(), dst.size());
}

// True when dst block `at` (8 kB pieces) holds flash block `from`.
bool PieceIs(const Bytes& dst, int at, const Bytes& flash, int from) {
  return std::equal(flash.begin() + 8192 * from, flash.begin() + 8192 * (from + 1), dst.begin() + 8192 * at);
}

bool Untouched(const Bytes& dst, size_t from, size_t to) {
  return std::all_of(dst.begin() + static_cast<std::ptrdiff_t>(from),
                     dst.begin() + static_cast<std::ptrdiff_t>(to),
                     [](uint8_t b) { return b == kUntouched; });
}

TEST(UnpackDirectory, CountByteZeroMeansSixtyFour) {
  Packed p = PackedSettings(21);
  p.block[33] = 0;
  Bytes dst(kFlashImageSize, kUntouched);
  ASSERT_TRUE(Unpack(p.block, dst));
  EXPECT_TRUE(std::equal(p.flash.begin(), p.flash.begin() + 0x60000, dst.begin()));

  // Only the low byte counts: 0x0102 entries is read as 2.
  p.block[32] = 0x01;
  p.block[33] = 0x02;
  Bytes two(kFlashImageSize, kUntouched);
  ASSERT_TRUE(Unpack(p.block, two));
  EXPECT_TRUE(PieceIs(two, 1, p.flash, 1));
  EXPECT_TRUE(Untouched(two, 2 * 8192, two.size()));
}

TEST(UnpackDirectory, UnusedEntriesArePassedOver) {
  Packed p = PackedSettings(22);
  test::SetEntryBlockCrc(p.block, 1, 0xFFFF);  // unused: CRC FFFF
  test::SetEntryField32(p.block, 3, 4, 0);     // unused: offset 0
  Bytes dst(kFlashImageSize, kUntouched);
  ASSERT_TRUE(Unpack(p.block, dst));
  EXPECT_TRUE(PieceIs(dst, 0, p.flash, 0));
  EXPECT_TRUE(PieceIs(dst, 1, p.flash, 2));
  EXPECT_TRUE(PieceIs(dst, 2, p.flash, 4));
  // Unpacking goes on until 48 blocks (0x60000 bytes) are written.
  EXPECT_TRUE(PieceIs(dst, 47, p.flash, 49));
  EXPECT_TRUE(Untouched(dst, 0x60000, dst.size()));
}

TEST(UnpackDirectory, LowerOffsetEndsSameOffsetRepeats) {
  Packed p = PackedSettings(23);
  Bytes repeated = p.block;
  // Entry 3 names block 2 again: unpacked twice.
  std::copy_n(repeated.begin() + 64 + 2 * 64, 16, repeated.begin() + 64 + 3 * 64);
  Bytes dst(kFlashImageSize, kUntouched);
  ASSERT_TRUE(Unpack(repeated, dst));
  EXPECT_TRUE(PieceIs(dst, 2, p.flash, 2));
  EXPECT_TRUE(PieceIs(dst, 3, p.flash, 2));
  EXPECT_TRUE(PieceIs(dst, 4, p.flash, 4));

  // Entry 3 names block 1, below block 2: the unpack ends there with success.
  Bytes lower = p.block;
  std::copy_n(lower.begin() + 64 + 1 * 64, 16, lower.begin() + 64 + 3 * 64);
  Bytes cut(kFlashImageSize, kUntouched);
  ASSERT_TRUE(Unpack(lower, cut));
  EXPECT_TRUE(PieceIs(cut, 2, p.flash, 2));
  EXPECT_TRUE(Untouched(cut, 3 * 8192, cut.size()));
}

TEST(UnpackDirectory, OneChangedByteFailsAfterTheBlocksBeforeIt) {
  Packed p = PackedSettings(24);
  const uint32_t block5 = test::EntryBlockOffset(p.block, 5);
  p.block[block5 + 40] ^= 0x10;
  Bytes dst(kFlashImageSize, kUntouched);
  EXPECT_FALSE(Unpack(p.block, dst));
  EXPECT_TRUE(PieceIs(dst, 4, p.flash, 4));
  EXPECT_TRUE(Untouched(dst, 5 * 8192, dst.size()));
}

TEST(UnpackDirectory, BlockHeaderWordMustBeEight) {
  Packed p = PackedSettings(25);
  const uint32_t block0 = test::EntryBlockOffset(p.block, 0);
  p.block[block0 + 1] = 9;
  test::RefreshBlockCrc(p.block, 0);
  Bytes dst(kFlashImageSize, kUntouched);
  EXPECT_FALSE(Unpack(p.block, dst));
  EXPECT_TRUE(Untouched(dst, 0, dst.size()));
}

// A packed block in the big-endian form with one block at 1024 holding the
// given chunks (stored bytes, uncompressed size), its block CRC and the data
// CRC given.
Bytes HandMadeBlock(const std::vector<std::pair<Bytes, size_t>>& chunks, uint16_t dataCrc) {
  Bytes packed(kPackedBlockSize, 0);
  packed[0] = 0x1F;
  packed[1] = 0x1D;
  packed[33] = 1;
  const size_t b = 1024;
  const Bytes header = {0, 8, 0x1B, 0x90, 0xFF, 0xFF, 0, 1, 0, static_cast<uint8_t>(chunks.size())};
  std::copy(header.begin(), header.end(), packed.begin() + b);
  size_t p = b + 10;
  size_t dataLength = 0;
  for (const auto& [stored, size] : chunks) {
    dataLength += size;
    packed[p] = static_cast<uint8_t>((stored.size() + 6) >> 8);
    packed[p + 1] = static_cast<uint8_t>(stored.size() + 6);
    packed[p + 4] = packed[p + 5] = 0xFF;
    packed[p + 6] = static_cast<uint8_t>(size >> 8);
    packed[p + 7] = static_cast<uint8_t>(size);
    std::copy(stored.begin(), stored.end(), packed.begin() + static_cast<std::ptrdiff_t>(p + 8));
    p += 8 + stored.size();
  }
  test::SetEntryField32(packed, 0, 4, b);
  test::SetEntryField32(packed, 0, 8, static_cast<uint32_t>(p - b));
  test::SetEntryField32(packed, 0, 12, static_cast<uint32_t>(dataLength));
  test::SetEntryDataCrc(packed, 0, dataCrc);
  test::RefreshBlockCrc(packed, 0);
  return packed;
}

Bytes Compressed(const Bytes& data) {
  Bytes stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(data.size()))));
  stream.resize(
      static_cast<size_t>(Block_Compress(data.data(), static_cast<int32_t>(data.size()), stream.data())));
  return stream;
}

uint16_t Crc(const Bytes& data) { return test::BitwiseCrc16(data.data(), data.size()); }

TEST(UnpackChunks, StoredCopyAndStreamOfAHandMadeBlock) {
  // Two chunks: a plain copy of 300 bytes (which is no valid stream) and a
  // compressed chunk of 5000 bytes.
  const Bytes plain = test::RandomBytes(26, 300);
  const Bytes text = test::Text(5000);
  const Bytes stream = Compressed(text);
  ASSERT_LT(stream.size(), 5000u);
  Bytes whole = plain;
  whole.insert(whole.end(), text.begin(), text.end());
  const Bytes packed = HandMadeBlock({{plain, 300}, {stream, 5000}}, Crc(whole));

  Bytes dst(6000, kUntouched);
  ASSERT_TRUE(Unpack(packed, dst));
  EXPECT_TRUE(std::equal(whole.begin(), whole.end(), dst.begin()));
  EXPECT_TRUE(Untouched(dst, 5300, dst.size()));

  // The same block into a destination one byte too small: refused before the
  // second chunk is written.
  Bytes small(5299, kUntouched);
  EXPECT_FALSE(Unpack(packed, small));
  EXPECT_TRUE(Untouched(small, 300, small.size()));
}

TEST(UnpackChunks, AChunkAsLongAsItsDataIsReadAsTheDataCrcSays) {
  // A stream of 8,192 bytes for 8,192 bytes: the stream of a text, followed
  // by surplus bytes, which the decoder ignores. Its raw bytes are a valid
  // stream and its expansion is the text, so only the data CRC can tell.
  const Bytes text = test::Text(8192);
  Bytes stream = Compressed(text);
  ASSERT_LT(stream.size(), 8000u);
  const Bytes surplus = test::RandomBytes(3, 8192 - stream.size());
  stream.insert(stream.end(), surplus.begin(), surplus.end());

  Bytes dst(8192, kUntouched);
  ASSERT_TRUE(Unpack(HandMadeBlock({{stream, 8192}}, Crc(text)), dst));
  EXPECT_EQ(dst, text) << "expanded";
  ASSERT_TRUE(Unpack(HandMadeBlock({{stream, 8192}}, Crc(stream)), dst));
  EXPECT_EQ(dst, stream) << "a plain copy whose bytes happen to be a stream";

  // Three such chunks in one block, the middle one a plain copy: decided
  // together by the one data CRC of the block.
  const Bytes other = test::SettingsLikeImage(5, 8192);
  Bytes otherStream = Compressed(other);
  otherStream.resize(8192, 0x5A);
  Bytes whole = text;
  whole.insert(whole.end(), stream.begin(), stream.end());
  whole.insert(whole.end(), other.begin(), other.end());
  Bytes three(3 * 8192, kUntouched);
  ASSERT_TRUE(
      Unpack(HandMadeBlock({{stream, 8192}, {stream, 8192}, {otherStream, 8192}}, Crc(whole)), three));
  EXPECT_EQ(three, whole);

  // Neither: refused as damaged, and reported so.
  const Bytes damaged = HandMadeBlock({{stream, 8192}}, static_cast<uint16_t>(Crc(text) ^ 1));
  Bytes untouched(8192, kUntouched);
  EXPECT_FALSE(Unpack(damaged, untouched));
  EXPECT_TRUE(Untouched(untouched, 0, untouched.size()));
  const PackedBlockCheck check = PackedBlock_Check(damaged.data(), damaged.size());
  ASSERT_EQ(check.entries.size(), 1u);
  EXPECT_TRUE(check.entries[0].BlockCrcOk() && check.entries[0].decoded);
  EXPECT_FALSE(check.entries[0].DataOk());
  const Bytes good = HandMadeBlock({{stream, 8192}}, Crc(text));
  EXPECT_TRUE(PackedBlock_Check(good.data(), good.size()).entries.at(0).DataOk());
}

// Damaged directories and blocks whose CRCs still match: the unpacker must
// refuse them without reading or writing outside its buffers (the sanitizer
// build checks the "outside" part; the buffers are exactly sized).
TEST(UnpackBounds, DirectoryFieldsOutsideTheInput) {
  const Packed p = PackedSettings(27);
  const std::pair<size_t, uint32_t> edits[] = {
      {4, kPackedBlockSize},       // offset at the very end
      {4, kPackedBlockSize - 10},  // block runs past the end
      {4, 0xFFFFFFF0},             // offset far beyond
      {8, kPackedBlockSize},       // length of the whole input
      {8, 0xFFFFFFFF},             // length far beyond
  };
  for (const auto& [field, value] : edits) {
    SCOPED_TRACE(value);
    Bytes block = p.block;
    test::SetEntryField32(block, 0, field, value);
    Bytes dst(kFlashImageSize, kUntouched);
    EXPECT_FALSE(Unpack(block, dst));
    EXPECT_TRUE(Untouched(dst, 0, dst.size()));
  }
}

TEST(UnpackBounds, ChunksOutsideTheInputOrTheDestination) {
  const Packed p = PackedSettings(28);
  const uint32_t last = test::EntryBlockOffset(p.block, 63);
  // The last block moved to the very end of the input, with a chunk length
  // that reaches past it; the CRC covers only what is inside.
  Bytes block = p.block;
  const uint32_t lastLength = test::EntryBlockLength(block, 63);
  const uint32_t moved = kPackedBlockSize - lastLength;
  std::copy_n(p.block.begin() + last, lastLength, block.begin() + moved);
  block[moved + 10] = 0xFF;
  block[moved + 11] = 0xF0;
  test::SetEntryField32(block, 0, 4, moved);
  test::SetEntryField32(block, 0, 8, lastLength);
  test::RefreshBlockCrc(block, 0);
  block[33] = 1;
  Bytes dst(kFlashImageSize, kUntouched);
  EXPECT_FALSE(Unpack(block, dst));
  EXPECT_TRUE(Untouched(dst, 0, dst.size()));

  // A chunk count that runs the chunks past the end of the input.
  Bytes many = p.block;
  test::SetEntryField32(many, 0, 4, moved);
  test::SetEntryField32(many, 0, 8, lastLength);
  std::copy_n(p.block.begin() + last, lastLength, many.begin() + moved);
  many[moved + 8] = 0x00;
  many[moved + 9] = 0x02;
  test::RefreshBlockCrc(many, 0);
  many[33] = 1;
  Bytes dst2(kFlashImageSize, kUntouched);
  EXPECT_FALSE(Unpack(many, dst2));

  // A chunk length below 6 and huge chunk counts inside the block.
  Bytes shortChunk = p.block;
  const uint32_t block0 = test::EntryBlockOffset(shortChunk, 0);
  shortChunk[block0 + 10] = 0;
  shortChunk[block0 + 11] = 5;
  test::RefreshBlockCrc(shortChunk, 0);
  EXPECT_FALSE(Unpack(shortChunk, dst2));
  Bytes countMax = p.block;
  countMax[block0 + 8] = countMax[block0 + 9] = 0xFF;
  test::RefreshBlockCrc(countMax, 0);
  EXPECT_FALSE(Unpack(countMax, dst2));

  // Uncompressed sizes beyond the destination: a small destination takes the
  // blocks that fit, then refuses.
  Bytes small(3 * 8192 + 100, kUntouched);
  EXPECT_FALSE(Unpack(p.block, small));
  EXPECT_TRUE(PieceIs(small, 2, p.flash, 2));
  EXPECT_TRUE(Untouched(small, 3 * 8192, small.size()));
}

TEST(UnpackBounds, ShortInputs) {
  const Packed p = PackedSettings(29);
  Bytes dst(kFlashImageSize, kUntouched);
  const size_t lastRead = test::EntryBlockOffset(p.block, 47) + 10;  // inside block 47
  for (size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{33}, size_t{34}, size_t{64}, size_t{79},
                      size_t{4000}, size_t{5120}, lastRead}) {
    SCOPED_TRACE(size);
    const Bytes cut(p.block.begin(), p.block.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(UnPackFlashData(cut.data(), cut.size(), dst.data(), dst.size()));
  }
  // No destination room at all.
  EXPECT_FALSE(UnPackFlashData(p.block.data(), p.block.size(), dst.data(), 0));
  EXPECT_FALSE(UnPackFlashData(p.block.data(), p.block.size(), nullptr, 0));
}

TEST(UnpackBounds, AllZeroAndAllErasedBlocks) {
  // All zero: 64 entries (count byte 0), all unused. All 0xFF: 255 entries
  // whose block CRC is FFFF, all unused. Both end with true and write nothing,
  // and neither names a block.
  for (uint8_t fill : {0x00, 0xFF}) {
    const Bytes block(kPackedBlockSize, fill);
    Bytes dst(kFlashImageSize, kUntouched);
    EXPECT_TRUE(Unpack(block, dst));
    EXPECT_TRUE(Untouched(dst, 0, dst.size()));
    EXPECT_FALSE(PackedBlock_NamesABlock(block.data(), block.size()));
  }
}

TEST(UnpackDirectory, ABlockIsNamedByAnyUsedEntryWithinTheCount) {
  Packed p = PackedSettings(30);
  EXPECT_TRUE(PackedBlock_NamesABlock(p.block.data(), p.block.size()));
  // Every entry but the last unused: still named.
  for (int j = 0; j < 63; ++j) test::SetEntryBlockCrc(p.block, j, 0xFFFF);
  EXPECT_TRUE(PackedBlock_NamesABlock(p.block.data(), p.block.size()));
  // The last one beyond the count, or unused by offset 0: none.
  p.block[33] = 63;
  EXPECT_FALSE(PackedBlock_NamesABlock(p.block.data(), p.block.size()));
  p.block[33] = 64;
  test::SetEntryField32(p.block, 63, 4, 0);
  EXPECT_FALSE(PackedBlock_NamesABlock(p.block.data(), p.block.size()));
  // Too short for the count byte.
  EXPECT_FALSE(PackedBlock_NamesABlock(p.block.data(), 33));
  // The little-endian form reads its count and entries in its own places.
  const Packed little = PackedSettings(31, 21031);
  EXPECT_TRUE(PackedBlock_NamesABlock(little.block.data(), little.block.size()));
}

}  // namespace
}  // namespace tolv
