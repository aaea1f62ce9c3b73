// The built tolv.exe with what only Windows has: folders written with "\",
// and a file that another program holds open.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/windows_text.h"
#include "settings_backup_fixture.h"

namespace tolv {
namespace {

using test::Contains;
using TolvWindows = test::SettingsBackupTest;

TEST_F(TolvWindows, FoldersEndingInABackslashAreOutputsAndInputs) {
  test::ProgramRun out = Tolv("convert settings.std -o parts\\");
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out, "Wrote parts\\flash.bin\nWrote parts\\eeprom.bin\n");
  test::ProgramRun verify = Tolv("verify parts\\");
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_TRUE(Contains(verify.out, "parts\\flash.bin: OK")) << verify.out;
  // A folder named without a separator at its end: the names made in it take
  // the separator it already uses.
  test::ProgramRun nested = Tolv("convert settings.std -o sub\\parts\\");
  EXPECT_EQ(nested.status, 0) << nested.err;
  EXPECT_TRUE(Contains(Tolv("info sub\\parts").out, "sub\\parts\\eeprom.bin: "))
      << Tolv("info sub\\parts").out;
  test::ProgramRun back = Tolv("convert parts\\ --sysid 406 -o again.std");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(test::ReadBytes(work.File("again.std")), test::ReadBytes(work.File("settings.std")));
}

TEST_F(TolvWindows, AFileHeldOpenByAnotherProgramStopsTheFolderSaveBeforeAnyFileIsReplaced) {
  Put("out/flash.bin", {1});
  Put("out/eeprom.bin", {2});
  HANDLE held = CreateFileW(Utf8ToWide(work.File("out/eeprom.bin")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  test::ProgramRun r = Tolv("convert settings.std -o out/");
  CloseHandle(held);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "\"out/eeprom.bin\"")) << r.err;
  EXPECT_EQ(test::ReadBytes(work.File("out/flash.bin")), std::vector<uint8_t>{1});
  EXPECT_EQ(test::ReadBytes(work.File("out/eeprom.bin")), std::vector<uint8_t>{2});
  EXPECT_EQ(Tolv("convert settings.std -o out/").status, 0);
  EXPECT_EQ(test::ReadBytes(work.File("out/eeprom.bin")), ws.Image(ComponentKind::Eeprom));
}

TEST_F(TolvWindows, DevicesAreRefusedAsOutputs) {
  test::ProgramRun r = Tolv("convert settings.std -o eeprom=NUL");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot replace \"NUL\": it is not a regular file.\n");
}

}  // namespace
}  // namespace tolv
