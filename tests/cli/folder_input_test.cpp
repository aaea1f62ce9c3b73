// Folders as inputs end to end: convert reads back what "-o DIR/" wrote,
// info and verify take each KIND.bin as the component its name says, and a
// folder that gives nothing is refused with the reason.
#include <gtest/gtest.h>

#include <filesystem>

#include "settings_backup_fixture.h"
#include "test_support.h"
#include "tolv_run.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::Contains;
using test::Lines;

using TolvFolders = test::SettingsBackupTest;

TEST_F(TolvFolders, ConvertReadsBackWhatItWroteToAFolder) {
  Put("l.bin", test::RandomBytes(3, kLoaderImageSize));
  ASSERT_EQ(Tolv("convert settings.std loader=l.bin -o parts/").status, 0);
  test::ProgramRun back = Tolv("convert parts --sysid 406 -o again.std");
  EXPECT_EQ(back.status, 0) << back.err;
  // These settings are terrestrial, 406 a satellite model: said, not refused.
  ASSERT_EQ(Lines(back.err).size(), 1u) << back.err;
  EXPECT_TRUE(back.err.starts_with("SystemID 406 (")) << back.err;
  EXPECT_TRUE(
      back.err.ends_with(") is a DVB-s model, but the settings are DVB-t: a receiver of that model cannot "
                         "use them. Check the number (\"tolv models\" lists the models).\n"))
      << back.err;
  EXPECT_EQ(test::ReadBytes(work.File("again.std")), test::ReadBytes(work.File("settings.std")));
}

TEST_F(TolvFolders, AFolderThatGivesNothingOrFailsStopsTheRun) {
  std::filesystem::create_directories(work.File("empty"));
  test::ProgramRun empty = Tolv("convert empty/ -o x.dmp");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(
      Lines(empty.err)[0],
      "The folder \"empty/\" holds no component BIN file: a folder is read for loader.bin, firmware.bin, "
      "flash.bin, eeprom.bin, defaults.bin, background.bin (the files \"-o DIR/\" writes).");
  EXPECT_EQ(Lines(Tolv("convert none/ -o x.dmp").err)[0],
            "Cannot read the folder \"none/\": No such file or directory");

  std::vector<uint8_t> eeprom = ws.Image(ComponentKind::Eeprom);
  eeprom[50] ^= 1;
  Put("bad/eeprom.bin", eeprom);
  Put("bad/flash.bin", test::RandomBytes(1, 100));
  test::ProgramRun bad = Tolv("convert bad/ -o x.dmp");
  EXPECT_EQ(bad.status, 5);  // input refused
  EXPECT_EQ(Lines(bad.err), (std::vector<std::string>{
                                "Invalid file size (<>512kB)", "tolv: \"bad/flash.bin\" was not loaded.",
                                "tolv: stopped at \"bad/\"; the steps after it were not run."}));
  EXPECT_FALSE(test::Exists(work.File("x.dmp")));
  std::filesystem::remove(work.File("bad/flash.bin"));
  test::ProgramRun noted = Tolv("convert bad/ -o eeprom=e.bin");
  EXPECT_EQ(noted.status, 0);
  EXPECT_TRUE(Lines(noted.err)[0].starts_with("bad/eeprom.bin: BAD EEPROM record 4 CRC stored")) << noted.err;
}

TEST_F(TolvFolders, InfoAndVerifyTakeEachFileAsTheComponentItsNameSays) {
  std::vector<uint8_t> eeprom = ws.Image(ComponentKind::Eeprom);
  eeprom[50] ^= 1;
  Put("dir/loader.bin", test::RandomBytes(1, 100));
  Put("dir/firmware.bin", test::RandomBytes(2, kLoaderImageSize));  // a loader's size
  Put("dir/eeprom.bin", eeprom);
  Put("dir/defaults.bin", ws.Image(ComponentKind::Flash));  // the 524,288-byte form
  // A loader.bin of 100 bytes is no loader: info tells it all and fails.
  test::ProgramRun info = Tolv("info dir");
  EXPECT_EQ(info.status, 1) << info.err;
  EXPECT_TRUE(
      Contains(info.out, "dir/loader.bin: Loader BIN, 100 bytes\n  Problem: a Loader BIN has 65536 bytes\n"));
  EXPECT_TRUE(Contains(info.out,
                       "dir/firmware.bin: Firmware BIN, 65536 bytes\n  Component: Firmware, 65536 bytes\n"));
  EXPECT_TRUE(Contains(info.out, "dir/defaults.bin: Defaults BIN, 524288 bytes\n  Layout: DVB-t\n"));

  test::ProgramRun verify = Tolv("verify dir/");
  EXPECT_EQ(verify.status, 1);
  const std::vector<std::string> lines = Lines(verify.out);
  ASSERT_EQ(lines.size(), 4u) << verify.out;
  EXPECT_EQ(lines[0], "dir/loader.bin: BAD a Loader BIN has 65536 bytes");
  EXPECT_EQ(lines[1], "dir/firmware.bin: OK (Firmware BIN, carries no checksums)");
  EXPECT_TRUE(lines[2].starts_with("dir/eeprom.bin: BAD EEPROM record 4 CRC stored")) << lines[2];
  EXPECT_EQ(lines[3], "dir/defaults.bin: OK (Defaults BIN, 18 checksums)");

  test::ProgramRun json = Tolv("verify --json dir/ settings.std");
  EXPECT_EQ(json.status, 1);
  const std::vector<std::string> objects = Lines(json.out);
  ASSERT_EQ(objects.size(), 5u);
  EXPECT_TRUE(objects[0].starts_with("{\"file\":\"dir/loader.bin\",\"form\":\"Loader BIN\",\"size\":100,"));
  EXPECT_TRUE(objects[0].ends_with(
      "\"problems\":[\"a Loader BIN has 65536 bytes\"],\"named\":[],\"notes\":[],\"ok\":false}"));
  EXPECT_TRUE(Contains(objects[2], "{\"group\":\"EEPROM record\",\"name\":\"4\",\"offset\":46,"));
  EXPECT_TRUE(objects[4].ends_with(",\"ok\":true}"));
  EXPECT_EQ(Tolv("verify empty/").status, 1);
}

}  // namespace
}  // namespace tolv
