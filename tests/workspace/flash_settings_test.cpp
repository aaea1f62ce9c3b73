// Layout recognition and checksum update on the workspace.
#include "workspace/flash_settings.h"

#include <gtest/gtest.h>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "test_support.h"
#include "workspace/commands.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

// Damages every section CRC of table in image.
void SpoilSectionCrcs(std::vector<uint8_t>& image, const SectionTable& table, int last = kSectionCount) {
  for (int k = 1; k <= last; ++k)
    if (table.start[k] < table.end[k]) image[table.start[k]] ^= 0x5A;
}

int BadSections(const Workspace& ws, const SectionTable& table) {
  int bad = 0;
  const std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  for (const ChecksumCheck& check : Flash_CheckSectionChecksums(flash.data(), flash.size(), table))
    if (!check.Ok()) ++bad;
  return bad;
}

TEST(DetectLayout, RecognisesEachLayoutAndKeepsTheLastOnFailure) {
  Workspace ws;
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
    ws.Image(ComponentKind::Flash) = test::SettingsImage(variant, 1);
    Flash_DetectLayout(ws);
    EXPECT_EQ(ws.layoutVariant, variant);
    EXPECT_EQ(ws.sectionTable, Layout_Sections(variant));
    EXPECT_TRUE(ws.sectionTableMatchesFlash);
  }
  for (uint8_t fill : {0x00, 0xFF}) {
    ws.Image(ComponentKind::Flash).assign(kFlashImageSize, fill);
    Flash_DetectLayout(ws);
    EXPECT_EQ(ws.layoutVariant, kLayoutDvbC);
    EXPECT_EQ(ws.sectionTable, Layout_Sections(kLayoutDvbC));
    EXPECT_FALSE(ws.sectionTableMatchesFlash);
  }
}

TEST(DetectLayout, TerrestrialAndCableBothPassingGiveCable) {
  Workspace ws;
  std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  for (uint32_t at : {68'132u, 67'112u}) {
    flash[at] = 0x12;
    flash[at + 2] = flash[at + 3] = 0xFF;
    flash[at + 4] = 0x01;
  }
  Flash_DetectLayout(ws);
  EXPECT_EQ(ws.layoutVariant, kLayoutDvbC);
}

TEST(UpdateChecksums, WritesTwelveSatelliteSectionsAndLeavesSection13) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 2);
  std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  SpoilSectionCrcs(flash, ws.sectionTable);
  const uint32_t s13 = ws.sectionTable.start[13];
  const std::vector<uint8_t> section13Header(flash.begin() + s13, flash.begin() + s13 + 4);
  EXPECT_EQ(BadSections(ws, ws.sectionTable), 12);  // section 13 is not among the checks
  Flash_UpdateChecksums(ws);
  EXPECT_EQ(BadSections(ws, ws.sectionTable), 0);
  EXPECT_EQ(std::vector<uint8_t>(flash.begin() + s13, flash.begin() + s13 + 4), section13Header);
}

TEST(UpdateChecksums, TerrestrialAndCableHaveElevenSections) {
  for (uint8_t variant : {kLayoutDvbT, kLayoutDvbC}) {
    Workspace ws = test::SettingsWorkspace(variant, 406, 2);
    const std::vector<uint8_t> good = ws.Image(ComponentKind::Flash);
    SpoilSectionCrcs(ws.Image(ComponentKind::Flash), ws.sectionTable, 12);
    Flash_UpdateChecksums(ws);
    EXPECT_EQ(ws.Image(ComponentKind::Flash), good);
    const std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
    EXPECT_EQ(Flash_CheckSectionChecksums(flash.data(), flash.size(), ws.sectionTable).size(), 11u);
  }
}

TEST(UpdateChecksums, NeverWritesAnEarlierImagesTableIntoAnUnrecognisedOne) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 2);
  // A new Flash whose layout no test recognises: the DVB-s table stays in the
  // workspace but must not be applied to it.
  std::vector<uint8_t> unrecognised = test::RandomBytes(3, kFlashImageSize);
  unrecognised[227'402] = 0x00;  // DVB-s section 5 marker absent
  unrecognised[68'134] = 0x00;
  unrecognised[67'114] = 0x00;
  ws.Image(ComponentKind::Flash) = unrecognised;
  Flash_DetectLayout(ws);
  ASSERT_EQ(ws.layoutVariant, kLayoutDvbS);
  ws.Image(ComponentKind::Eeprom).assign(kEepromImageSize, 0x33);
  Flash_UpdateChecksums(ws);
  EXPECT_EQ(ws.Image(ComponentKind::Flash), unrecognised);
  // The EEPROM records are still brought up to date.
  for (const ChecksumCheck& check : Eeprom_CheckChecksums(ws.Image(ComponentKind::Eeprom).data(), 256))
    EXPECT_TRUE(check.Ok());
}

TEST(UpdateChecksums, AfterNewTheStaleTableIsNotUsed) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 2);
  Workspace_Reset(ws);
  ws.Present(ComponentKind::Flash) = true;  // as a later Defaults => Flash would
  SpoilSectionCrcs(ws.Image(ComponentKind::Flash), ws.sectionTable);
  const std::vector<uint8_t> before = ws.Image(ComponentKind::Flash);
  Flash_UpdateChecksums(ws);
  EXPECT_EQ(ws.Image(ComponentKind::Flash), before);
}

TEST(UpdateChecksums, EachComponentOnlyWhilePresent) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 2);
  SpoilSectionCrcs(ws.Image(ComponentKind::Flash), ws.sectionTable);
  ws.Image(ComponentKind::Eeprom)[0] ^= 1;
  const Workspace spoiled = ws;

  ws.Present(ComponentKind::Flash) = false;
  Flash_UpdateChecksums(ws);
  EXPECT_EQ(ws.Image(ComponentKind::Flash), spoiled.Image(ComponentKind::Flash));
  EXPECT_NE(ws.Image(ComponentKind::Eeprom), spoiled.Image(ComponentKind::Eeprom));

  ws = spoiled;
  ws.Present(ComponentKind::Eeprom) = false;
  Flash_UpdateChecksums(ws);
  EXPECT_NE(ws.Image(ComponentKind::Flash), spoiled.Image(ComponentKind::Flash));
  EXPECT_EQ(ws.Image(ComponentKind::Eeprom), spoiled.Image(ComponentKind::Eeprom));
}

TEST(UpdateChecksums, ZeroEepromGetsZeroCrcs) {
  Workspace ws;
  ws.Image(ComponentKind::Eeprom).assign(kEepromImageSize, 0);
  ws.Image(ComponentKind::Eeprom)[0] = 0xAB;  // a stale CRC
  ws.Present(ComponentKind::Eeprom) = true;
  Flash_UpdateChecksums(ws);
  EXPECT_EQ(ws.Image(ComponentKind::Eeprom), std::vector<uint8_t>(kEepromImageSize, 0));
}

// A workspace that took in a packed settings block of SystemID 456 (no
// built-in template) carrying header, as the TFD import and a download do.
Workspace TookBlockOf456(const ModelHeader& header) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 456, 4);
  // Bytes past the settings do not survive a dump: zero, for exact round trips.
  std::fill(ws.Image(ComponentKind::Flash).begin() + kDefaultsSettingsSize,
            ws.Image(ComponentKind::Flash).end(), uint8_t{0});
  ws.packedFlash.assign(kPackedBlockSize, 0);
  EXPECT_TRUE(PackFlashData(456, ws.Image(ComponentKind::Flash).data(), ws.packedFlash.data(), &header));
  EXPECT_TRUE(Workspace_TakePackedBlock(ws, ComponentKind::Flash));
  return ws;
}

TEST(KeptModelHeader, ADumpKeepsItForItsOwnModelAndADamagedOneIsNotKept) {
  test::TempDir dir;
  test::ScriptedInteraction ui;
  const ModelHeader own = ModelHeader_Make(456, false);
  Workspace ws = TookBlockOf456(own);
  ASSERT_TRUE(FlashDump_Save(ws, dir.File("a.dmp"), ui));
  // A dump stores no SystemID: its header is kept for the one it names.
  Workspace fromDump;
  ASSERT_TRUE(FlashDump_Load(fromDump, dir.File("a.dmp"), ui));
  EXPECT_FALSE(FlashDump_Save(fromDump, dir.File("c.dmp"), ui)) << "SystemID 0";
  fromDump.systemId = 456;
  ASSERT_TRUE(FlashDump_Save(fromDump, dir.File("c.dmp"), ui));
  EXPECT_EQ(test::ReadBytes(dir.File("c.dmp")), test::ReadBytes(dir.File("a.dmp")));

  // The last block taken in decides: one whose header's sum fails leaves none.
  ws.packedFlash[3] ^= 0x01;
  ASSERT_TRUE(Workspace_TakePackedBlock(ws, ComponentKind::Flash));
  EXPECT_FALSE(ws.keptHeader);
}

TEST(KeptModelHeader, ForgottenByNewAndOnceNeitherFlashNorDefaultsIsLeft) {
  test::ScriptedInteraction ui;
  Workspace ws = TookBlockOf456(ModelHeader_Make(456, false));
  Workspace_Reset(ws);
  EXPECT_FALSE(ws.keptHeader);

  ws = TookBlockOf456(ModelHeader_Make(456, false));
  ws.Present(ComponentKind::Defaults) = true;
  ui.AnswerQuestion(true);
  ui.AnswerQuestion(true);
  ASSERT_TRUE(Workspace_Unload(ws, ComponentKind::Flash, ui));
  EXPECT_TRUE(ws.keptHeader) << "the Defaults came with it";
  ASSERT_TRUE(Workspace_Unload(ws, ComponentKind::Defaults, ui));
  EXPECT_FALSE(ws.keptHeader);
}

}  // namespace
}  // namespace tolv
