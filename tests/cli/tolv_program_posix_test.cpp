// The built tolv program with what only POSIX systems have: symbolic links
// followed by a save, FIFOs, owners.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"
#include "tolv_run.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

TEST(TolvProgramPosix, SavedOverASymbolicLinkTheFileItPointsToIsReplacedAndTheLinkStays) {
  test::TempDir work;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
  test::ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  ASSERT_EQ(test::RunTolv("convert settings.std -o a.tfd", work.path()).status, 0);

  test::WriteBytes(work.File("keep.tfd"), {1, 2, 3});
  std::filesystem::create_symlink("keep.tfd", work.File("link.tfd"));
  ASSERT_EQ(test::RunTolv("convert settings.std -o link.tfd", work.path()).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(work.File("link.tfd")));
  EXPECT_EQ(test::ReadBytes(work.File("keep.tfd")), test::ReadBytes(work.File("a.tfd")));
}

// A FIFO neither becomes a plain file when named as an output nor holds up
// a command that reads it (a test that waited would hang, not fail).
TEST(TolvProgramPosix, FifosAreRefusedAndNeverWaitedFor) {
  test::TempDir work;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
  test::ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  ASSERT_EQ(::mkfifo(work.File("out.dmp").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(work.File("Firmware.dat").c_str(), 0644), 0);
  test::TolvResult out = test::RunTolv("convert settings.std -o out.dmp", work.path());
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.err, "Cannot replace \"out.dmp\": it is not a regular file.\n");
  EXPECT_TRUE(std::filesystem::is_fifo(work.File("out.dmp")));
  std::filesystem::create_symlink("out.dmp", work.File("link.dmp"));
  EXPECT_EQ(test::RunTolv("convert settings.std -o link.dmp", work.path()).err,
            "Cannot replace \"link.dmp\": it is not a regular file.\n");
  test::TolvResult info = test::RunTolv("info out.dmp", work.path());
  EXPECT_EQ(info.status, 1);
  EXPECT_TRUE(test::Contains(info.err, "Cannot read file \"out.dmp\": it is not a regular file")) << info.err;
  // The model list in the current folder is a FIFO: passed over, whether or
  // not a list lies beside the program.
  test::TolvResult models = test::RunTolv("models", work.path());
  EXPECT_EQ(models.status, 0) << models.err;
  EXPECT_FALSE(test::Contains(models.out, "Model list: " + work.File("Firmware.dat"))) << models.out;
  EXPECT_EQ(test::RunTolv("convert settings.std -o eeprom=/dev/null", work.path()).status, 1);
}

TEST(TolvProgramPosix, AFileReplacedForAnotherUserStaysTheirs) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the superuser may give a file to another user";
  test::TempDir work;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
  test::ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  test::WriteBytes(work.File("theirs.bin"), {1});
  ASSERT_EQ(::chown(work.File("theirs.bin").c_str(), 4321, 5432), 0);
  ASSERT_EQ(::chmod(work.File("theirs.bin").c_str(), 0640), 0);
  ASSERT_EQ(test::RunTolv("convert settings.std -o eeprom=theirs.bin", work.path()).status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(work.File("theirs.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 5432u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(test::ReadBytes(work.File("theirs.bin")), ws.Image(ComponentKind::Eeprom));
}

}  // namespace
}  // namespace tolv
