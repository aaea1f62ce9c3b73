#include "tfd/tfd_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "codec/block_codec.h"
#include "codec/chunk_compression.h"
#include "common/file_io.h"
#include "results/result_codes.h"
#include "test_support.h"
#include "tfd_test_util.h"

namespace tolv {
namespace {

using test::RawBlock;
using test::RawTfd;
using test::Stored;

// The store is large (256 slots); tests keep theirs on the heap.
std::unique_ptr<TfdStore> NewStore() { return std::make_unique<TfdStore>(); }

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Build(const TfdStore& store, uint16_t systemId) {
  std::vector<uint8_t> image;
  EXPECT_EQ(TFD_BuildImage(store, systemId, image), result::kOk);
  return image;
}

bool StoreEmpty(const TfdStore& store) {
  return std::all_of(store.begin(), store.end(),
                     [](const tTFDBlock& s) { return !s.present && s.size == 0 && s.data.empty(); });
}

std::vector<uint8_t> SlotBytes(const TfdStore& store, uint8_t type) {
  std::vector<uint8_t> out(static_cast<size_t>(TFD_GetBlockSize(store, type)));
  EXPECT_EQ(TFD_GetBlock(store, type, out.data(), out.size()), result::kOk);
  return out;
}

// ---------------------------------------------------------------------------
// Building images: known answers and the shape of the chunks.

TEST(TfdBuild, EmptyStoreGivesTheTenByteHeader) {
  auto store = NewStore();
  const std::vector<uint8_t> image = Build(*store, 406);
  const std::vector<uint8_t> expected = test::RawHeader(406, 0);
  EXPECT_EQ(image, expected);
  EXPECT_EQ(image[0], 0x00);
  EXPECT_EQ(image[1], 0x08);

  auto loaded = NewStore();
  EXPECT_EQ(TFD_LoadImage(*loaded, image.data(), image.size()), result::kOk);
  EXPECT_TRUE(StoreEmpty(*loaded));
}

TEST(TfdBuild, HeaderOfSixBlocksForSystemId406IsTheKnownOne) {
  auto store = NewStore();
  for (uint8_t type = 0; type < 6; ++type) {
    const std::vector<uint8_t> bytes = test::Text(100 + type);
    ASSERT_EQ(TFD_SetBlock(*store, type, bytes.data(), bytes.size()), result::kOk);
  }
  const std::vector<uint8_t> image = Build(*store, 406);
  const std::vector<uint8_t> known = {0x00, 0x08, 0x0E, 0x98, 0x01, 0x96, 0x00, 0x01, 0x00, 0x06};
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 10), known);

  TfdFileInfo info;
  ASSERT_EQ(TFD_Scan(image.data(), image.size(), info), result::kOk);
  EXPECT_EQ(info.header.systemId, 406);
  EXPECT_EQ(info.header.fixed, 1);
  ASSERT_EQ(info.blocks.size(), 6u);
  for (uint16_t type = 0; type < 6; ++type) {
    EXPECT_EQ(info.blocks[type].blockType, type);
    EXPECT_EQ(info.blocks[type].uncompressedSize, 100 + type);
    EXPECT_TRUE(info.blocks[type].crcOk());
  }
}

TEST(TfdBuild, A70000ByteBlockIsThreeChunksOfOneType) {
  auto store = NewStore();
  const std::vector<uint8_t> bytes = test::MachineCode(70000);
  ASSERT_EQ(TFD_SetBlock(*store, 1, bytes.data(), bytes.size()), result::kOk);
  const std::vector<uint8_t> image = Build(*store, 1234);

  TfdFileInfo info;
  ASSERT_EQ(TFD_Scan(image.data(), image.size(), info), result::kOk);
  EXPECT_EQ(info.header.blockCount, 3);
  ASSERT_EQ(info.blocks.size(), 3u);
  const uint16_t sizes[] = {32762, 32762, 4476};
  size_t offset = 10;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(info.blocks[i].blockType, 1);
    EXPECT_EQ(info.blocks[i].uncompressedSize, sizes[i]);
    EXPECT_EQ(info.blocks[i].offset, offset);
    offset += 2u + info.blocks[i].blockLength;
  }
  EXPECT_EQ(offset, image.size());

  auto loaded = NewStore();
  ASSERT_EQ(TFD_LoadImage(*loaded, image.data(), image.size()), result::kOk);
  EXPECT_EQ(SlotBytes(*loaded, 1), bytes);
  EXPECT_EQ((*loaded)[1].loadTotal, 70000);
}

TEST(TfdBuild, IncompressibleChunksAreStoredAndAnEmptySlotIsOneEmptyChunk) {
  auto store = NewStore();
  const std::vector<uint8_t> noise = test::RandomBytes(7, 40000);
  TFD_SetBlock(*store, 9, noise.data(), noise.size());
  TFD_SetBlock(*store, 200, nullptr, 0);
  const std::vector<uint8_t> image = Build(*store, 1);

  TfdFileInfo info;
  ASSERT_EQ(TFD_Scan(image.data(), image.size(), info), result::kOk);
  ASSERT_EQ(info.blocks.size(), 3u);
  EXPECT_TRUE(info.blocks[0].stored());
  EXPECT_EQ(info.blocks[0].blockLength, 32762 + 6);  // the largest block a chunk makes
  // The short rest of the noise makes a stream a little longer than itself;
  // only a stream of exactly the chunk's length is replaced by its bytes.
  EXPECT_FALSE(info.blocks[1].stored());
  EXPECT_GT(info.blocks[1].dataLength(), 40000u - 32762u);
  EXPECT_EQ(info.blocks[2].blockType, 200);
  EXPECT_EQ(info.blocks[2].uncompressedSize, 0);
  EXPECT_FALSE(info.blocks[2].stored());  // the 7-byte stream of nothing

  auto loaded = NewStore();
  ASSERT_EQ(TFD_LoadImage(*loaded, image.data(), image.size()), result::kOk);
  EXPECT_EQ(SlotBytes(*loaded, 9), noise);
  EXPECT_TRUE((*loaded)[200].present);
  EXPECT_EQ(TFD_GetBlockSize(*loaded, 200), 0);
}

TEST(TfdBuild, SeveralMegabyteFirmwareRoundTripsAndRebuildsByteForByte) {
  auto store = NewStore();
  // Machine code, text and zeros: compressed and stored chunks and a short last one.
  std::vector<uint8_t> firmware = Concat({test::MachineCode(3 << 20), test::Text(1 << 20),
                                          std::vector<uint8_t>(300000, 0), test::RandomBytes(3, 100000)});
  ASSERT_EQ(firmware.size() % 32762 != 0, true);
  TFD_SetBlock(*store, 1, firmware.data(), firmware.size());
  const std::vector<uint8_t> loader = test::MachineCode(65536);
  TFD_SetBlock(*store, 0, loader.data(), loader.size());
  const std::vector<uint8_t> image = Build(*store, 406);

  TfdFileInfo info;
  ASSERT_EQ(TFD_Scan(image.data(), image.size(), info), result::kOk);
  const size_t firmwareChunks = (firmware.size() + 32761) / 32762;
  ASSERT_EQ(info.blocks.size(), 3 + firmwareChunks);  // the loader is 32762 + 32762 + 12
  EXPECT_EQ(info.blocks.back().uncompressedSize, firmware.size() % 32762);

  auto loaded = NewStore();
  ASSERT_EQ(TFD_LoadImage(*loaded, image.data(), image.size()), result::kOk);
  EXPECT_EQ(SlotBytes(*loaded, 1), firmware);
  EXPECT_EQ(SlotBytes(*loaded, 0), loader);
  EXPECT_EQ(Build(*loaded, 406), image);

  // The chunks are compressed on several threads: the same bytes on one.
  for (int threads : {1, 3}) {
    Block_SetThreadCount(threads);
    EXPECT_EQ(Build(*store, 406), image) << threads << " threads";
  }
  Block_SetThreadCount(0);
}

TEST(TfdBuild, CallerBufferNeverReceivesMoreThanItsCapacity) {
  auto store = NewStore();
  const std::vector<uint8_t> bytes = test::Text(50000);
  TFD_SetBlock(*store, 3, bytes.data(), bytes.size());
  const std::vector<uint8_t> image = Build(*store, 77);

  std::vector<uint8_t> buffer(image.size() + 16, 0xA5);
  int32_t imageSize = -1;
  EXPECT_EQ(TFD_BuildImage(*store, buffer.data(), image.size() - 1, imageSize, 77),
            result::kTfdImageTooLarge);
  EXPECT_EQ(imageSize, 0);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xA5; }));

  EXPECT_EQ(TFD_BuildImage(*store, buffer.data(), image.size(), imageSize, 77), result::kOk);
  ASSERT_EQ(imageSize, static_cast<int32_t>(image.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + imageSize, buffer.end(), [](uint8_t b) { return b == 0xA5; }));
}

// ---------------------------------------------------------------------------
// Loading: files made by hand.

TEST(TfdLoad, StoredChunkIsTakenAsItIsEvenWhenItWouldDecode) {
  // A real compressed stream, declared with an uncompressed size equal to its
  // own length: a reader must copy it, not expand it.
  const std::vector<uint8_t> source(5000, 'x');
  std::vector<uint8_t> stream(Block_CompressBound(5000));
  stream.resize(static_cast<size_t>(Block_Compress(source.data(), 5000, stream.data())));
  ASSERT_LT(stream.size(), source.size());
  std::vector<uint8_t> probe(stream.size());
  ASSERT_EQ(Block_Decompress(stream.data(), static_cast<int32_t>(stream.size()), probe.data(),
                             static_cast<int32_t>(probe.size())),
            1);
  ASSERT_NE(probe, stream);

  const std::vector<uint8_t> file = RawTfd(406, {Stored(4, stream)});
  auto store = NewStore();
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kOk);
  EXPECT_EQ(SlotBytes(*store, 4), stream);
}

TEST(TfdLoad, ChunksOfOneTypeInTwoRunsAreJoinedInFileOrder) {
  const std::vector<uint8_t> a = test::Text(300), b = test::RandomBytes(1, 200), c = test::Text(50);
  const std::vector<uint8_t> other = test::RandomBytes(2, 70);
  const std::vector<uint8_t> file = RawTfd(406, {Stored(1, a), Stored(1, b), Stored(2, other), Stored(1, c)});
  auto store = NewStore();
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kOk);
  EXPECT_EQ(SlotBytes(*store, 1), Concat({a, b, c}));
  EXPECT_EQ((*store)[1].loadTotal, 550);
  EXPECT_EQ(SlotBytes(*store, 2), other);
}

TEST(TfdLoad, ZeroBlocksAndTrailingBytesAfterTheLastBlock) {
  auto store = NewStore();
  std::vector<uint8_t> file = test::RawHeader(5, 0);
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kOk);
  EXPECT_TRUE(StoreEmpty(*store));

  file = RawTfd(5, {Stored(0, {1, 2, 3})});
  file.insert(file.end(), {0xDE, 0xAD});
  TfdHeader header;
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size(), &header), result::kOk);
  EXPECT_EQ(header.systemId, 5);
  EXPECT_EQ(SlotBytes(*store, 0), std::vector<uint8_t>({1, 2, 3}));
}

// A compressed chunk whose code tables are inconsistent (the decoder rejects
// it), found among pseudo-random streams.
std::vector<uint8_t> RejectedStream() {
  for (uint32_t seed = 1; seed < 1000; ++seed) {
    std::vector<uint8_t> stream = test::RandomBytes(seed, 64);
    std::vector<uint8_t> out(1000);
    if (Block_Decompress(stream.data(), 64, out.data(), 1000) == 0) return stream;
  }
  ADD_FAILURE() << "no rejected stream found";
  return {};
}

struct Corruption {
  const char* what;
  std::vector<uint8_t> file;
  int32_t code;
  const char* message;
};

std::vector<Corruption> Corruptions() {
  const std::vector<uint8_t> good = RawTfd(406, {Stored(0, test::Text(40)), Stored(5, test::Text(30))});
  auto with = [&](size_t offset, uint8_t value) {
    std::vector<uint8_t> f = good;
    f[offset] = value;
    return f;
  };
  auto cut = [&](size_t size) { return std::vector<uint8_t>(good.begin(), good.begin() + size); };
  const char* kLength = "TFD_Load: Invalid file header length";
  const char* kHeaderCrc = "TFD_Load: Invalid file header CRC";
  const char* kEnd = "TFD_Load: Unexpected end of file";
  const char* kDataCrc = "TFD_Load: Invalid data CRC";
  std::vector<Corruption> list = {
      {"empty file", {}, result::kTfdTruncated, kEnd},
      {"header cut short", cut(9), result::kTfdTruncated, kEnd},
      {"header length 9", with(1, 9), result::kTfdInvalidHeaderLength, kLength},
      {"header length 0x0108", with(0, 1), result::kTfdInvalidHeaderLength, kLength},
      {"system ID changed", with(5, 0x97), result::kTfdInvalidHeaderCrc, kHeaderCrc},
      {"header CRC changed", with(3, good[3] ^ 1), result::kTfdInvalidHeaderCrc, kHeaderCrc},
      {"block count too high",
       Concat({test::RawHeader(406, 3), std::vector<uint8_t>(good.begin() + 10, good.end())}),
       result::kTfdTruncated, kEnd},
      {"cut inside a block header", cut(10 + 5), result::kTfdTruncated, kEnd},
      {"cut inside block data", cut(good.size() - 1), result::kTfdTruncated, kEnd},
      {"block CRC changed", with(12, good[12] ^ 0x80), result::kTfdInvalidDataCrc, kDataCrc},
      {"block type changed", with(15, 3), result::kTfdInvalidDataCrc, kDataCrc},
      {"data byte changed", with(20, good[20] ^ 1), result::kTfdInvalidDataCrc, kDataCrc},
      {"block type 256", RawTfd(406, {Stored(256, {1, 2})}), result::kTfdInvalidBlockType,
       "TFD_Load: Invalid block type"},
      {"block type 0xFFFF after a good block", RawTfd(406, {Stored(1, {1}), Stored(0xFFFF, {1})}),
       result::kTfdInvalidBlockType, "TFD_Load: Invalid block type"},
      {"compressed chunk with a bad code table", RawTfd(406, {{2, RejectedStream(), 1000}}),
       result::kTfdDecompressFailed, "TFD_Load: Failed to decompress a data block"},
  };
  // Block lengths 0 to 5 cannot even hold the type and size.
  for (uint8_t length = 0; length < 6; ++length) {
    std::vector<uint8_t> f = good;
    f[10] = 0;
    f[11] = length;
    list.push_back(
        {"short block length", f, result::kTfdInvalidBlockLength, "TFD_Load: Invalid block length"});
  }
  return list;
}

TEST(TfdLoad, EveryCorruptionGivesItsCodeAndMessageAndLeavesTheStoreEmpty) {
  for (const Corruption& c : Corruptions()) {
    SCOPED_TRACE(c.what);
    auto store = NewStore();
    const std::vector<uint8_t> before = test::Text(10);
    TFD_SetBlock(*store, 7, before.data(), before.size());
    EXPECT_EQ(TFD_LoadImage(*store, c.file.data(), c.file.size()), c.code);
    EXPECT_EQ(Result_Text(c.code), c.message);
    EXPECT_TRUE(StoreEmpty(*store));
  }
}

TEST(TfdLoad, BlocksClaimingMoreThanAReceiverHoldsAreRefusedBeforeAnythingIsExpanded) {
  // 32769 empty compressed chunks that each claim 65535 bytes: 8 bytes apiece
  // in the file, 2^31 + 32767 bytes together; the first 129 pass 8 MiB.
  const uint16_t count = 32769;
  std::vector<uint8_t> file = test::RawHeader(406, count);
  const std::vector<uint8_t> block = test::RawBlockBytes({1, {}, 65535});
  for (int i = 0; i < count; ++i) file.insert(file.end(), block.begin(), block.end());
  auto store = NewStore();
  EXPECT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kTfdBeyondReceiver);
  EXPECT_TRUE(StoreEmpty(*store));
}

TEST(TfdLoad, ChangingAnyByteOfABlockFromItsTypeOnFailsTheCrc) {
  const std::vector<uint8_t> good = RawTfd(406, {Stored(3, test::Text(24))});
  auto store = NewStore();
  for (size_t offset = 14; offset < good.size(); ++offset) {
    std::vector<uint8_t> file = good;
    file[offset] ^= 0x10;
    const int32_t r = TFD_LoadImage(*store, file.data(), file.size());
    if (offset == 14) {
      EXPECT_EQ(r, result::kTfdInvalidBlockType) << offset;  // type 0x1003
    } else {
      EXPECT_EQ(r, result::kTfdInvalidDataCrc) << offset;
    }
  }
}

TEST(TfdLoad, TwoFaultsReportTheFirstInFileOrder) {
  std::vector<uint8_t> file = RawTfd(406, {Stored(1, {1, 2, 3}), {2, RejectedStream(), 900}});
  file[18] ^= 1;  // data of the first block: its CRC fails before the second fails to decode
  auto store = NewStore();
  EXPECT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kTfdInvalidDataCrc);
}

TEST(TfdLoad, FilesByNameAndTheirFailures) {
  test::TempDir dir;
  auto store = NewStore();
  EXPECT_EQ(TFD_Load(*store, "", nullptr), result::kTfdFileMissing);
  EXPECT_EQ(TFD_Load(*store, dir.File("absent.tfd")), result::kTfdFileMissing);
  EXPECT_EQ(Result_Text(result::kTfdFileMissing), "TFD_Load: File does not exist");

  const std::vector<uint8_t> file = RawTfd(1416, {Stored(5, {9, 8, 7})});
  test::WriteBytes(dir.File("a.tfd"), file);
  TfdHeader header;
  EXPECT_EQ(TFD_Load(*store, dir.File("a.tfd"), &header), result::kOk);
  EXPECT_EQ(header.systemId, 1416);
  EXPECT_EQ(SlotBytes(*store, 5), std::vector<uint8_t>({9, 8, 7}));

  // A directory is no file; the store is emptied all the same.
  EXPECT_EQ(TFD_Load(*store, dir.path()), result::kTfdFileMissing);
  EXPECT_TRUE(StoreEmpty(*store));
}

TEST(TfdLoad, RegressionInputsLoadOrAreRefusedAndLoadedOnesRebuild) {
  const std::string dir = test::ProjectTestdataDir() + "/../tfd/regressions";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    ++count;
    const std::vector<uint8_t> file = test::ReadBytes(entry.path().string());
    auto store = NewStore();
    if (TFD_LoadImage(*store, file.data(), file.size()) != result::kOk) continue;
    auto again = NewStore();
    const std::vector<uint8_t> image = Build(*store, 1);
    ASSERT_EQ(TFD_LoadImage(*again, image.data(), image.size()), result::kOk);
    for (int type = 0; type < kTfdSlotCount; ++type) {
      EXPECT_EQ((*store)[type].present, (*again)[type].present) << type;
      EXPECT_EQ((*store)[type].data, (*again)[type].data) << type;
    }
  }
  EXPECT_GE(count, 1);
}

TEST(TfdLoad, AnEmptyStoredChunkMakesAPresentEmptySlot) {
  const std::vector<uint8_t> file =
      test::ReadBytes(test::ProjectTestdataDir() + "/../tfd/regressions/empty-stored-chunk-into-empty-slot");
  auto store = NewStore();
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kOk);
  EXPECT_TRUE((*store)[5].present);
  EXPECT_EQ(TFD_GetBlockSize(*store, 5), 0);
}

// ---------------------------------------------------------------------------
// Single blocks.

TEST(TfdBlocks, SetGetAndTheAbsentSlot) {
  auto store = NewStore();
  EXPECT_EQ(TFD_GetBlockSize(*store, 17), 0);
  uint8_t dst[4] = {1, 2, 3, 4};
  EXPECT_EQ(TFD_GetBlock(*store, 17, dst, sizeof dst), 2145);
  EXPECT_EQ(dst[0], 1);

  const std::vector<uint8_t> first = test::Text(10), second = test::Text(3);
  (*store)[17].loadTotal = 99;
  TFD_SetBlock(*store, 17, first.data(), first.size());
  TFD_SetBlock(*store, 17, second.data(), second.size());
  EXPECT_EQ(TFD_GetBlockSize(*store, 17), 3);
  EXPECT_EQ((*store)[17].loadTotal, 99);
  EXPECT_EQ(TFD_GetBlock(*store, 17, dst, 2), result::kTfdDestinationTooSmall);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(TFD_GetBlock(*store, 17, dst, 3), result::kOk);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), dst));
  EXPECT_EQ(dst[3], 4);

  // A size past the 32-bit range is refused before a byte is read.
  EXPECT_EQ(TFD_SetBlock(*store, 17, first.data(), size_t{1} << 31), result::kTfdBlockTooLarge);
  EXPECT_EQ(TFD_GetBlockSize(*store, 17), 3);

  TFD_Clear(*store);
  EXPECT_TRUE(StoreEmpty(*store));
  EXPECT_EQ((*store)[17].loadTotal, 0);
}

// ---------------------------------------------------------------------------
// Files and the process-wide store.

class TfdFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tolv::testing::FailWritesAfter(std::nullopt);
    TFD_Clear();
  }
  test::TempDir dir_;
};

TEST_F(TfdFileTest, SavedFilesLoadBackAndAFailedSaveKeepsTheOldFile) {
  auto store = NewStore();
  const std::vector<uint8_t> bytes = test::MachineCode(100000);
  TFD_SetBlock(*store, 1, bytes.data(), bytes.size());
  const std::string path = dir_.File("out.tfd");
  ASSERT_EQ(TFD_SaveToFile(*store, path, 406), result::kOk);
  const std::vector<uint8_t> saved = test::ReadBytes(path);
  EXPECT_EQ(saved, Build(*store, 406));

  auto other = NewStore();
  TFD_SetBlock(*other, 2, bytes.data(), 10);
  tolv::testing::FailWritesAfter(5);
  EXPECT_THROW(TFD_SaveToFile(*other, path, 406), FileError);
  tolv::testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(test::ReadBytes(path), saved);

  auto loaded = NewStore();
  ASSERT_EQ(TFD_Load(*loaded, path), result::kOk);
  EXPECT_EQ(SlotBytes(*loaded, 1), bytes);
}

TEST_F(TfdFileTest, ProcessWideImageGrowsPastEightMegabytes) {
  // A firmware larger than the library's 8 MiB buffer gets a buffer of its
  // size; loading it back is refused, as no receiver holds it.
  const std::vector<uint8_t> firmware = Concat({test::RandomBytes(11, 8 << 20), test::Text(1 << 20)});
  ASSERT_EQ(TFD_SetBlock(1, firmware.data(), firmware.size()), result::kOk);
  int32_t r = -1;
  const std::vector<uint8_t>& image = TFD_BuildImage(406, r);
  ASSERT_EQ(r, result::kOk);
  EXPECT_GT(image.size(), kTfdImageBufferSize);

  const std::string path = dir_.File("big.tfd");
  ASSERT_EQ(TFD_SaveToFile(path, 406), result::kOk);
  EXPECT_EQ(test::ReadBytes(path), image);

  TFD_Clear();
  EXPECT_EQ(TFD_Load(path), result::kTfdBeyondReceiver);
  EXPECT_EQ(TFD_GetBlockSize(1), 0);
}

}  // namespace
}  // namespace tolv
