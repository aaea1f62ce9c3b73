#include "flash/packing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

#include "codec/block_codec.h"
#include "codec/chunk_compression.h"
#include "flash/model_header.h"
#include "flash/model_list.h"
#include "flash/packed_block_check.h"
#include "flash_test_util.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kTemplate406 = {0x1F, 0x1D, 0x1D, 0xFF, 0x01, 0x01, 0x96, 0x06, 0x00, 0x00, 0x00,
                            0x8F, 0x22, 0x1E, 0xD0, 0x90, 0x0F, 0x04, 0x00, 0x88, 0x10, 0x13,
                            0xFF, 0x0B, 0xB8, 0x0D, 0xAC, 0x05, 0xDC, 0x00, 0x17, 0x02};
const Bytes kTemplate21031 = {0x1D, 0x1F, 0x1D, 0xB7, 0x01, 0x27, 0x52, 0x0C, 0x00, 0x00, 0x00, 0xFF,
                              0xF2, 0xFF, 0xFF, 0xFF, 0x22, 0xF2, 0x06, 0x03, 0x38, 0x02, 0x24, 0x08,
                              0x01, 0x62, 0x78, 0x0B, 0xB8, 0xAC, 0x0D, 0x05, 0xDC, 0x17, 0x00, 0x02};

uint32_t BE16(const Bytes& b, size_t at) { return static_cast<uint32_t>(b[at]) << 8 | b[at + 1]; }
uint32_t LE32(const Bytes& b, size_t at) {
  return b[at] | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

struct HeaderResult {
  Bytes bytes;
  int32_t length;
  bool littleEndian;
};

HeaderResult WriteHeader(uint16_t systemId) {
  HeaderResult result{Bytes(kPackedBlockSize, 0xAB), -1, false};
  Flash_WriteModelHeader(systemId, result.bytes.data(), result.length, result.littleEndian);
  return result;
}

TEST(ModelHeader, TemplatesWithTheirChecksumProperty) {
  const std::pair<uint16_t, uint16_t> templateOf[] = {{406, 406},     {1416, 1416},   {10446, 10446},
                                                      {10416, 10446}, {12406, 10446}, {21031, 21031}};
  for (const auto& [systemId, templateId] : templateOf) {
    SCOPED_TRACE(systemId);
    const HeaderResult header = WriteHeader(systemId);
    const bool little = systemId == 21031;
    ASSERT_EQ(header.length, little ? 36 : 32);
    EXPECT_EQ(header.littleEndian, little);
    EXPECT_TRUE(Flash_HasModelHeader(systemId));
    const Bytes bytes(header.bytes.begin(), header.bytes.begin() + header.length);
    // Magic 0x1F1D and the template's system ID in the form's byte order.
    EXPECT_EQ(bytes[0], little ? 0x1D : 0x1F);
    EXPECT_EQ(bytes[1], little ? 0x1F : 0x1D);
    const uint32_t storedId = little ? (bytes[5] | bytes[6] << 8) : BE16(bytes, 5);
    EXPECT_EQ(storedId, templateId);
    EXPECT_EQ(std::accumulate(bytes.begin() + 3, bytes.end(), 0u) % 256, 0xFFu);
    EXPECT_EQ(header.bytes[static_cast<size_t>(header.length)], 0xAB);  // nothing written after it
  }
  const Bytes header406 = WriteHeader(406).bytes;
  const Bytes header21031 = WriteHeader(21031).bytes;
  EXPECT_EQ(Bytes(header406.begin(), header406.begin() + 32), kTemplate406);
  EXPECT_EQ(Bytes(header21031.begin(), header21031.begin() + 36), kTemplate21031);
}

TEST(ModelHeader, BuiltInNamesAndIdsWithoutTemplate) {
  Model_SetNameText("before");
  WriteHeader(1416);
  EXPECT_STREQ(Model_NameText(), "before");  // a template without a name
  WriteHeader(10416);
  EXPECT_STREQ(Model_NameText(), "Procaster 5101C (Finnish Toppy clone)");
  WriteHeader(21031);
  EXPECT_STREQ(Model_NameText(), "TF606CI");

  // A name but no template: the name is taken, nothing is written.
  HeaderResult header{Bytes(kPackedBlockSize, 0xAB), -1, true};
  Flash_WriteModelHeader(466, header.bytes.data(), header.length, header.littleEndian);
  EXPECT_EQ(header.length, 0);
  EXPECT_TRUE(header.littleEndian);  // left as it was
  EXPECT_EQ(header.bytes, Bytes(kPackedBlockSize, 0xAB));
  EXPECT_STREQ(Model_NameText(), "TF5000t Black Panther / White Polar (AUS)");
  EXPECT_FALSE(Flash_HasModelHeader(466));

  Model_SetNameText("kept");
  for (uint16_t unknown : {0, 1, 405, 65535}) {
    EXPECT_EQ(WriteHeader(unknown).length, 0);
    EXPECT_FALSE(Flash_HasModelHeader(unknown));
  }
  EXPECT_STREQ(Model_NameText(), "kept");
}

TEST(PackSettings, BigEndianKnownAnswers) {
  const Bytes flash = test::SettingsLikeImage(1);
  Bytes packed(kPackedBlockSize, 0xCC);
  ASSERT_TRUE(PackFlashData(406, flash.data(), packed.data()));
  EXPECT_TRUE(std::equal(kTemplate406.begin(), kTemplate406.end(), packed.begin()));
  EXPECT_EQ(packed[32], 0x00);
  EXPECT_EQ(packed[33], 0x40);
  EXPECT_TRUE(std::all_of(packed.begin() + 34, packed.begin() + 64, [](uint8_t b) { return b == 0; }));
  uint32_t previousEnd = 0;
  for (int j = 0; j < 64; ++j) {
    SCOPED_TRACE(j);
    const size_t entry = 64 + 64 * static_cast<size_t>(j);
    const uint32_t offset = test::EntryBlockOffset(packed, j);
    const uint32_t length = test::EntryBlockLength(packed, j);
    EXPECT_EQ(offset % 1024, 0u);
    EXPECT_GE(offset, j == 0 ? 5120u : previousEnd);
    if (j == 0) {
      EXPECT_EQ(offset, 5120u);
    }
    EXPECT_LT(offset - previousEnd, j == 0 ? 5121u : 1024u);  // the next multiple of 1024
    EXPECT_EQ(BE16(packed, entry + 12), 0u);
    EXPECT_EQ(BE16(packed, entry + 14), 8192u);  // data length
    EXPECT_EQ(BE16(packed, entry), test::BitwiseCrc16(packed.data() + offset, length));
    EXPECT_EQ(BE16(packed, entry + 2), test::BitwiseCrc16(flash.data() + 8192 * j, 8192));
    EXPECT_TRUE(std::all_of(packed.begin() + static_cast<std::ptrdiff_t>(entry + 16),
                            packed.begin() + static_cast<std::ptrdiff_t>(entry + 64),
                            [](uint8_t b) { return b == 0; }));
    // Block header 8, 0x1B90, FFFF, 1, 1 chunk; chunk of 8192 bytes.
    const Bytes header(packed.begin() + offset, packed.begin() + offset + 10);
    EXPECT_EQ(header, (Bytes{0x00, 0x08, 0x1B, 0x90, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x01}));
    EXPECT_EQ(BE16(packed, offset + 10), length - 12);
    EXPECT_EQ(BE16(packed, offset + 14), 0xFFFFu);
    EXPECT_EQ(BE16(packed, offset + 16), 8192u);
    EXPECT_EQ(BE16(packed, offset + 12), test::BitwiseCrc16(packed.data() + offset + 14, length - 14));
    previousEnd = offset + length;
  }
  // Zero bytes everywhere else: between the directory and the first block,
  // in the gaps, and after the last block.
  EXPECT_TRUE(
      std::all_of(packed.begin() + 64 + 4096, packed.begin() + 5120, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(packed.begin() + previousEnd, packed.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_STREQ(Model_NameText(), "TF5000 (EUR)");
}

TEST(PackSettings, LittleEndianKnownAnswers) {
  const Bytes flash = test::SettingsLikeImage(2);
  Bytes packed(kPackedBlockSize);
  ASSERT_TRUE(PackFlashData(21031, flash.data(), packed.data()));
  EXPECT_TRUE(std::equal(kTemplate21031.begin(), kTemplate21031.end(), packed.begin()));
  EXPECT_EQ(packed[36], 0x40);
  EXPECT_EQ(packed[37], 0x00);
  EXPECT_TRUE(PackedBlock_IsLittleEndian(packed.data(), packed.size()));
  for (int j = 0; j < 64; ++j) {
    const size_t entry = 68 + 64 * static_cast<size_t>(j);
    const uint32_t offset = LE32(packed, entry + 4);
    const uint32_t length = LE32(packed, entry + 8);
    if (j == 0) {
      EXPECT_EQ(offset, 5120u);
    }
    EXPECT_EQ(offset % 1024, 0u);
    EXPECT_EQ(LE32(packed, entry + 12), 8192u);
    EXPECT_EQ(packed[entry] | packed[entry + 1] << 8, test::BitwiseCrc16(packed.data() + offset, length));
    EXPECT_TRUE(std::all_of(packed.begin() + static_cast<std::ptrdiff_t>(entry + 16),
                            packed.begin() + static_cast<std::ptrdiff_t>(entry + 64),
                            [](uint8_t b) { return b == 0xFF; }));
    // Block and chunk headers stay big-endian.
    EXPECT_EQ(BE16(packed, offset), 8u);
    EXPECT_EQ(BE16(packed, offset + 16), 8192u);
  }
}

TEST(PackSettings, RoundTripForEveryTemplateAndByteOrder) {
  for (uint16_t systemId : {406, 1416, 10446, 10416, 12406, 21031}) {
    SCOPED_TRACE(systemId);
    const Bytes flash = test::SettingsLikeImage(systemId);
    Bytes packed(kPackedBlockSize);
    ASSERT_TRUE(PackFlashData(systemId, flash.data(), packed.data()));
    const PackedBlockCheck check = PackedBlock_Check(packed.data(), packed.size());
    EXPECT_TRUE(check.Ok());
    EXPECT_EQ(check.systemId, systemId == 10416 || systemId == 12406 ? 10446u : systemId);
    EXPECT_EQ(check.entries.size(), 64u);

    Bytes image(kFlashImageSize, 0xEE);
    ASSERT_TRUE(UnPackFlashData(packed.data(), packed.size(), image.data(), image.size()));
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x60000, image.begin()));
    // The unpacker stops after 0x60000 bytes: the last 16 blocks are not read.
    EXPECT_TRUE(std::all_of(image.begin() + 0x60000, image.end(), [](uint8_t b) { return b == 0xEE; }));
  }
}

// The chunks are compressed on several threads; the block is the same bytes
// on one thread, on several and on more threads than cores.
TEST(PackSettings, SameInputSameBlockOnAnyNumberOfThreads) {
  const Bytes flash = test::SettingsLikeImage(5);
  Bytes defaults = test::SettingsLikeImage(6);
  defaults.resize(0x60000 + 256);
  Bytes settings(kPackedBlockSize), defaultsBlock(kPackedBlockSize);
  ASSERT_TRUE(PackFlashData(406, flash.data(), settings.data()));
  ASSERT_TRUE(PackDefaultsData(406, defaults.data(), defaults.data() + 0x60000, defaultsBlock.data()));
  for (int threads : {1, 2, 7}) {
    Block_SetThreadCount(threads);
    Bytes again(kPackedBlockSize, 0x77);
    ASSERT_TRUE(PackFlashData(406, flash.data(), again.data()));
    EXPECT_EQ(again, settings) << threads << " threads";
    ASSERT_TRUE(PackDefaultsData(406, defaults.data(), defaults.data() + 0x60000, again.data()));
    EXPECT_EQ(again, defaultsBlock) << threads << " threads";
  }
  Block_SetThreadCount(0);
}

TEST(PackSettings, RefusesWithoutTemplateAndLeavesEverythingAsItWas) {
  const Bytes flash = test::SettingsLikeImage(3);
  Model_SetNameText("unchanged");
  for (uint16_t systemId : {0, 416, 1505, 39321, 65535}) {
    Bytes packed(kPackedBlockSize, 0x5C);
    EXPECT_FALSE(PackFlashData(systemId, flash.data(), packed.data())) << systemId;
    EXPECT_EQ(packed, Bytes(kPackedBlockSize, 0x5C));
    const Bytes settings(kDefaultsSettingsSize, 0), eeprom(kEepromImageSize, 0);
    EXPECT_FALSE(PackDefaultsData(systemId, settings.data(), eeprom.data(), packed.data())) << systemId;
    EXPECT_EQ(packed, Bytes(kPackedBlockSize, 0x5C));
  }
  EXPECT_STREQ(Model_NameText(), "unchanged");
}

TEST(PackSettings, ImageThatDoesNotFitIsRefused) {
  // Noise does not compress: 64 blocks of about 8 kB cannot fit in 128 kB.
  const Bytes noise = test::RandomBytes(9, kFlashImageSize);
  Bytes packed(kPackedBlockSize, 0x5C);
  Model_SetNameText("unchanged");
  EXPECT_FALSE(PackFlashData(406, noise.data(), packed.data()));
  EXPECT_EQ(packed, Bytes(kPackedBlockSize, 0x5C));
  EXPECT_STREQ(Model_NameText(), "unchanged");

  // Noise in the first half only: it fails part-way through as well.
  Bytes half = test::SettingsLikeImage(4);
  std::copy(noise.begin(), noise.begin() + 0x40000, half.begin());
  EXPECT_FALSE(PackFlashData(21031, half.data(), packed.data()));
  EXPECT_EQ(packed, Bytes(kPackedBlockSize, 0x5C));
}

// Chunk sizes of block j of a packed block in the big-endian form.
std::vector<uint32_t> ChunkSizes(const Bytes& packed, int j) {
  const uint32_t offset = test::EntryBlockOffset(packed, j);
  std::vector<uint32_t> sizes;
  size_t p = offset + 10;
  for (uint32_t c = 0; c < BE16(packed, offset + 8); ++c) {
    sizes.push_back(BE16(packed, p + 6));
    p += 2 + BE16(packed, p);
  }
  return sizes;
}

TEST(PackDefaults, KnownAnswersAndRoundTrip) {
  const Bytes image = test::SettingsLikeImage(6, 0x60000 + 256);
  const Bytes eeprom = test::RandomBytes(6, 256);
  Bytes packed(kPackedBlockSize, 0x99);
  Model_SetNameText("x");
  ASSERT_TRUE(PackDefaultsData(10446, image.data(), eeprom.data(), packed.data()));
  EXPECT_STREQ(Model_NameText(), "TF5200c");
  EXPECT_EQ(BE16(packed, 32), 2u);
  EXPECT_EQ(test::EntryBlockOffset(packed, 0), 1024u);
  EXPECT_EQ(BE16(packed, 64 + 14) | BE16(packed, 64 + 12) << 16, 0x60000u);
  const std::vector<uint32_t> sizes = ChunkSizes(packed, 0);
  ASSERT_EQ(sizes.size(), 13u);
  for (size_t c = 0; c < 12; ++c) EXPECT_EQ(sizes[c], 32762u);
  EXPECT_EQ(sizes[12], 72u);
  EXPECT_EQ(BE16(packed, 1024 + 2), test::BitwiseCrc16(packed.data() + 1024 + 4, 6));  // header CRC

  const uint32_t end0 = 1024 + test::EntryBlockLength(packed, 0);
  EXPECT_EQ(test::EntryBlockOffset(packed, 1), (end0 + 1023) / 1024 * 1024);
  EXPECT_EQ(ChunkSizes(packed, 1), std::vector<uint32_t>{256});
  EXPECT_EQ(BE16(packed, 128 + 14), 256u);
  EXPECT_EQ(BE16(packed, 128 + 2), test::BitwiseCrc16(eeprom.data(), 256));
  EXPECT_EQ(BE16(packed, 64 + 2), test::BitwiseCrc16(image.data(), 0x60000));
  EXPECT_TRUE(PackedBlock_Check(packed.data(), packed.size()).Ok());

  // Unpacking fills the settings part and stops before the EEPROM block.
  Bytes defaults(0x80100, 0xEE);
  ASSERT_TRUE(UnPackFlashData(packed.data(), packed.size(), defaults.data(), defaults.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x60000, defaults.begin()));
  EXPECT_TRUE(std::all_of(defaults.begin() + 0x60000, defaults.end(), [](uint8_t b) { return b == 0xEE; }));
  // The default EEPROM comes from the second entry.
  Bytes eepromBack(256, 0xEE);
  ASSERT_TRUE(UnPackDefaultsEeprom(packed.data(), packed.size(), eepromBack.data()));
  EXPECT_EQ(eepromBack, eeprom);
}

TEST(PackDefaults, TheDefaultEepromComesBackOnlyWhenItsDataAreSound) {
  const Bytes image = test::SettingsLikeImage(9, 0x60000);
  const Bytes eeprom = test::RandomBytes(9, 256);
  Bytes packed(kPackedBlockSize);
  ASSERT_TRUE(PackDefaultsData(406, image.data(), eeprom.data(), packed.data()));
  const Bytes untouched(256, 0xEE);
  Bytes back = untouched;
  const uint32_t block1 = test::EntryBlockOffset(packed, 1);
  // A changed data byte with the block CRC made right again: the chunk CRC
  // and the data CRC still catch it.
  Bytes damaged = packed;
  damaged[block1 + 20] ^= 0x01;
  test::RefreshBlockCrc(damaged, 1);
  EXPECT_FALSE(UnPackDefaultsEeprom(damaged.data(), damaged.size(), back.data()));
  // A wrong chunk CRC over data that pass the data CRC does not keep it out.
  Bytes chunkCrc = packed;
  chunkCrc[block1 + 13] ^= 0x01;
  test::RefreshBlockCrc(chunkCrc, 1);
  Bytes taken(256, 0);
  EXPECT_TRUE(UnPackDefaultsEeprom(chunkCrc.data(), chunkCrc.size(), taken.data()));
  EXPECT_EQ(taken, eeprom);
  // One entry only, or a block cut before the second entry.
  Bytes oneEntry = packed;
  oneEntry[33] = 1;
  EXPECT_FALSE(UnPackDefaultsEeprom(oneEntry.data(), oneEntry.size(), back.data()));
  EXPECT_FALSE(UnPackDefaultsEeprom(packed.data(), 64 + 64 + 15, back.data()));
  // A settings block's second entry holds 8192 bytes, not an EEPROM.
  const Bytes flash = test::SettingsLikeImage(9);
  Bytes settings(kPackedBlockSize);
  ASSERT_TRUE(PackFlashData(406, flash.data(), settings.data()));
  EXPECT_FALSE(UnPackDefaultsEeprom(settings.data(), settings.size(), back.data()));
  EXPECT_EQ(back, untouched);
}

TEST(PackDefaults, LittleEndianForm) {
  const Bytes image = test::SettingsLikeImage(7, 0x60000);
  const Bytes eeprom(256, 0x00);
  Bytes packed(kPackedBlockSize);
  ASSERT_TRUE(PackDefaultsData(21031, image.data(), eeprom.data(), packed.data()));
  EXPECT_EQ(packed[36], 2);
  EXPECT_EQ(packed[37], 0);
  EXPECT_EQ(LE32(packed, 68 + 4), 1024u);
  EXPECT_EQ(LE32(packed, 68 + 12), 0x60000u);
  EXPECT_EQ(LE32(packed, 132 + 12), 256u);
  EXPECT_TRUE(
      std::all_of(packed.begin() + 68 + 16, packed.begin() + 132, [](uint8_t b) { return b == 0xFF; }));
  Bytes defaults(0x80100, 0);
  ASSERT_TRUE(UnPackFlashData(packed.data(), packed.size(), defaults.data(), defaults.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), defaults.begin()));
  Bytes eepromBack(256, 0xEE);
  ASSERT_TRUE(UnPackDefaultsEeprom(packed.data(), packed.size(), eepromBack.data()));
  EXPECT_EQ(eepromBack, eeprom);
}

// What a receiver does with a chunk: it expands every one of them.
Bytes ReceiverExpands(const Bytes& packed, size_t chunkAt) {
  const size_t stored = BE16(packed, chunkAt) - 6;
  Bytes data(BE16(packed, chunkAt + 6));
  EXPECT_EQ(Block_Decompress(packed.data() + chunkAt + 8, static_cast<int32_t>(stored), data.data(),
                             static_cast<int32_t>(data.size())),
            1);
  return data;
}

Bytes StreamOf(const Bytes& data) {
  Bytes stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(data.size()))));
  stream.resize(
      static_cast<size_t>(Block_Compress(data.data(), static_cast<int32_t>(data.size()), stream.data())));
  return stream;
}

TEST(PackSettings, AStreamAsLongAsItsChunkIsWrittenAsTheStream) {
  const std::optional<Bytes> data = test::DataWithStreamLength(8192, 8192);
  ASSERT_TRUE(data) << "no 8192 bytes found whose stream is exactly 8192 bytes";
  Bytes image = test::SettingsLikeImage(12);
  std::copy(data->begin(), data->end(), image.begin() + 5 * 8192);
  Bytes packed(kPackedBlockSize);
  ASSERT_TRUE(PackFlashData(406, image.data(), packed.data()));
  const uint32_t block5 = test::EntryBlockOffset(packed, 5);
  EXPECT_EQ(BE16(packed, block5 + 10), 8192u + 6);
  const Bytes stream = StreamOf(*data);
  EXPECT_TRUE(std::equal(stream.begin(), stream.end(), packed.begin() + block5 + 18))
      << "the stream, not a copy";
  EXPECT_EQ(ReceiverExpands(packed, block5 + 10), *data);

  Bytes back(kFlashImageSize, 0);
  ASSERT_TRUE(UnPackFlashData(packed.data(), packed.size(), back.data(), back.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x60000, back.begin()));
  EXPECT_TRUE(PackedBlock_Check(packed.data(), packed.size()).Ok());
}

TEST(PackDefaults, IncompressibleChunksAsPlainCopyAndAsStream) {
  // Chunk 0 is noise (its stream would pass 32,762 bytes: a plain copy),
  // chunk 1 data whose stream is exactly 32,762 bytes, the rest compresses;
  // the default EEPROM's stream is exactly 256 bytes.
  const std::optional<Bytes> exact = test::DataWithStreamLength(32762, 32762);
  const std::optional<Bytes> eeprom = test::DataWithStreamLength(256, 256);
  ASSERT_TRUE(exact && eeprom);
  Bytes image = test::SettingsLikeImage(8, 0x60000);
  const Bytes noise = test::RandomBytes(8, 32762);
  std::copy(noise.begin(), noise.end(), image.begin());
  std::copy(exact->begin(), exact->end(), image.begin() + 32762);
  Bytes packed(kPackedBlockSize);
  ASSERT_TRUE(PackDefaultsData(406, image.data(), eeprom->data(), packed.data()));
  const size_t chunk0 = 1024 + 10;
  const size_t chunk1 = chunk0 + 8 + 32762;
  EXPECT_EQ(BE16(packed, chunk0), 32762u + 6);
  EXPECT_TRUE(std::equal(noise.begin(), noise.end(), packed.begin() + chunk0 + 8));
  EXPECT_EQ(BE16(packed, chunk1), 32762u + 6);
  const Bytes stream = StreamOf(*exact);
  EXPECT_TRUE(std::equal(stream.begin(), stream.end(), packed.begin() + chunk1 + 8));
  EXPECT_EQ(ReceiverExpands(packed, chunk1), *exact);
  const uint32_t block1 = test::EntryBlockOffset(packed, 1);
  EXPECT_EQ(BE16(packed, block1 + 10), 256u + 6);
  EXPECT_EQ(ReceiverExpands(packed, block1 + 10), *eeprom);

  Bytes defaults(0x80100, 0);
  ASSERT_TRUE(UnPackFlashData(packed.data(), packed.size(), defaults.data(), defaults.size()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), defaults.begin()));
  Bytes eepromBack(256, 0xEE);
  ASSERT_TRUE(UnPackDefaultsEeprom(packed.data(), packed.size(), eepromBack.data()));
  EXPECT_EQ(eepromBack, *eeprom);
  EXPECT_TRUE(PackedBlock_Check(packed.data(), packed.size()).Ok());

  // Noise all through does not fit.
  const Bytes allNoise = test::RandomBytes(81, 0x60000);
  Bytes untouched(kPackedBlockSize, 0x42);
  EXPECT_FALSE(PackDefaultsData(406, allNoise.data(), eeprom->data(), untouched.data()));
  EXPECT_EQ(untouched, Bytes(kPackedBlockSize, 0x42));
}

// A header made for a model answers to the same rules as the templates: made
// for a template's own ID it is that template, byte for byte.
TEST(ModelHeader, MadeHeadersReadBackAndAreToldFromTemplates) {
  EXPECT_EQ(ModelHeader_Make(406, false).bytes, kTemplate406);
  EXPECT_EQ(ModelHeader_Make(21031, true).bytes, kTemplate21031);
  EXPECT_EQ(ModelHeader_BuiltInTemplate(ModelHeader_Make(21031, true)), 21031);
  for (const auto& [systemId, little] : {std::pair<uint16_t, bool>{456, false}, {31031, true}}) {
    SCOPED_TRACE(systemId);
    const ModelHeader made = ModelHeader_Make(systemId, little);
    EXPECT_EQ(made.bytes.size(), little ? 36u : 32u);
    EXPECT_EQ(std::accumulate(made.bytes.begin() + 3, made.bytes.end(), 0u) % 256, 0xFFu);
    EXPECT_TRUE(ModelHeader_Usable(made));
    EXPECT_EQ(ModelHeader_SystemId(made), systemId);
    EXPECT_FALSE(ModelHeader_BuiltInTemplate(made));
    // Read back from the start of a block, whose form its magic tells.
    Bytes block(kPackedBlockSize, 0);
    std::copy(made.bytes.begin(), made.bytes.end(), block.begin());
    EXPECT_EQ(PackedBlock_ModelHeader(block.data(), block.size()), made);
    EXPECT_FALSE(PackedBlock_ModelHeader(block.data(), made.bytes.size() - 1));
    ModelHeader damaged = made;
    damaged.bytes[20] ^= 0x01;
    EXPECT_FALSE(ModelHeader_Usable(damaged));
  }
  const Bytes noMagic(64, 0x00);
  EXPECT_FALSE(PackedBlock_ModelHeader(noMagic.data(), noMagic.size()));
}

// Round trips through every file form are the command-line tests'; here the
// choice of header.
TEST(PackSettings, AModelsOwnHeaderServesOnlyWhereNoTemplateDoes) {
  const Bytes flash = test::SettingsLikeImage(7);
  for (const auto& [systemId, little] : {std::pair<uint16_t, bool>{456, false}, {31031, true}}) {
    SCOPED_TRACE(systemId);
    const ModelHeader own = ModelHeader_Make(systemId, little);
    Bytes packed(kPackedBlockSize, 0xCC);
    EXPECT_FALSE(PackFlashData(systemId, flash.data(), packed.data()));
    ModelHeader damaged = own;
    damaged.bytes[3] ^= 0x01;
    EXPECT_FALSE(PackFlashData(systemId, flash.data(), packed.data(), &damaged));
    EXPECT_EQ(packed, Bytes(kPackedBlockSize, 0xCC));
    // With its own header the block takes that header's form.
    ASSERT_TRUE(PackFlashData(systemId, flash.data(), packed.data(), &own));
    EXPECT_EQ(PackedBlock_ModelHeader(packed.data(), packed.size()), own);
    EXPECT_EQ(packed[own.bytes.size()], little ? 0x40 : 0x00);  // the entry count in the form's order
    EXPECT_TRUE(PackedBlock_Check(packed.data(), packed.size()).Ok());
  }
  // A model with a template keeps writing its template.
  const ModelHeader other = ModelHeader_Make(456, false);
  Bytes withOther(kPackedBlockSize, 0), plain(kPackedBlockSize, 0);
  ASSERT_TRUE(PackFlashData(406, flash.data(), withOther.data(), &other));
  ASSERT_TRUE(PackFlashData(406, flash.data(), plain.data()));
  EXPECT_EQ(withOther, plain);
  EXPECT_EQ(PackedBlock_ModelHeader(plain.data(), plain.size()), ModelHeader_Make(406, false));
}

}  // namespace
}  // namespace tolv
