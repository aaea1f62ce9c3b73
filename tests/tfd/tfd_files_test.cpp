#include "workspace/tfd_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "codec/crc16.h"
#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "results/result_codes.h"
#include "test_support.h"
#include "tfd_test_util.h"
#include "workspace/flash_settings.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;
using Kind = ComponentKind;

// Settings-like contents: text in the first 0x60000 bytes, with section 5 of
// the DVB-s layout marked so that the layout is recognised, and a zero tail.
std::vector<uint8_t> SettingsImage(uint32_t seed) {
  std::vector<uint8_t> flash(kFlashImageSize, 0);
  const std::vector<uint8_t> text = test::Text(kDefaultsSettingsSize);
  std::copy(text.begin(), text.end(), flash.begin());
  for (size_t i = seed; i < kDefaultsSettingsSize; i += 997) flash[i] = static_cast<uint8_t>(seed + i);
  const uint32_t s5 = Layout_Sections(kLayoutDvbS).start[5];
  flash[s5] = 0x12;
  flash[s5 + 2] = 0xFF;
  flash[s5 + 3] = 0xFF;
  flash[s5 + 4] = 0x34;
  return flash;
}

void FillAll(Workspace& ws, int32_t systemId) {
  ws.Image(Kind::Loader) = test::MachineCode(kLoaderImageSize);
  ws.Image(Kind::Firmware) = test::MachineCode(300000);
  ws.Image(Kind::Flash) = SettingsImage(1);
  ws.Image(Kind::Eeprom) = test::RandomBytes(2, kEepromImageSize);
  std::vector<uint8_t>& defaults = ws.Image(Kind::Defaults);
  const std::vector<uint8_t> settings = SettingsImage(3);
  std::copy(settings.begin(), settings.begin() + kDefaultsSettingsSize, defaults.begin());
  const std::vector<uint8_t> rest = test::RandomBytes(4, kDefaultsImageSize - kDefaultsSettingsSize);
  std::copy(rest.begin(), rest.end(), defaults.begin() + kDefaultsSettingsSize);
  // Defaults as a receiver holds them: their section checksums right.
  Flash_WriteSectionChecksums(defaults.data(), kDefaultsSettingsSize,
                              Layout_Sections(Flash_RecogniseLayout(defaults.data(), kDefaultsSettingsSize)));
  ws.Image(Kind::Background) = test::RandomBytes(5, kBackgroundImageSize);
  for (Kind kind : kAllComponents) ws.Present(kind) = true;
  ws.systemId = systemId;
  Flash_DetectLayout(ws);
}

void ExpectSameWorkspace(const Workspace& a, const Workspace& b) {
  for (Kind kind : kAllComponents) {
    EXPECT_EQ(a.Image(kind), b.Image(kind)) << ComponentName(kind);
    EXPECT_EQ(a.Present(kind), b.Present(kind)) << ComponentName(kind);
  }
  EXPECT_EQ(a.systemId, b.systemId);
  EXPECT_EQ(a.layoutVariant, b.layoutVariant);
  EXPECT_EQ(a.sectionTable, b.sectionTable);
  EXPECT_EQ(a.sectionTableMatchesFlash, b.sectionTableMatchesFlash);
}

std::vector<uint8_t> Head(const std::vector<uint8_t>& bytes, size_t count) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

// A component as stored chunks of at most 32768 bytes.
std::vector<test::RawBlock> StoredChunks(uint16_t type, const std::vector<uint8_t>& bytes) {
  std::vector<test::RawBlock> blocks;
  for (size_t at = 0; at < bytes.size(); at += 32768) {
    const size_t n = std::min<size_t>(32768, bytes.size() - at);
    blocks.push_back(test::Stored(type, {bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(at + n)}));
  }
  return blocks;
}

class TfdFilesTest : public ::testing::Test {
 protected:
  void TearDown() override { tolv::testing::FailWritesAfter(std::nullopt); }

  // A workspace with a mix of present and absent components whose bytes all
  // differ from anything a test file carries.
  std::unique_ptr<Workspace> MixedWorkspace() {
    auto ws = std::make_unique<Workspace>();
    FillAll(*ws, 1416);
    ws->Present(Kind::Firmware) = false;
    ws->Present(Kind::Defaults) = false;
    ws->layoutVariant = kLayoutDvbT;
    return ws;
  }

  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.File(name);
    test::WriteBytes(path, bytes);
    return path;
  }

  test::TempDir dir_;
  ScriptedInteraction ui_;
  std::unique_ptr<TfdStore> store_ = std::make_unique<TfdStore>();
};

// ---------------------------------------------------------------------------
// Round trips.

class TfdRoundTrip : public TfdFilesTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(TfdRoundTrip, ExportThenImportRestoresEveryComponent) {
  auto ws = std::make_unique<Workspace>();
  FillAll(*ws, GetParam());
  const std::string path = dir_.File("all.tfd");
  ASSERT_TRUE(TFD_Export(*ws, *store_, path, ui_));
  EXPECT_TRUE(ui_.events().empty()) << ui_.Texts()[0];

  auto back = std::make_unique<Workspace>();
  back->Image(Kind::Defaults) = test::RandomBytes(9, kDefaultsImageSize);  // absent, discarded
  ASSERT_TRUE(TFD_Import(*back, *store_, path, ui_));
  EXPECT_TRUE(ui_.events().empty()) << ui_.Texts()[0];

  EXPECT_EQ(back->systemId, GetParam() & 0xFFFF);
  for (Kind kind : {Kind::Loader, Kind::Firmware, Kind::Eeprom, Kind::Background}) {
    EXPECT_EQ(back->Image(kind), ws->Image(kind)) << ComponentName(kind);
  }
  for (Kind kind : kAllComponents) EXPECT_TRUE(back->Present(kind));
  // Flash and Defaults travel packed: the settings, and the default EEPROM.
  EXPECT_EQ(Head(back->Image(Kind::Flash), kDefaultsSettingsSize),
            Head(ws->Image(Kind::Flash), kDefaultsSettingsSize));
  const size_t defaultsCarried = kDefaultsEepromOffset + kEepromImageSize;
  EXPECT_EQ(Head(back->Image(Kind::Defaults), defaultsCarried),
            Head(ws->Image(Kind::Defaults), defaultsCarried));
  // The tail that no block carries: zeros, never the bytes of the absent
  // Defaults that the workspace happened to hold.
  EXPECT_TRUE(std::all_of(back->Image(Kind::Defaults).begin() + defaultsCarried,
                          back->Image(Kind::Defaults).end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(back->layoutVariant, Flash_RecogniseLayout(back->Image(Kind::Flash).data(), kFlashImageSize));
  EXPECT_NE(back->layoutVariant, kLayoutNone);
  EXPECT_TRUE(back->sectionTableMatchesFlash);

  // What was read back writes the very same file again.
  const std::string again = dir_.File("again.tfd");
  ASSERT_TRUE(TFD_Export(*back, *store_, again, ui_));
  EXPECT_EQ(test::ReadBytes(again), test::ReadBytes(path));
}

INSTANTIATE_TEST_SUITE_P(HeaderTemplates, TfdRoundTrip,
                         ::testing::Values(406, 1416, 10446, 12406, 21031, 0x10196));

TEST_F(TfdFilesTest, SystemIdAbove65535IsWrittenAsItsLow16Bits) {
  Workspace ws;
  ws.systemId = 0x10196;
  const std::string path = dir_.File("id.tfd");
  ASSERT_TRUE(TFD_Export(ws, *store_, path, ui_));
  const std::vector<uint8_t> file = test::ReadBytes(path);
  EXPECT_EQ(test::GetBE16(file, 4), 406);
  ASSERT_TRUE(TFD_Import(ws, *store_, path, ui_));
  EXPECT_EQ(ws.systemId, 406);
}

TEST_F(TfdFilesTest, ExportWithoutComponentsIsTheBareHeaderAndSystemIdZeroWritesNothing) {
  Workspace ws;
  ws.systemId = 1234;
  const std::string path = dir_.File("bare.tfd");
  ASSERT_TRUE(TFD_Export(ws, *store_, path, ui_));
  EXPECT_EQ(test::ReadBytes(path), test::RawHeader(1234, 0));

  FillAll(ws, 0);
  const std::string none = dir_.File("none.tfd");
  EXPECT_FALSE(TFD_Export(ws, *store_, none, ui_));
  ASSERT_EQ(ui_.events().size(), 1u);
  EXPECT_EQ(ui_.events()[0], (ScriptedInteraction::Event{ScriptedInteraction::Event::Kind::Message,
                                                         "Please enter a valid system ID"}));
  EXPECT_FALSE(test::Exists(none));
}

TEST_F(TfdFilesTest, PackingFailuresAreAllReportedAndWriteNothing) {
  Workspace ws;
  FillAll(ws, 416);  // a model without a header template
  const std::string path = dir_.File("keep.tfd");
  const std::vector<uint8_t> previous = test::RandomBytes(9, 900);
  test::WriteBytes(path, previous);
  EXPECT_FALSE(TFD_Export(ws, *store_, path, ui_));
  const std::string reason =
      " SystemID 416 is not a known model, so there is no header for the TFD file. Set the receiver's own "
      "SystemID (File, Change SysID; --sysid with tolv), or load a dump or STD file of that receiver first, "
      "and save again.";
  EXPECT_EQ(ui_.Texts(),
            std::vector<std::string>({"PackFlashData failed to pack the flash data." + reason,
                                      "PackFlashData failed to pack the defaults data." + reason}));
  EXPECT_EQ(test::ReadBytes(path), previous);
  EXPECT_FALSE(TFD_Export(ws, *store_, dir_.File("new.tfd"), ui_));
  EXPECT_FALSE(test::Exists(dir_.File("new.tfd")));
}

TEST_F(TfdFilesTest, AFailedWriteKeepsThePreviousFile) {
  Workspace ws;
  FillAll(ws, 406);
  const std::string path = dir_.File("keep.tfd");
  const std::vector<uint8_t> previous = test::RandomBytes(1, 777);
  test::WriteBytes(path, previous);
  tolv::testing::FailWritesAfter(100000);
  EXPECT_THROW(TFD_Export(ws, *store_, path, ui_), FileError);
  EXPECT_EQ(test::ReadBytes(path), previous);
}

// ---------------------------------------------------------------------------
// Imports of partial and faulty files.

TEST_F(TfdFilesTest, OnlyABackgroundChangesOnlyTheBackgroundAndTheSystemId) {
  auto ws = MixedWorkspace();
  const std::vector<uint8_t> background = test::Text(kBackgroundImageSize);
  const std::string path = WriteFile("bg.tfd", test::RawTfd(555, StoredChunks(5, background)));

  auto expected = std::make_unique<Workspace>(*ws);
  expected->Image(Kind::Background) = background;
  expected->Present(Kind::Background) = true;
  expected->systemId = 555;
  ASSERT_TRUE(TFD_Import(*ws, *store_, path, ui_));
  EXPECT_TRUE(ui_.events().empty());
  ExpectSameWorkspace(*ws, *expected);
}

TEST_F(TfdFilesTest, WrongSizesShowTheirMessagesAndTheImportGoesOn) {
  auto ws = MixedWorkspace();
  const std::vector<uint8_t> firmware = {0x42};
  std::vector<test::RawBlock> blocks = StoredChunks(0, test::Text(65535));
  blocks.push_back(test::Stored(1, firmware));
  for (uint16_t type : {2, 3, 4, 5}) blocks.push_back(test::Stored(type, test::Text(1000)));
  blocks.push_back(test::Stored(6, test::Text(10)));  // not a component: ignored
  const std::string path = WriteFile("sizes.tfd", test::RawTfd(406, blocks));

  auto expected = std::make_unique<Workspace>(*ws);
  expected->Image(Kind::Firmware) = firmware;
  expected->Present(Kind::Firmware) = true;
  expected->systemId = 406;
  EXPECT_FALSE(TFD_Import(*ws, *store_, path, ui_));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>({
                             "Invalid size of loader block (<>64kB)",
                             "Invalid size of flash block (<>128kB)",
                             "Invalid size of EEPROM block (<>256B)",
                             "Invalid size of defaults block (<>128kB)",
                             "Invalid size of Backgorund block (<>256kB)",
                         }));
  for (const auto& event : ui_.events()) EXPECT_EQ(event.kind, ScriptedInteraction::Event::Kind::Information);
  ExpectSameWorkspace(*ws, *expected);
}

TEST_F(TfdFilesTest, APackedBlockThatFailsToUnpackLeavesItsImageAsItWas) {
  // A valid file of Flash and Defaults, then one byte changed inside a packed
  // block (the TFD CRCs made right again): the unpack fails on its block CRC.
  Workspace source;
  FillAll(source, 406);
  source.Present(Kind::Loader) = source.Present(Kind::Firmware) = source.Present(Kind::Eeprom) = false;
  source.Present(Kind::Background) = false;
  ASSERT_TRUE(TFD_Export(source, *store_, dir_.File("src.tfd"), ui_));
  for (Kind kind : {Kind::Flash, Kind::Defaults}) {
    const uint8_t type = static_cast<uint8_t>(kind);
    std::vector<uint8_t> packed((*store_)[type].data);
    const PackedBlockCheck check = PackedBlock_Check(packed.data(), packed.size());
    ASSERT_GE(check.entries.size(), 1u);
    packed[check.entries[0].blockOffset + 40] ^= 0x01;
    TFD_SetBlock(*store_, type, packed.data(), packed.size());
  }
  const std::string path = dir_.File("damaged.tfd");
  ASSERT_EQ(TFD_SaveToFile(*store_, path, 406), result::kOk);

  auto ws = MixedWorkspace();
  ws->Present(Kind::Flash) = false;
  auto expected = std::make_unique<Workspace>(*ws);
  expected->systemId = 406;
  EXPECT_FALSE(TFD_Import(*ws, *store_, path, ui_));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>({"UnPackFlashData failed to unpack the flash block",
                                                   "UnPackFlashData failed to unpack the defaults block"}));
  ExpectSameWorkspace(*ws, *expected);
}

TEST_F(TfdFilesTest, AnErasedPackedBlockIsRefusedNotTakenAsSettings) {
  // An all-zero or all-0xFF block names no block at all: it holds no settings,
  // so the image and flag stay as they were instead of marking old bytes present.
  for (uint8_t fill : {0x00, 0xFF}) {
    TFD_Clear(*store_);
    const std::vector<uint8_t> erased(kPackedBlockSize, fill);
    for (uint8_t type : {2, 4}) TFD_SetBlock(*store_, type, erased.data(), erased.size());
    const std::string path = dir_.File("erased.tfd");
    ASSERT_EQ(TFD_SaveToFile(*store_, path, 406), result::kOk);

    auto ws = MixedWorkspace();
    ws->Present(Kind::Flash) = false;
    auto expected = std::make_unique<Workspace>(*ws);
    expected->systemId = 406;
    ui_.Clear();
    EXPECT_FALSE(TFD_Import(*ws, *store_, path, ui_));
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>({"UnPackFlashData failed to unpack the flash block",
                                                     "UnPackFlashData failed to unpack the defaults block"}));
    ExpectSameWorkspace(*ws, *expected);
  }
}

// The default EEPROM rides in the defaults block's second entry: damage there
// refuses the Defaults, a wrong chunk CRC over sound data is named.
TEST_F(TfdFilesTest, TheDefaultEepromEntryIsCheckedAsTheSettingsAre) {
  Workspace source;
  FillAll(source, 406);
  for (Kind kind : kAllComponents) source.Present(kind) = kind == Kind::Defaults;
  ASSERT_TRUE(TFD_Export(source, *store_, dir_.File("src.tfd"), ui_));
  const std::vector<uint8_t> good((*store_)[4].data);
  const PackedEntryCheck entry = PackedBlock_Check(good.data(), good.size()).entries.at(1);
  const uint32_t block1 = entry.blockOffset;
  for (const size_t byte : {block1 + 20, block1 + 12 + 1}) {  // a data byte; the chunk CRC's low byte
    std::vector<uint8_t> packed = good;
    packed[byte] ^= 0x01;
    WriteBE16(packed.data() + 64 + 64,
              CRC16_Calc(packed.data() + block1, static_cast<int32_t>(entry.blockLength)));
    TFD_Clear(*store_);
    TFD_SetBlock(*store_, 4, packed.data(), packed.size());
    ASSERT_EQ(TFD_SaveToFile(*store_, dir_.File("eeprom.tfd"), 406), result::kOk);
    Workspace ws;
    const Workspace before = ws;
    ui_.Clear();
    const bool dataIntact = byte != block1 + 20;
    EXPECT_EQ(TFD_Import(ws, *store_, dir_.File("eeprom.tfd"), ui_).IsDone(), dataIntact);
    ASSERT_EQ(ui_.Texts().size(), 1u);
    if (dataIntact) {
      EXPECT_EQ(ui_.events()[0].kind, ScriptedInteraction::Event::Kind::Notice);
      EXPECT_TRUE(
          ui_.Texts()[0].starts_with("The defaults block was loaded: its data pass their data CRCs, but "
                                     "these checksums of it are wrong: entry 1 chunk 0 CRC"));
      // The default settings and the default EEPROM that follows them.
      EXPECT_EQ(Head(ws.Image(Kind::Defaults), kDefaultsEepromOffset + 256),
                Head(source.Image(Kind::Defaults), kDefaultsEepromOffset + 256));
    } else {
      EXPECT_TRUE(ui_.Texts()[0].starts_with("UnPackFlashData failed to unpack the defaults block: entry 1"))
          << ui_.Texts()[0];
      EXPECT_FALSE(ws.Present(Kind::Defaults));
      EXPECT_EQ(ws.Image(Kind::Defaults), before.Image(Kind::Defaults));
    }
  }
}

TEST_F(TfdFilesTest, AFaultyFileChangesNothingAtAll) {
  Workspace source;
  FillAll(source, 406);
  const std::string good = dir_.File("good.tfd");
  ASSERT_TRUE(TFD_Export(source, *store_, good, ui_));
  const std::vector<uint8_t> file = test::ReadBytes(good);
  TfdFileInfo info;
  ASSERT_EQ(TFD_Scan(file.data(), file.size(), info), result::kOk);
  const size_t lastBlock = info.blocks.back().offset;

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* message;
  };
  auto with = [&](size_t offset, uint8_t x) {
    std::vector<uint8_t> f = file;
    f[offset] ^= x;
    return f;
  };
  std::vector<uint8_t> longBlock = file;
  longBlock[lastBlock] = longBlock[lastBlock + 1] = 0xFF;
  const std::vector<Case> cases = {
      {"header length", with(1, 0x01), "TFD_Load: Invalid file header length"},
      {"system ID", with(4, 0x01), "TFD_Load: Invalid file header CRC"},
      {"a late block's data", with(lastBlock + 30, 0x04), "TFD_Load: Invalid data CRC"},
      {"a late block's type", with(lastBlock + 4, 0x01), "TFD_Load: Invalid block type"},
      {"a late block's length", longBlock, "TFD_Load: Unexpected end of file"},
      {"cut short", Head(file, file.size() - 1), "TFD_Load: Unexpected end of file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto ws = MixedWorkspace();
    auto expected = std::make_unique<Workspace>(*ws);
    ui_.Clear();
    EXPECT_FALSE(TFD_Import(*ws, *store_, WriteFile("bad.tfd", c.bytes), ui_));
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>({c.message}));
    ExpectSameWorkspace(*ws, *expected);
  }

  auto ws = MixedWorkspace();
  auto expected = std::make_unique<Workspace>(*ws);
  ui_.Clear();
  EXPECT_FALSE(TFD_Import(*ws, *store_, dir_.File("missing.tfd"), ui_));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>({"TFD_Load: File does not exist"}));
  ExpectSameWorkspace(*ws, *expected);
}

TEST_F(TfdFilesTest, ProcessWideStoreHoldsTheBlocksOfTheLastOperation) {
  Workspace ws;
  ws.systemId = 406;
  ws.Image(Kind::Eeprom) = test::RandomBytes(1, kEepromImageSize);
  ws.Present(Kind::Eeprom) = true;
  const std::string path = dir_.File("wide.tfd");
  ASSERT_TRUE(TFD_Export(ws, path, ui_));
  EXPECT_EQ(TFD_GetBlockSize(3), 256);
  TFD_Clear();
  Workspace back;
  ASSERT_TRUE(TFD_Import(back, path, ui_));
  EXPECT_EQ(TFD_GetBlockSize(3), 256);
  EXPECT_EQ(back.Image(Kind::Eeprom), ws.Image(Kind::Eeprom));
  TFD_Clear();
}

}  // namespace
}  // namespace tolv
