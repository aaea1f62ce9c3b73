// STD files: known answers, round trips for every header template and both
// byte orders, and every refusal.
#include "workspace/std_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/file_io.h"
#include "flash/checksums.h"
#include "test_support.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;
using Kind = ScriptedInteraction::Event::Kind;

const std::vector<uint8_t> kTemplate406 = {0x1F, 0x1D, 0x1D, 0xFF, 0x01, 0x01, 0x96, 0x06, 0x00, 0x00, 0x00,
                                           0x8F, 0x22, 0x1E, 0xD0, 0x90, 0x0F, 0x04, 0x00, 0x88, 0x10, 0x13,
                                           0xFF, 0x0B, 0xB8, 0x0D, 0xAC, 0x05, 0xDC, 0x00, 0x17, 0x02};
const std::vector<uint8_t> kTemplate21031 = {0x1D, 0x1F, 0x1D, 0xB7, 0x01, 0x27, 0x52, 0x0C, 0x00,
                                             0x00, 0x00, 0xFF, 0xF2, 0xFF, 0xFF, 0xFF, 0x22, 0xF2,
                                             0x06, 0x03, 0x38, 0x02, 0x24, 0x08, 0x01, 0x62, 0x78,
                                             0x0B, 0xB8, 0xAC, 0x0D, 0x05, 0xDC, 0x17, 0x00, 0x02};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
  return {bytes.begin() + offset, bytes.begin() + offset + count};
}

TEST(StdSave, KnownAnswerFor406UnderABinName) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, dir.File("settings.bin"), ui));
  EXPECT_TRUE(ui.events().empty());
  EXPECT_FALSE(test::Exists(dir.File("settings.bin")));
  std::vector<uint8_t> file = test::ReadBytes(dir.File("settings.std"));
  ASSERT_EQ(file.size(), 131'392u);
  const uint8_t start[] = {'T', 'o', 'P', 'f', 'I', 'e', 'L', 'd', 0x00, 0x02, 0x01, 0x96};
  EXPECT_EQ(Slice(file, 0, 12), std::vector<uint8_t>(std::begin(start), std::end(start)));
  EXPECT_EQ(Slice(file, 12, 32), kTemplate406);
  EXPECT_EQ(Slice(file, 44, 20), std::vector<uint8_t>(20, 0xFF));
  EXPECT_EQ(Slice(file, 64, kPackedBlockSize), ws.packedFlash);
  EXPECT_EQ(Slice(file, 131'136, 256), ws.Image(ComponentKind::Eeprom));
}

TEST(StdSave, LittleEndianFormStoresTheIdLowByteFirst) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbC, 21031, 2);
  ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, dir.File("tf606.std"), ui));
  std::vector<uint8_t> file = test::ReadBytes(dir.File("tf606.std"));
  EXPECT_EQ(file[10], 0x27);
  EXPECT_EQ(file[11], 0x52);
  EXPECT_EQ(Slice(file, 12, 36), kTemplate21031);
  EXPECT_EQ(Slice(file, 48, 16), std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(STD_ReadSystemId(file.data(), file.size()), 21031);
}

// Every template (and the IDs sharing 10446's), both byte orders, all layouts.
TEST(StdFile, SaveThenLoadRestoresIdSettingsEepromAndLayout) {
  const int32_t ids[] = {406, 1416, 10446, 10416, 12406, 21031};
  const uint8_t variants[] = {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC};
  test::TempDir dir;
  int n = 0;
  for (int32_t id : ids) {
    for (uint8_t variant : variants) {
      SCOPED_TRACE(std::to_string(id) + " layout " + std::to_string(variant));
      Workspace source = test::SettingsWorkspace(variant, id, static_cast<uint32_t>(++n));
      ScriptedInteraction ui;
      std::string path = dir.File("s" + std::to_string(n) + ".std");
      ASSERT_TRUE(STD_Save(source, path, ui));
      Workspace target;
      ASSERT_TRUE(STD_Load(target, path, ui));
      EXPECT_TRUE(ui.events().empty());
      EXPECT_EQ(target.systemId, id);
      EXPECT_TRUE(target.Present(ComponentKind::Flash));
      EXPECT_TRUE(target.Present(ComponentKind::Eeprom));
      EXPECT_TRUE(test::SamePrefix(target.Image(ComponentKind::Flash), source.Image(ComponentKind::Flash),
                                   kDefaultsSettingsSize));
      EXPECT_EQ(target.Image(ComponentKind::Eeprom), source.Image(ComponentKind::Eeprom));
      EXPECT_EQ(target.layoutVariant, variant);
      EXPECT_TRUE(target.sectionTableMatchesFlash);
      EXPECT_EQ(target.packedFlash, Slice(test::ReadBytes(path), 64, kPackedBlockSize));
      // What was loaded saves and loads again unchanged, file and images alike.
      ASSERT_TRUE(STD_Save(target, dir.File("again.std"), ui));
      Workspace second;
      ASSERT_TRUE(STD_Load(second, dir.File("again.std"), ui));
      EXPECT_EQ(second.images, target.images);
      ASSERT_TRUE(STD_Save(second, dir.File("third.std"), ui));
      EXPECT_EQ(test::ReadBytes(dir.File("third.std")), test::ReadBytes(dir.File("again.std")));
    }
  }
}

TEST(StdSave, IdAboveSixteenBitsIsStoredAsItsLowBits) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 65'942, 3);  // 0x10196
  ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, dir.File("x.std"), ui));
  Workspace back;
  ASSERT_TRUE(STD_Load(back, dir.File("x.std"), ui));
  EXPECT_EQ(back.systemId, 406);
}

TEST(StdSave, RewritesTheChecksumsItSaves) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 4);
  ws.Image(ComponentKind::Flash)[ws.sectionTable.start[3] + 5] ^= 0xFF;  // data changed, CRC stale
  ws.Image(ComponentKind::Eeprom)[3] ^= 0xFF;
  ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, dir.File("x.std"), ui));
  Workspace back;
  ASSERT_TRUE(STD_Load(back, dir.File("x.std"), ui));
  const std::vector<uint8_t>& flash = back.Image(ComponentKind::Flash);
  for (const ChecksumCheck& c : Flash_CheckSectionChecksums(flash.data(), flash.size(), back.sectionTable))
    EXPECT_TRUE(c.Ok()) << "section " << c.number;
  for (const ChecksumCheck& c : Eeprom_CheckChecksums(back.Image(ComponentKind::Eeprom).data(), 256))
    EXPECT_TRUE(c.Ok()) << "record " << c.number;
}

TEST(StdSave, ZeroSystemIdOnlyAsksForOne) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 0, 1);
  const Workspace before = ws;
  ScriptedInteraction ui;
  EXPECT_FALSE(STD_Save(ws, dir.File("x.std"), ui));
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0], (ScriptedInteraction::Event{Kind::Message, "Please enter a valid system ID"}));
  EXPECT_FALSE(test::Exists(dir.File("x.std")));
  EXPECT_EQ(ws.images, before.images);  // not even the checksums were touched
}

TEST(StdSave, PackingFailuresWriteNothingAndKeepAnExistingFile) {
  test::TempDir dir;
  const std::vector<uint8_t> previous = test::RandomBytes(1, 1000);
  test::WriteBytes(dir.File("x.std"), previous);
  // 416 has no header template; random settings do not fit into 128 kB.
  Workspace noTemplate = test::SettingsWorkspace(kLayoutDvbS, 416, 1);
  Workspace tooBig = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  tooBig.Image(ComponentKind::Flash) = test::RandomBytes(2, kFlashImageSize);
  const std::pair<Workspace*, const char*> cases[] = {
      {&noTemplate,
       "Failed to pack. SystemID 416 is not a known model, so there is no header for the STD file."},
      {&tooBig, "Failed to pack. The settings do not compress into the block of 131,072 bytes;"}};
  for (const auto& [ws, text] : cases) {
    const std::vector<uint8_t> packedBefore = ws->packedFlash;
    ScriptedInteraction ui;
    EXPECT_FALSE(STD_Save(*ws, dir.File("x.std"), ui));
    ASSERT_EQ(ui.events().size(), 1u);
    EXPECT_EQ(ui.events()[0].kind, Kind::Information);
    EXPECT_TRUE(ui.events()[0].text.starts_with(text)) << ui.events()[0].text;
    EXPECT_TRUE(ui.events()[0].text.ends_with("and save again.")) << ui.events()[0].text;
    EXPECT_EQ(test::ReadBytes(dir.File("x.std")), previous);
    EXPECT_EQ(ws->packedFlash, packedBefore);
  }
}

TEST(StdSave, WriteFailureLeavesThePreviousFile) {
  test::TempDir dir;
  const std::vector<uint8_t> previous = test::RandomBytes(1, kStdFileSize);
  test::WriteBytes(dir.File("x.std"), previous);
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  ScriptedInteraction ui;
  testing::FailWritesAfter(100'000);
  EXPECT_THROW(STD_Save(ws, dir.File("x.std"), ui), FileError);
  testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(test::ReadBytes(dir.File("x.std")), previous);
}

class StdLoadRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = test::SettingsWorkspace(kLayoutDvbT, 1416, 9);
    ws.Image(ComponentKind::Loader) = test::RandomBytes(3, kLoaderImageSize);
    ws.Present(ComponentKind::Loader) = true;
    before = ws;
    Workspace source = test::SettingsWorkspace(kLayoutDvbS, 406, 10);
    ScriptedInteraction quiet;
    ASSERT_TRUE(STD_Save(source, dir.File("good.std"), quiet));
    good = test::ReadBytes(dir.File("good.std"));
  }
  void ExpectUnchanged() {
    EXPECT_EQ(ws.images, before.images);
    EXPECT_EQ(ws.present, before.present);
    EXPECT_EQ(ws.systemId, before.systemId);
    EXPECT_EQ(ws.packedFlash, before.packedFlash);
    EXPECT_EQ(ws.layoutVariant, before.layoutVariant);
  }
  test::TempDir dir;
  Workspace ws, before;
  std::vector<uint8_t> good;
  ScriptedInteraction ui;
};

TEST_F(StdLoadRefusal, WrongSizesChangeNothing) {
  for (size_t size : {kStdFileSize - 1, kStdFileSize + 1, size_t{0}, kPackedBlockSize}) {
    std::vector<uint8_t> bytes = good;
    bytes.resize(size, 0);
    test::WriteBytes(dir.File("bad.std"), bytes);
    ui.Clear();
    EXPECT_FALSE(STD_Load(ws, dir.File("bad.std"), ui));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Invalid file size (<>131392B)"});
    ExpectUnchanged();
  }
}

TEST_F(StdLoadRefusal, MissingFileIsAFileErrorAndChangesNothing) {
  EXPECT_THROW(STD_Load(ws, dir.File("none.std"), ui), FileError);
  ExpectUnchanged();
}

TEST_F(StdLoadRefusal, PackedBlockThatDoesNotUnpackChangesNothing) {
  // A damaged block, and an erased one that names no block at all (it holds
  // no settings and must not pass for them).
  std::vector<uint8_t> damaged = good;
  damaged[64 + 5120 + 40] ^= 0xFF;  // inside the first block: its block CRC fails
  std::vector<uint8_t> erased = good;
  std::fill_n(erased.begin() + 64, kPackedBlockSize, 0xFF);
  for (const std::vector<uint8_t>& bytes : {damaged, erased}) {
    test::WriteBytes(dir.File("bad.std"), bytes);
    ui.Clear();
    EXPECT_FALSE(STD_Load(ws, dir.File("bad.std"), ui));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"UnPackFlashData failed to unpack the flash block"});
    ExpectUnchanged();
  }
}

TEST_F(StdLoadRefusal, AllZeroHeaderStillLoadsWithSystemIdZero) {
  std::vector<uint8_t> bytes = good;
  std::fill_n(bytes.begin(), 64, 0);
  test::WriteBytes(dir.File("zero.std"), bytes);
  EXPECT_TRUE(STD_Load(ws, dir.File("zero.std"), ui));
  EXPECT_EQ(ws.systemId, 0);
  EXPECT_TRUE(ws.Present(ComponentKind::Flash));
  EXPECT_EQ(ws.layoutVariant, kLayoutDvbS);
}

TEST(StdFile, OutputNameReplacesTheExtension) {
  EXPECT_EQ(STD_OutputName("/d/settings.bin"), "/d/settings.std");
  EXPECT_EQ(STD_OutputName("/d/box.settings.STD"), "/d/box.settings.std");
  EXPECT_EQ(STD_OutputName("/d.x/noext"), "/d.x/noext.std");
}

TEST(StdFile, ReadSystemIdFollowsThePackedBlocksByteOrder) {
  std::vector<uint8_t> file(kStdFileSize, 0);
  file[10] = 0x01;
  file[11] = 0x96;
  EXPECT_EQ(STD_ReadSystemId(file.data(), file.size()), 0x0196);
  file[64] = 0x1D;
  file[65] = 0x1F;
  EXPECT_EQ(STD_ReadSystemId(file.data(), file.size()), 0x9601);
  EXPECT_EQ(STD_ReadSystemId(file.data(), 65), 0);  // too short to tell
}

}  // namespace
}  // namespace tolv
