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

// Standard output, a descriptor, a pipe or a device is written in place as
// a stream: the file behind a redirection keeps what it held, and a FIFO
// nothing reads is refused, never waited for (a test that waited would
// hang, not fail).
TEST(TolvProgramPosix, StreamTargetsAreWrittenInPlace) {
  test::TempDir work;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
  test::ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  std::vector<uint8_t> eeprom = ws.Image(ComponentKind::Eeprom);
  std::vector<uint8_t> logged = {'o', 'l', 'd', '\n'};
  logged.insert(logged.end(), eeprom.begin(), eeprom.end());
  const std::string tolv =
      "{ cd '" + work.path() + "' && '" + test::BuildBinDir() + "/tolv' convert settings.std ";
  struct Case {
    const char* output;  // -o and the shell's redirection
    std::vector<uint8_t> expected;
  } cases[] = {
      {"-o eeprom=/dev/stdout >> log.txt", logged}, {"-o eeprom=/dev/fd/1 >> log.txt", logged},
      {"-o eeprom=/dev/fd/3 3>> log.txt", logged},  {"-o eeprom=- >> log.txt", logged},
      {"-o eeprom=- | cat > log.txt", eeprom},
  };
  for (const Case& c : cases) {
    test::WriteBytes(work.File("log.txt"), {'o', 'l', 'd', '\n'});
    std::string output;
    EXPECT_EQ(test::RunCommand(tolv + c.output + " 2>/dev/null; }", &output), 0) << c.output << output;
    EXPECT_EQ(test::ReadBytes(work.File("log.txt")), c.expected) << c.output;
    EXPECT_FALSE(std::filesystem::is_symlink(work.File("log.txt")));
  }
  test::ProgramRun twice =
      test::RunTolv("convert settings.std -o eeprom=- -o flash=/dev/stdout", work.path());
  EXPECT_EQ(twice.status, 2);
  EXPECT_TRUE(test::Contains(twice.err, "both write")) << twice.err;
  EXPECT_EQ(test::RunTolv("convert settings.std -o eeprom=/dev/null", work.path()).status, 0);

  ASSERT_EQ(::mkfifo(work.File("out.dmp").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(work.File("Firmware.dat").c_str(), 0644), 0);
  test::ProgramRun out = test::RunTolv("convert settings.std -o out.dmp", work.path());
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.err, "Cannot write file \"out.dmp\": nothing reads from it\n");
  EXPECT_TRUE(std::filesystem::is_fifo(work.File("out.dmp")));
  test::ProgramRun info = test::RunTolv("info out.dmp", work.path());
  EXPECT_EQ(info.status, 1);
  EXPECT_TRUE(test::Contains(info.err, "Cannot read file \"out.dmp\": it is not a regular file")) << info.err;
  // The model list in the current folder is a FIFO: passed over, whether or
  // not a list lies beside the program.
  test::ProgramRun models = test::RunTolv("models", work.path());
  EXPECT_EQ(models.status, 0) << models.err;
  EXPECT_FALSE(test::Contains(models.out, "Model list: " + work.File("Firmware.dat"))) << models.out;
}

// Two outputs reaching one file are refused before anything is written,
// also when one of them is a link to a file not there yet.
TEST(TolvProgramPosix, ADanglingLinkToAnotherOutputIsRefused) {
  test::TempDir work;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
  test::ScriptedInteraction ui;
  ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  std::filesystem::create_symlink("target.bin", work.File("lnk.bin"));
  test::ProgramRun r =
      test::RunTolv("convert settings.std -o eeprom=target.bin -o flash=lnk.bin", work.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(test::Contains(r.err, "both write")) << r.err;
  EXPECT_FALSE(test::Exists(work.File("target.bin")));
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
  // Another user, who may write the file but could not keep its owner, is
  // refused, --force or not.
  ASSERT_EQ(::chmod(work.path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(work.File("theirs.bin").c_str(), 0666), 0);
  ASSERT_EQ(::chmod(work.File("settings.std").c_str(), 0644), 0);
  const std::vector<uint8_t> before = test::ReadBytes(work.File("theirs.bin"));
  for (const char* force : {"", "--force "}) {
    std::string output;
    const int status = test::RunCommand(
        "cd '" + work.path() + "' && setpriv --reuid=4322 --regid=4322 --clear-groups '" +
            test::BuildBinDir() + "/tolv' convert " + force + "settings.std -o eeprom=theirs.bin",
        &output);
    EXPECT_NE(status, 0) << output;
    EXPECT_TRUE(test::Contains(output, "it belongs to another user")) << output;
    ASSERT_EQ(::stat(work.File("theirs.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(test::ReadBytes(work.File("theirs.bin")), before);
  }
}

}  // namespace
}  // namespace tolv
