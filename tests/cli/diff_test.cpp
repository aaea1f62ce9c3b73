// tolv diff end to end: the same backup in several forms, differences named
// by section, record and offset (known answers from the layout tables), and
// the failures that exit with 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "settings_backup_fixture.h"
#include "test_support.h"
#include "tolv_run.h"
#include "workspace/backup_folder.h"
#include "workspace/bin_files.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::Contains;
using test::Lines;

using TolvDiff = test::SettingsBackupTest;

TEST_F(TolvDiff, TheSameBackupInOtherFormsIsTheSameButForTheSystemId) {
  ASSERT_EQ(Tolv("convert settings.std -o s.tfd -o parts/").status, 0);
  test::ProgramRun same = Tolv("diff settings.std s.tfd");
  EXPECT_EQ(same.status, 0) << same.out << same.err;
  std::vector<std::string> lines = Lines(same.out);
  ASSERT_EQ(lines.size(), 10u) << same.out;
  EXPECT_TRUE(lines[2].starts_with("SystemID: same, 406 (")) << lines[2];
  EXPECT_EQ(lines[5], "Flash: same (524288 bytes)");
  EXPECT_EQ(lines[9], "The backups are the same.");

  // The folder carries no SystemID: unknown there, not another one.
  test::ProgramRun folder = Tolv("diff s.tfd parts/");
  EXPECT_EQ(folder.status, 0) << folder.out;
  EXPECT_TRUE(Contains(folder.out, "\nSystemID: A 406 (")) << folder.out;
  EXPECT_TRUE(Contains(folder.out, "), B unknown: it carries none\nLoader: in neither\n")) << folder.out;
  EXPECT_TRUE(
      folder.out.ends_with("EEPROM: same (256 bytes)\nDefaults: in neither\nBackground: in neither\n"
                           "The backups are the same.\n"))
      << folder.out;
  EXPECT_EQ(Tolv("diff parts/ s.tfd").status, 0);
  EXPECT_EQ(Tolv("convert settings.std --sysid 1416 -o other.tfd").status, 0);
  EXPECT_TRUE(Contains(Tolv("diff s.tfd other.tfd").out, "The backups differ: SystemID"));
  EXPECT_EQ(Tolv("diff parts parts/").status, 0);
}

// Backup folders carry their SystemID in backup.json: backups of two models
// differ, and one that no longer matches its sums is not compared at all.
TEST_F(TolvDiff, BackupFoldersCompareWithTheirOwnSystemIds) {
  SilentInteraction ui;
  Workspace other = ws;
  other.systemId = 1416;
  ASSERT_EQ(2, Backup_Write(ws, work.File("a"), {"USB", 0}, ui));
  ASSERT_EQ(2, Backup_Write(other, work.File("b"), {"USB", 0}, ui));
  const test::ProgramRun models = Tolv("diff a/ b/");
  EXPECT_EQ(models.status, 1) << models.out << models.err;
  EXPECT_TRUE(Contains(models.out, "The backups differ: SystemID")) << models.out;
  EXPECT_EQ(Tolv("diff a/ a/").status, 0);
  std::vector<uint8_t> eeprom = test::ReadBytes(work.File("b/eeprom.bin"));
  eeprom[200] ^= 1;
  test::WriteBytes(work.File("b/eeprom.bin"), eeprom);
  const test::ProgramRun damaged = Tolv("diff a/ b/");
  EXPECT_EQ(damaged.status, 2);
  EXPECT_TRUE(Contains(damaged.err, "eeprom.bin: its SHA-256 differs from SHA256SUMS")) << damaged.err;
}

TEST_F(TolvDiff, DifferencesAreNamedBySectionRecordAndOffset) {
  std::vector<uint8_t> eeprom = ws.Image(ComponentKind::Eeprom);
  const std::vector<uint8_t> firmware = test::RandomBytes(5, 1000);
  Put("a/flash.bin", flash());
  Put("a/eeprom.bin", eeprom);
  Put("a/firmware.bin", firmware);
  Put("a/loader.bin", test::RandomBytes(6, kLoaderImageSize));
  flash()[0x0FA08 + 10] ^= 1;                                          // DVB-t section 3: 0x0FA08-0x0FA2B
  for (size_t i = 0x1547C + 4; i < 0x1547C + 7; ++i) flash()[i] ^= 1;  // section 9: 0x1547C-0x156AF
  flash()[0x60005] ^= 1;
  eeprom[50] ^= 1;   // record 4: CRC at 46, data 48..53
  eeprom[100] ^= 1;  // after the seven records
  std::vector<uint8_t> longer = firmware;
  longer[3] ^= 1;
  longer.resize(1010, 7);
  Put("b/flash.bin", flash());
  Put("b/eeprom.bin", eeprom);
  Put("b/firmware.bin", longer);

  test::ProgramRun r = Tolv("diff a/ b/");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out,
            "A: a/\nB: b/\nSystemID: unknown: neither carries one\nLoader: only in A (65536 bytes)\n"
            "Firmware: differs: 11 bytes, the first at 0x00003; A 1000 bytes, B 1010 bytes\n"
            "Flash: differs: 5 bytes, the first at 0x0FA12; layout DVB-t in both\n"
            "  section 3, 0x0FA08-0x0FA2B: 1 byte in 1 run: 0x0FA12\n"
            "  section 9, 0x1547C-0x156AF: 3 bytes in 1 run: 0x15480-0x15482\n"
            "  past the sections, 0x60000-0x7FFFF: 1 byte in 1 run: 0x60005\n"
            "EEPROM: differs: 2 bytes, the first at 0x00032\n"
            "  EEPROM record 4, 0x0002E-0x00035: 1 byte in 1 run: 0x00032\n"
            "  past the records, 0x00052-0x000FF: 1 byte in 1 run: 0x00064\n"
            "Defaults: in neither\nBackground: in neither\n"
            "The backups differ: Loader, Firmware, Flash, EEPROM.\n");

  // One JSON object; the bad EEPROM checksums B now has are not noted.
  test::ProgramRun json = Tolv("diff --json a/ b/");
  EXPECT_EQ(json.status, 1);
  EXPECT_TRUE(json.err.empty()) << json.err;
  ASSERT_EQ(Lines(json.out).size(), 1u);
  EXPECT_TRUE(
      json.out.starts_with("{\"a\":\"a/\",\"b\":\"b/\",\"same\":false,"
                           "\"systemId\":{\"a\":null,\"b\":null,\"same\":true},\"components\":["
                           "{\"component\":\"Loader\",\"inA\":true,\"inB\":false,\"same\":false,"
                           "\"sizeA\":65536},"))
      << json.out;
  EXPECT_TRUE(Contains(json.out,
                       "{\"region\":\"section\",\"number\":9,\"start\":87164,\"end\":87727,"
                       "\"differingBytes\":3,\"firstDifference\":87168,\"runCount\":1,"
                       "\"runs\":[[87168,87170]]}"));
  EXPECT_TRUE(
      json.out.ends_with("{\"component\":\"Background\",\"inA\":false,\"inB\":false,\"same\":true}]}\n"));
}

TEST_F(TolvDiff, OtherLayoutsDefaultsAndManyRuns) {
  Put("s.bin", test::SettingsImage(kLayoutDvbS, 21));
  Put("t.bin", flash());
  test::ProgramRun layouts = Tolv("diff flash=s.bin flash=t.bin");
  EXPECT_EQ(layouts.status, 1);
  EXPECT_TRUE(Contains(layouts.out, "; layout DVB-s in A, DVB-t in B\n  settings, 0x00000-0x5FFFF: "))
      << layouts.out;

  std::vector<uint8_t> defaults = test::RandomBytes(7, kDefaultsImageSize);
  Put("d1.bin", defaults);
  defaults[0x60024] ^= 1;  // default EEPROM record 2
  defaults[0x60107] ^= 1;  // carried along after the default EEPROM
  for (size_t i = 0x100; i < 0x200; i += 2) defaults[i] ^= 1;
  Put("d2.bin", defaults);
  test::ProgramRun runs = Tolv("diff defaults=d1.bin defaults=d2.bin");
  EXPECT_EQ(runs.status, 1);
  EXPECT_TRUE(Contains(runs.out,
                       "\n  settings, 0x00000-0x5FFFF: 128 bytes in 128 runs: 0x00100, 0x00102, 0x00104, "
                       "0x00106, 0x00108, 0x0010A, 0x0010C, 0x0010E, and 120 more\n"
                       "  default EEPROM record 2, 0x60022-0x60027: 1 byte in 1 run: 0x60024\n"
                       "  carried rest, 0x60100-0x800FF: 1 byte in 1 run: 0x60107\n"))
      << runs.out;
  test::ProgramRun json = Tolv("diff --json defaults=d1.bin defaults=d2.bin");
  EXPECT_TRUE(Contains(json.out, "\"runCount\":128,\"runs\":[[256,256],")) << json.out;
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '['), 2 + 64 + 1 + 1 + 3) << json.out;
}

TEST_F(TolvDiff, BackupsThatCannotBeLoadedExitWithTwo) {
  std::filesystem::create_directories(work.File("empty"));
  test::WriteBytes(work.File("notes.txt"), test::Text(100));
  const char* usage[] = {"diff settings.std", "diff settings.std settings.std settings.std",
                         "diff --bogus settings.std settings.std", "diff 'block=x [01].bin' settings.std",
                         "diff settings.std notes.txt"};
  for (const char* args : usage) {
    test::ProgramRun r = Tolv(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(r.out.empty()) << args;
    EXPECT_TRUE(Contains(r.err, "--help")) << args << r.err;
  }
  test::ProgramRun missing = Tolv("diff settings.std missing.std");
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_TRUE(missing.err.ends_with("tolv diff: \"missing.std\" could not be loaded.\n")) << missing.err;
  test::ProgramRun empty = Tolv("diff --json empty/ settings.std");
  EXPECT_EQ(empty.status, 2);
  EXPECT_TRUE(empty.out.empty());
  EXPECT_TRUE(Contains(empty.err, "The folder \"empty/\" holds no component BIN file")) << empty.err;
}

}  // namespace
}  // namespace tolv
