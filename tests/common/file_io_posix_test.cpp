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

std::vector<std::string> HiddenFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().starts_with(".tolv-")) names.push_back(entry.path().filename());
  return names;
}

// A kill at any step of a save of several files leaves every name in place,
// and the next save into the folder (here the tidy of a reader) finishes the
// set once its journal is there, or finds only leftovers to remove before.
TEST(FileIoPosixDeathTest, AKillAtAnyStepOfASetLeavesEveryNameAndTheNextRunFinishesIt) {
  const std::vector<uint8_t> old1 = {1}, old2 = {2}, old3 = {3}, new1 = {7}, new2 = {8}, new3 = {9};
  struct Case {
    const char* stage;
    int occurrence;
    bool finished;  // the set is found complete afterwards
  } cases[] = {{"written", 0, false}, {"written", 2, false}, {"journal", 0, true},
               {"kept", 1, true},     {"replaced", 0, true}, {"replaced", 1, true}};
  for (bool copies : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.stage) + " " + std::to_string(c.occurrence) + (copies ? " copies" : ""));
      test::TempDir dir;
      const std::string a = dir.File("a.bin"), b = dir.File("b.bin"), n = dir.File("new.bin");
      test::WriteBytes(a, old1);
      test::WriteBytes(b, old2);
      const std::vector<FileToSave> files = {{a, {new1}}, {b, {new2}}, {n, {new3}}};
      auto killedAt = [&]() {
        testing::RefuseHardLinks(copies);
        int seen = 0;
        testing::OnSaveProgress([&](const char* stage, const std::string&) {
          if (std::string(stage) != c.stage || seen++ != c.occurrence) return;
          // Every old name is there at the moment of the kill.
          if (!test::Exists(a) || !test::Exists(b)) ::_exit(7);
          ::_exit(9);
        });
        SaveFilesAtomically(files);
        ::_exit(0);
      };
      EXPECT_EXIT(killedAt(), ::testing::ExitedWithCode(9), "");
      std::vector<std::string> notices;
      Saves_OnNotice([&notices](const std::string& text) { notices.push_back(text); });
      Saves_TidyFolder(dir.path());
      Saves_OnNotice({});
      ASSERT_FALSE(notices.empty());
      if (c.finished) {
        EXPECT_EQ(test::ReadBytes(a), new1);
        EXPECT_EQ(test::ReadBytes(b), new2);
        EXPECT_EQ(test::ReadBytes(n), new3);
        EXPECT_TRUE(notices.front().starts_with("Finished an interrupted save in")) << notices.front();
      } else {
        EXPECT_EQ(test::ReadBytes(a), old1);
        EXPECT_EQ(test::ReadBytes(b), old2);
        EXPECT_FALSE(test::Exists(n));
        EXPECT_TRUE(notices.front().starts_with("Removed what saves that did not end left behind"))
            << notices.front();
      }
      EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>{});
    }
  }
}

// While one save holds a folder, a second one into it is refused and
// changes nothing; a name swapped for a link while a save runs is not
// written through.
TEST(FileIoPosixTest, ASecondSaveIntoTheFolderASwappedLinkAndALinkOfAnotherUserAreRefused) {
  test::TempDir dir, elsewhere;
  const std::string first = dir.File("first.bin"), second = dir.File("second.bin");
  const std::string victim = elsewhere.File("victim.bin");
  test::WriteBytes(second, {2});
  test::WriteBytes(victim, {5});
  const std::vector<uint8_t> one = {1};
  std::string refusal;
  testing::OnSaveProgress([&](const char* stage, const std::string&) {
    if (std::string(stage) != "written") return;
    try {
      SaveFileAtomically(second, ByteView(one));
    } catch (const FileError& error) {
      refusal = error.what();
    }
  });
  SaveFileAtomically(first, ByteView(one));
  EXPECT_EQ(refusal, "Cannot save \"" + second +
                         "\": another save into its folder is under way. Nothing was written.");
  EXPECT_EQ(test::ReadBytes(second), std::vector<uint8_t>{2});
  EXPECT_EQ(test::ReadBytes(first), one);

  for (size_t count : {size_t{1}, size_t{2}}) {
    SCOPED_TRACE(count);
    testing::OnSaveProgress([&](const char* stage, const std::string& path) {
      if (std::string(stage) != "written" || path != first) return;
      std::filesystem::remove(first);
      std::filesystem::create_symlink(victim, first);
    });
    test::WriteBytes(first, {1});
    std::vector<FileToSave> files = {{first, {one}}, {second, {one}}};
    files.resize(count);
    EXPECT_THROW(SaveFilesAtomically(files), FileError);
    EXPECT_EQ(test::ReadBytes(victim), std::vector<uint8_t>{5});
    EXPECT_EQ(test::ReadBytes(second), std::vector<uint8_t>{2});
    EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>{});
    std::filesystem::remove(first);
  }
  testing::OnSaveProgress({});

  // A link another user made in a folder everybody may write is not
  // followed (the superuser can make one of another user).
  if (::geteuid() != 0) return;
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  std::filesystem::create_symlink(victim, first);
  ASSERT_EQ(::lchown(first.c_str(), 4321, 4321), 0);
  try {
    SaveFileAtomically(first, ByteView(one));
    ADD_FAILURE() << "saved through another user's link";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot save through the link \"" + first +
                  "\": another user made it in a folder that everybody may write.");
  }
  EXPECT_EQ(test::ReadBytes(victim), std::vector<uint8_t>{5});
}

// ":" and "\\" are letters of a name here, not separators of folders.
TEST(FileIoPosixTest, NamesWithColonsAndBackslashesAreSavedInTheirFolder) {
  test::TempDir dir;
  const std::vector<uint8_t> one = {1};
  for (const char* name : {"a:b.bin", "c\\d.bin"}) {
    SaveFilesAtomically({{dir.File(name), {one}}, {dir.File(std::string(name) + "2"), {one}}});
    EXPECT_EQ(test::ReadBytes(dir.File(name)), one) << name;
  }
  EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>{});
}

// The folder of a save swapped for a link to another folder at any point
// of the save: the save goes on in the folder it opened, and nothing is
// written, kept or removed through the link.
TEST(FileIoPosixTest, AFolderSwappedForALinkDuringASaveIsNotWrittenThrough) {
  namespace fs = std::filesystem;
  const std::vector<uint8_t> one = {1}, two = {2};
  for (const char* stage : {"written", "journal", "kept", "replaced"}) {
    for (bool refuseLinks : {false, true}) {
      SCOPED_TRACE(std::string(stage) + (refuseLinks ? " copies" : " links"));
      test::TempDir top;
      const std::string folder = top.File("out"), moved = top.File("moved"), victim = top.File("victim");
      fs::create_directory(folder);
      fs::create_directory(victim);
      for (const std::string& dir : {folder, victim}) {
        test::WriteBytes(dir + "/a.bin", {5});
        test::WriteBytes(dir + "/b.bin", {6});
      }
      bool swapped = false;
      testing::RefuseHardLinks(refuseLinks);
      testing::OnSaveProgress([&](const char* at, const std::string&) {
        if (swapped || std::string(at) != stage) return;
        fs::rename(folder, moved);
        fs::create_directory_symlink(victim, folder);
        swapped = true;
      });
      SaveFilesAtomically({{folder + "/a.bin", {one}}, {folder + "/b.bin", {two}}});
      testing::OnSaveProgress({});
      testing::RefuseHardLinks(false);
      ASSERT_TRUE(swapped);
      EXPECT_EQ(test::ReadBytes(moved + "/a.bin"), one);
      EXPECT_EQ(test::ReadBytes(moved + "/b.bin"), two);
      EXPECT_EQ(HiddenFiles(moved), std::vector<std::string>{});
      EXPECT_EQ(test::ReadBytes(victim + "/a.bin"), std::vector<uint8_t>{5});
      EXPECT_EQ(test::ReadBytes(victim + "/b.bin"), std::vector<uint8_t>{6});
      EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator{}), 2);
    }
  }
}

// In the window, a request to end the program during a save still ends it
// by the signal, but no temporary file stays: one being written is removed
// at once, and a set being replaced is finished first.
TEST(FileIoPosixDeathTest, TheWindowEndedDuringASaveLeavesNoTemporaries) {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    for (const char* stage : {"written", "replaced"}) {
      SCOPED_TRACE(std::string(stage) + " " + std::to_string(signalNumber));
      test::TempDir dir;
      const std::string a = dir.File("a.bin"), b = dir.File("b.bin");
      test::WriteBytes(a, {1});
      const std::vector<uint8_t> seven = {7}, eight = {8};
      auto endedDuringSave = [&]() {
        Saves_CleanUpBeforeEnding();
        testing::OnSaveProgress([&](const char* at, const std::string&) {
          if (std::string(at) == stage) ::raise(signalNumber);
        });
        SaveFilesAtomically({{a, {seven}}, {b, {eight}}});
        ::_exit(0);
      };
      EXPECT_EXIT(endedDuringSave(), ::testing::KilledBySignal(signalNumber), "");
      EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>{});
      const bool finished = std::string(stage) == "replaced";
      EXPECT_EQ(test::ReadBytes(a), finished ? seven : std::vector<uint8_t>{1});
      EXPECT_EQ(test::Exists(b), finished);
    }
  }
}

}  // namespace
}  // namespace tolv
