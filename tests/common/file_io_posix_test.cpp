// File access: what only POSIX systems have.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>

#include "common/file_io.h"
#include "common/save_interrupt.h"
#include "test_support.h"

namespace tolv {
namespace {

TEST(FileIoPosixTest, ReplacementKeepsPermissionBits) {
  test::TempDir dir;
  std::string path = dir.File("mode.bin");
  test::WriteBytes(path, {1, 2, 3});
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  SaveFileAtomically(path, std::vector<uint8_t>{4, 5});
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileIoPosixTest, SavingThroughSymbolicLinksReplacesTheFinalTargetAndKeepsTheLinks) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  fs::create_directory(dir.File("real"));
  const std::string target = dir.File("real/settings.std");
  test::WriteBytes(target, {1, 2, 3});
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  // near -> far (relative, read from its own folder) -> real/settings.std
  fs::create_symlink("real/settings.std", dir.File("far"));
  fs::create_symlink("far", dir.File("near"));
  SaveFileAtomically(dir.File("near"), std::vector<uint8_t>{7, 8});
  EXPECT_TRUE(fs::is_symlink(dir.File("near")));
  EXPECT_TRUE(fs::is_symlink(dir.File("far")));
  EXPECT_EQ(test::ReadBytes(target), (std::vector<uint8_t>{7, 8}));
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("real")), fs::directory_iterator{}), 1);

  // A link to a file not there yet creates that file.
  fs::create_symlink(dir.File("real/new.bin"), dir.File("dangling"));
  SaveFileAtomically(dir.File("dangling"), std::vector<uint8_t>{9});
  EXPECT_TRUE(fs::is_symlink(dir.File("dangling")));
  EXPECT_EQ(test::ReadBytes(dir.File("real/new.bin")), std::vector<uint8_t>{9});

  fs::create_symlink("loop", dir.File("loop"));
  EXPECT_THROW(SaveFileAtomically(dir.File("loop"), std::vector<uint8_t>{1}), FileError);
  EXPECT_TRUE(fs::is_symlink(dir.File("loop")));
}

// Ctrl-C twice while the files are written: the program ends by the signal,
// and its temporary files are gone. Twice while they are put in place: the
// save finishes first.
TEST(FileIoPosixDeathTest, ASecondInterruptEndsTheProgramWithoutLeavingTemporaries) {
  test::TempDir dir;
  const std::vector<uint8_t> bytes = test::RandomBytes(1, 4000);
  const std::vector<FileToSave> files = {{dir.File("a.bin"), {bytes}}, {dir.File("b.bin"), {bytes}}};
  auto interruptTwiceWhen = [](const char* when) {
    testing::OnSaveProgress([when](const char* stage, const std::string&) {
      if (std::string(stage) != when) return;
      ::raise(SIGINT);
      ::raise(SIGINT);
    });
  };
  EXPECT_EXIT(
      {
        SaveInterruptGuard guard;
        interruptTwiceWhen("written");
        SaveFilesAtomically(files);
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EXIT(
      {
        SaveInterruptGuard guard;
        interruptTwiceWhen("replaced");
        SaveFilesAtomically(files);
        std::exit(SaveInterruptGuard::Requested() ? 3 : 4);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(test::ReadBytes(dir.File("b.bin")), bytes);
}

// A user other than the superuser cannot keep another user's file theirs:
// the save is refused before anything is written, --force or not.
TEST(FileIoPosixDeathTest, AnotherUsersFileIsNotReplacedByOneWhoCannotKeepItsOwner) {
  const std::vector<uint8_t> protectedLinks = test::ReadBytes("/proc/sys/fs/protected_hardlinks");
  if (::geteuid() != 0 || protectedLinks.empty() || protectedLinks[0] != '1')
    GTEST_SKIP() << "needs the superuser and protected hard links";
  test::TempDir dir;
  const std::string mine = dir.File("mine.bin"), theirs = dir.File("theirs.bin");
  test::WriteBytes(mine, {1});
  test::WriteBytes(theirs, {2});
  ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
  const std::vector<uint8_t> three = {3}, four = {4};
  const std::vector<FileToSave> files = {{mine, {three}}, {theirs, {four}}};
  // Saved by another user, the root's file being write-protected for them.
  auto saveAsNobody = [&](std::optional<int> failAfter) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::exit(5);
    ForceReplaceScope force;
    testing::FailReplacingAfter(failAfter);
    try {
      SaveFilesAtomically(files);
    } catch (const FileError&) {
      std::exit(failAfter ? 3 : 4);
    }
    std::exit(failAfter ? 4 : 3);
  };
  EXPECT_EXIT(saveAsNobody(1), ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(test::ReadBytes(mine), std::vector<uint8_t>{1});
  EXPECT_EQ(test::ReadBytes(theirs), std::vector<uint8_t>{2});
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator{}),
      2);
  EXPECT_EXIT(saveAsNobody(std::nullopt), ::testing::ExitedWithCode(4), "");
  EXPECT_EQ(test::ReadBytes(theirs), std::vector<uint8_t>{2});
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator{}),
      2);
}

}  // namespace
}  // namespace tolv
