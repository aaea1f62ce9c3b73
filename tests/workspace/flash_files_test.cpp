// Flash dumps and flash block files.
#include "workspace/flash_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "test_support.h"
#include "workspace/flash_settings.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;

// Data sizes of sections 1..13 as the layout tables give them.
const int32_t kDvbSData[] = {112'000, 48'000, 19'380, 48'004, 9'420, 68,    8,
                             9'520,   560,    65'000, 5'376,  32,    75'796};
const int32_t kDvbTData[] = {32'000, 32'000, 32, 4'084, 9'420, 68, 8, 9'520, 560, 65'000, 5'376, 0, 235'100};
const int32_t kDvbCData[] = {32'000, 32'000, 32, 3'064, 9'420, 68, 8, 9'240, 560, 65'000, 5'376, 0, 236'400};

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  // The names in UTF-8: a path is not a std::string where the system's
  // names are wide (Windows).
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FlashDump, SaveThenLoadForEveryTemplateAndLayout) {
  test::TempDir dir;
  int n = 0;
  for (int32_t id : {406, 1416, 10446, 10416, 12406, 21031}) {
    for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
      SCOPED_TRACE(std::to_string(id) + " layout " + std::to_string(variant));
      Workspace source = test::SettingsWorkspace(variant, id, static_cast<uint32_t>(++n));
      ScriptedInteraction ui;
      ASSERT_TRUE(FlashDump_Save(source, dir.File("f.dmp"), ui));
      std::vector<uint8_t> file = test::ReadBytes(dir.File("f.dmp"));
      EXPECT_EQ(file, source.packedFlash);
      EXPECT_EQ(file[0] == 0x1D && file[1] == 0x1F, id == 21031);
      Workspace target;
      target.systemId = 77;
      target.Image(ComponentKind::Eeprom) = test::RandomBytes(1, 256);
      const std::vector<uint8_t> eeprom = target.Image(ComponentKind::Eeprom);
      ASSERT_TRUE(FlashDump_Load(target, dir.File("f.dmp"), ui));
      EXPECT_TRUE(ui.events().empty());
      EXPECT_TRUE(target.Present(ComponentKind::Flash));
      EXPECT_TRUE(test::SamePrefix(target.Image(ComponentKind::Flash), source.Image(ComponentKind::Flash),
                                   kDefaultsSettingsSize));
      EXPECT_EQ(target.layoutVariant, variant);
      EXPECT_EQ(target.packedFlash, file);
      // A dump carries no system ID and no EEPROM.
      EXPECT_EQ(target.systemId, 77);
      EXPECT_EQ(target.Image(ComponentKind::Eeprom), eeprom);
      EXPECT_FALSE(target.Present(ComponentKind::Eeprom));
    }
  }
}

TEST(FlashDump, PackingFailureShowsItsMessageWithReasonAndFixAndWritesNothing) {
  test::TempDir dir;
  const struct {
    int32_t id;
    bool noise;  // settings that do not compress
    const char* reason;
  } cases[] = {
      {0, false, "The SystemID is not set"},
      {416, false, "SystemID 416 is not a known model"},
      {99, false, "SystemID 99 is not a known model"},
      {406, true, "The settings do not compress into the block of 131,072 bytes"},
  };
  for (const auto& c : cases) {
    Workspace ws = test::SettingsWorkspace(kLayoutDvbS, c.id, 1);
    if (c.noise) ws.Image(ComponentKind::Flash) = test::RandomBytes(9, kFlashImageSize);
    ScriptedInteraction ui;
    EXPECT_FALSE(FlashDump_Save(ws, dir.File("f.dmp"), ui));
    ASSERT_EQ(ui.Texts().size(), 1u);
    const std::string text = ui.Texts()[0];
    EXPECT_EQ(text.rfind(std::string("PackFlashData failed to pack the data! ") + c.reason, 0), 0u) << text;
    EXPECT_NE(text.find("and save again."), std::string::npos) << text;
    EXPECT_FALSE(test::Exists(dir.File("f.dmp")));
  }
}

TEST(FlashDump, WriteFailureLeavesThePreviousFile) {
  test::TempDir dir;
  const std::vector<uint8_t> previous = test::RandomBytes(5, kPackedBlockSize);
  test::WriteBytes(dir.File("f.dmp"), previous);
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  ScriptedInteraction ui;
  testing::FailWritesAfter(50'000);
  EXPECT_THROW(FlashDump_Save(ws, dir.File("f.dmp"), ui), FileError);
  testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(test::ReadBytes(dir.File("f.dmp")), previous);
}

TEST(FlashDump, WrongSizeIsRefusedAndChangesNothing) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  const Workspace before = ws;
  for (size_t size : {kPackedBlockSize - 1, kPackedBlockSize + 1, size_t{0}}) {
    test::WriteBytes(dir.File("f.dmp"), std::vector<uint8_t>(size, 0));
    ScriptedInteraction ui;
    EXPECT_FALSE(FlashDump_Load(ws, dir.File("f.dmp"), ui));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Invalid file size (<>128kB)"});
    EXPECT_EQ(ws.images, before.images);
    EXPECT_EQ(ws.present, before.present);
    EXPECT_EQ(ws.packedFlash, before.packedFlash);
  }
}

TEST(FlashDump, BlockThatDoesNotUnpackChangesNothing) {
  test::TempDir dir;
  Workspace source = test::SettingsWorkspace(kLayoutDvbT, 406, 2);
  ScriptedInteraction ui;
  ASSERT_TRUE(FlashDump_Save(source, dir.File("good.dmp"), ui));
  std::vector<uint8_t> damaged = test::ReadBytes(dir.File("good.dmp"));
  damaged[30'000] ^= 0x01;  // inside a middle block: blocks before it would already be written
  test::WriteBytes(dir.File("bad.dmp"), damaged);
  // A zeroed or erased block names no block at all: it holds no settings and
  // must not pass for them (the image would keep whatever it held before).
  const std::vector<std::vector<uint8_t>> cases = {damaged, test::RandomBytes(3, kPackedBlockSize),
                                                   std::vector<uint8_t>(kPackedBlockSize, 0x00),
                                                   std::vector<uint8_t>(kPackedBlockSize, 0xFF)};
  for (const std::vector<uint8_t>& bytes : cases) {
    test::WriteBytes(dir.File("bad.dmp"), bytes);
    Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
    const Workspace before = ws;
    ui.Clear();
    EXPECT_FALSE(FlashDump_Load(ws, dir.File("bad.dmp"), ui));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"UnPackFlashData failed to unpack the flash block"});
    EXPECT_EQ(ws.images, before.images);
    EXPECT_EQ(ws.present, before.present);
    EXPECT_EQ(ws.packedFlash, before.packedFlash);
    EXPECT_EQ(ws.layoutVariant, before.layoutVariant);
  }
}

TEST(FlashBlocks, SatelliteGivesThirteenFilesWithTheSectionData) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  ScriptedInteraction ui;
  const FlashBlocksSaved saved = FlashBlocks_Save(ws, dir.File("mysettings.bin"), ui);
  const std::vector<std::string>& written = saved.written;
  EXPECT_TRUE(saved.outcome);
  EXPECT_TRUE(ui.events().empty());
  ASSERT_EQ(written.size(), 13u);
  for (int k = 1; k <= 13; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "mysettings [%02d].bin", k);
    EXPECT_EQ(written[k - 1], dir.File(name));
    std::vector<uint8_t> data = test::ReadBytes(dir.File(name));
    ASSERT_EQ(data.size(), static_cast<size_t>(kDvbSData[k - 1])) << name;
    const auto first = ws.Image(ComponentKind::Flash).begin() + ws.sectionTable.start[k] + 4;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), first)) << name;
  }
}

TEST(FlashBlocks, TerrestrialAndCableGiveTwelveFilesWithoutNumberTwelve) {
  for (auto [variant, sizes] : {std::pair{kLayoutDvbT, kDvbTData}, std::pair{kLayoutDvbC, kDvbCData}}) {
    test::TempDir dir;
    Workspace ws = test::SettingsWorkspace(variant, 406, 1);
    ScriptedInteraction ui;
    EXPECT_EQ(FlashBlocks_Save(ws, dir.File("box.dmp"), ui).written.size(), 12u);
    std::vector<std::string> files = FilesIn(dir.path());
    ASSERT_EQ(files.size(), 12u);
    EXPECT_EQ(std::count(files.begin(), files.end(), "box [12].bin"), 0);
    for (int k = 1; k <= 13; ++k) {
      if (k == 12) continue;
      EXPECT_EQ(test::SizeOf(dir.File(FlashBlock_FileName("", "box", k))),
                static_cast<uint64_t>(sizes[k - 1]));
    }
  }
}

TEST(FlashBlocks, WithoutARecognisedLayoutNothingIsWritten) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  ws.Image(ComponentKind::Flash).assign(kFlashImageSize, 0xFF);
  Flash_DetectLayout(ws);  // the DVB-s table stays, but is not this image's
  ScriptedInteraction ui;
  const FlashBlocksSaved saved = FlashBlocks_Save(ws, dir.File("x.bin"), ui);
  EXPECT_TRUE(saved.written.empty());
  EXPECT_EQ(saved.outcome, Outcome::Failed(ui.Texts().at(0)));
  EXPECT_EQ(ui.events().size(), 1u);
  EXPECT_TRUE(FilesIn(dir.path()).empty());
}

TEST(FlashBlocks, AFailurePartWayWritesNoneOfThem) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  const std::vector<uint8_t> oldSecond = test::RandomBytes(9, 100);
  test::WriteBytes(dir.File("s [02].bin"), oldSecond);
  ScriptedInteraction ui;
  testing::FailWritesAfter(112'000 + 1'000);  // the first file fits, the second does not
  EXPECT_THROW(FlashBlocks_Save(ws, dir.File("s.bin"), ui), FileError);
  testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(test::ReadBytes(dir.File("s [02].bin")), oldSecond);
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"s [02].bin"}));
}

TEST(FlashBlockName, ParsesTheBracketedNumber) {
  EXPECT_EQ(FlashBlock_FileName("/d/", "mysettings", 5), "/d/mysettings [05].bin");
  EXPECT_EQ(FlashBlock_ParseName("/d/mysettings [05].bin")->section, 5);
  EXPECT_EQ(FlashBlock_ParseName("[13].xyz")->section, 13);
  EXPECT_EQ(FlashBlock_ParseName("x[99]")->section, 99);
  EXPECT_FALSE(FlashBlock_ParseName("x [ab].bin")->section.has_value());
  EXPECT_EQ(FlashBlock_ParseName("x [ab].bin")->digits, "ab");
  for (const char* notBlock : {"mysettings (05).bin", "mysettings [5].bin", "mysettings [005].bin", "[05",
                               "05].bin", "", "/d/[05]/x.bin", "x [05] .bin"})
    EXPECT_FALSE(FlashBlock_ParseName(notBlock).has_value()) << notBlock;
}

class FlashBlockLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
    before = ws;
  }
  // Expects a refusal with one message, the workspace unchanged.
  void ExpectRefused(const std::string& path) {
    ScriptedInteraction ui;
    EXPECT_FALSE(FlashBlock_Load(ws, path, ui)) << path;
    EXPECT_EQ(ui.events().size(), 1u) << path;
    EXPECT_EQ(ws.images, before.images) << path;
    EXPECT_EQ(ws.present, before.present) << path;
  }
  test::TempDir dir;
  Workspace ws, before;
};

TEST_F(FlashBlockLoad, ReplacesTheSectionAndFixesItsChecksum) {
  std::vector<uint8_t> data = test::RandomBytes(4, 9'420);
  std::string path = dir.File("mysettings [05].bin");
  test::WriteBytes(path, data);
  ScriptedInteraction ui;
  ASSERT_TRUE(FlashBlock_Load(ws, path, ui));
  EXPECT_TRUE(ui.events().empty());
  const std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  const uint32_t s = ws.sectionTable.start[5];
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + s + 4));
  // Only section 5 changed: its header and data.
  for (size_t i = 0; i < flash.size(); ++i) {
    if (i < s || i > ws.sectionTable.end[5]) {
      ASSERT_EQ(flash[i], before.Image(ComponentKind::Flash)[i]) << i;
    }
  }
  for (const ChecksumCheck& c : Flash_CheckSectionChecksums(flash.data(), flash.size(), ws.sectionTable))
    EXPECT_TRUE(c.Ok()) << c.number;
}

TEST_F(FlashBlockLoad, BlocksSavedFromOneImageLoadIntoAnother) {
  Workspace other = test::SettingsWorkspace(kLayoutDvbS, 406, 2);
  ScriptedInteraction ui;
  std::vector<std::string> files = FlashBlocks_Save(other, dir.File("o.bin"), ui).written;
  for (const std::string& file : files) ASSERT_TRUE(FlashBlock_Load(ws, file, ui)) << file;
  EXPECT_TRUE(test::SamePrefix(ws.Image(ComponentKind::Flash), other.Image(ComponentKind::Flash),
                               kDefaultsSettingsSize));
}

TEST_F(FlashBlockLoad, NamesWithoutTheBracketPatternAreRefused) {
  test::WriteBytes(dir.File("mysettings (05).bin"), test::RandomBytes(4, 9'420));
  ScriptedInteraction ui;
  EXPECT_FALSE(FlashBlock_Load(ws, dir.File("mysettings (05).bin"), ui));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"You didn't select a flash block file."});
  EXPECT_EQ(ws.images, before.images);
}

TEST_F(FlashBlockLoad, NumbersThatAreNotSectionsAreRefused) {
  for (const char* name :
       {"m [ab].bin", "m [0x].bin", "m [00].bin", "m [14].bin", "m [99].bin", "m [-1].bin"}) {
    test::WriteBytes(dir.File(name), test::RandomBytes(4, 68));
    ExpectRefused(dir.File(name));
  }
}

TEST_F(FlashBlockLoad, SizesThatDifferFromTheSectionAreRefused) {
  for (size_t size : {size_t{9'419}, size_t{9'421}, size_t{0}, size_t{600'000}}) {
    test::WriteBytes(dir.File("m [05].bin"), test::RandomBytes(4, size));
    ExpectRefused(dir.File("m [05].bin"));
  }
}

TEST_F(FlashBlockLoad, EmptySectionTwelveOfTerrestrialIsRefused) {
  ws = test::SettingsWorkspace(kLayoutDvbT, 406, 1);
  before = ws;
  test::WriteBytes(dir.File("m [12].bin"), {});
  ExpectRefused(dir.File("m [12].bin"));
}

TEST_F(FlashBlockLoad, UnrecognisedOrAbsentFlashIsRefused) {
  test::WriteBytes(dir.File("m [05].bin"), test::RandomBytes(4, 9'420));
  ws.Present(ComponentKind::Flash) = false;
  before = ws;
  ExpectRefused(dir.File("m [05].bin"));

  ws.Present(ComponentKind::Flash) = true;
  ws.Image(ComponentKind::Flash).assign(kFlashImageSize, 0);
  Flash_DetectLayout(ws);
  before = ws;
  ExpectRefused(dir.File("m [05].bin"));
}

TEST_F(FlashBlockLoad, MissingFileIsAFileErrorAndChangesNothing) {
  ScriptedInteraction ui;
  EXPECT_THROW(FlashBlock_Load(ws, dir.File("m [05].bin"), ui), FileError);
  EXPECT_EQ(ws.images, before.images);
}

}  // namespace
}  // namespace tolv
