// The backup folder: made whole or not at all, checked against its sums.
#include "workspace/backup_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/inspect.h"
#include "common/file_io.h"
#include "common/platform.h"
#include "no_model_list.h"
#include "test_support.h"
#include "workspace_fixtures.h"

namespace tolv::cli {
namespace {

namespace fs = std::filesystem;

class BackupFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = test::SettingsWorkspace(kLayoutDvbS, 406, 5);
    ws.Image(ComponentKind::Loader) = test::RandomBytes(6, kLoaderImageSize);
    ws.Present(ComponentKind::Loader) = true;
    ws.Image(ComponentKind::Firmware) = test::Text(5000);
    ws.Present(ComponentKind::Firmware) = true;
  }
  void TearDown() override { tolv::testing::FailWritesAfter(std::nullopt); }

  // The names in the work folder.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    return names;
  }

  test::TempDir dir;
  Workspace ws;
  SilentInteraction ui;
};

TEST_F(BackupFolder, IsWrittenWholeAndChecksAgainstItsSums) {
  const std::string target = dir.File("b");
  EXPECT_EQ(4, Backup_Write(ws, target, {"\\\\.\\COM12", 0}, ui));
  EXPECT_EQ(std::vector<std::string>{"b"}, Entries()) << "no folder of the build left";
  EXPECT_TRUE(Backup_IsFolder(target));
  EXPECT_TRUE(Backup_CheckSums(target).empty());
  EXPECT_EQ(ws.Image(ComponentKind::Flash), test::ReadBytes(target + "/flash.bin"));
  EXPECT_EQ("\\\\.\\COM12", Backup_RecordedPort(target).value_or("none"));
  // Damage of every kind is named, file by file.
  std::vector<uint8_t> loader = test::ReadBytes(target + "/loader.bin");
  loader[100] ^= 1;
  test::WriteBytes(target + "/loader.bin", loader);
  fs::remove(target + "/eeprom.bin");
  test::WriteBytes(target + "/background.bin", test::RandomBytes(7, kBackgroundImageSize));
  std::vector<uint8_t> sums = test::ReadBytes(target + "/SHA256SUMS");
  const std::string junk = "not a sum\n";
  sums.insert(sums.end(), junk.begin(), junk.end());
  test::WriteBytes(target + "/SHA256SUMS", sums);
  EXPECT_EQ(Backup_CheckSums(target),
            (std::vector<std::string>{"loader.bin: its SHA-256 differs from SHA256SUMS",
                                      "eeprom.bin: missing", "SHA256SUMS line 7: not a sum line",
                                      "background.bin: not listed in SHA256SUMS"}));
}

// Info and verify see a backup folder whole, as restore does: its record, and
// every fault that keeps restore from sending it.
TEST_F(BackupFolder, InfoAndVerifyJudgeTheFolderAsRestoreDoes) {
  const std::string target = dir.File("b");
  ASSERT_EQ(4, Backup_Write(ws, target, {"USB", 0}, ui));
  auto folderReport = [&] {
    std::vector<FileReport> reports;
    EXPECT_TRUE(InspectArguments({target + "/"}, [&](const FileReport& r) { reports.push_back(r); }));
    EXPECT_EQ(reports.front().form, "backup folder");
    EXPECT_EQ(reports.back().path, target + "/backup.tfd");  // its TFD file is inspected too
    return reports.front();
  };
  const FileReport sound = folderReport();
  EXPECT_TRUE(sound.AllOk());
  EXPECT_EQ(sound.systemId.value_or(0), 406);
  EXPECT_EQ(sound.notes, std::vector<std::string>{"taken 1970-01-01T00:00:00Z on USB"});
  for (const char* damage : {"loader.bin", "eeprom.bin", "backup.tfd"}) {
    SCOPED_TRACE(damage);
    const std::string path = target + "/" + damage;
    const std::vector<uint8_t> good = test::ReadBytes(path);
    if (std::string(damage) == "eeprom.bin") {
      fs::remove(path);
    } else {
      std::vector<uint8_t> bad = good;
      bad[bad.size() / 2] ^= 1;
      test::WriteBytes(path, bad);
    }
    EXPECT_FALSE(folderReport().Readable());
    EXPECT_FALSE(Backup_Faults(target).empty());
    test::WriteBytes(path, good);
  }
}

TEST_F(BackupFolder, GoesOnlyIntoANewOrEmptyFolder) {
  EXPECT_EQ("", Backup_TargetFault(dir.File("new/deeper")));
  fs::create_directories(dir.File("empty"));
  EXPECT_EQ("", Backup_TargetFault(dir.File("empty")));
  EXPECT_EQ(4, Backup_Write(ws, dir.File("empty/"), {"USB", 0}, ui));
  EXPECT_TRUE(Backup_CheckSums(dir.File("empty")).empty());
  EXPECT_EQ("the folder \"" + dir.File("empty") +
                "\" is not empty: a backup goes into a new folder, or an empty one",
            Backup_TargetFault(dir.File("empty")));
  test::WriteBytes(dir.File("file"), {1});
  EXPECT_EQ("\"" + dir.File("file") + "\" is a file, not a folder", Backup_TargetFault(dir.File("file")));
}

TEST_F(BackupFolder, AFailedWriteLeavesNothing) {
  // The disk fills in the loader's file, in the flash file, in the TFD.
  const uint64_t components = kLoaderImageSize + 5000 + kFlashImageSize + kEepromImageSize;
  for (uint64_t failAfter : {uint64_t{0}, uint64_t{70000}, components + 100}) {
    tolv::testing::FailWritesAfter(failAfter);
    EXPECT_THROW(Backup_Write(ws, dir.File("b"), {"USB", 0}, ui), FileError) << failAfter;
    tolv::testing::FailWritesAfter(std::nullopt);
    EXPECT_TRUE(Entries().empty()) << failAfter;
  }
}

TEST_F(BackupFolder, TheDefaultNameIsFreeAndTellsModelSystemIdAndTime) {
  test::NoModelList noModelList;
  test::ScopedCurrentDir here(dir.path());
  std::tm when{};
  when.tm_year = 126;
  when.tm_mon = 11;
  when.tm_mday = 7;
  when.tm_hour = 18;
  when.tm_min = 30;
  when.tm_isdst = -1;
  const std::time_t taken = std::mktime(&when);
  // Without a model list the model is "Toppy".
  EXPECT_EQ("Toppy-406-20261207-1830", Backup_DefaultName(406, taken));
  fs::create_directories("Toppy-406-20261207-1830");
  test::WriteBytes("Toppy-406-20261207-1830-2", {1});
  EXPECT_EQ("Toppy-406-20261207-1830-3", Backup_FreeDefaultPath("", 406, taken));
  EXPECT_EQ("sub/Toppy-406-20261207-1830", Backup_FreeDefaultPath("sub", 406, taken));
}

// A cancel (Ctrl-C, a request to end) while the folder is built removes it;
// a hidden folder of a run that no longer runs is removed by a later one,
// and one of a run that still runs is left alone.
TEST_F(BackupFolder, ACancelledBuildLeavesNothingAndLeftoversOfEndedRunsAreRemoved) {
  tolv::testing::OnSaveProgress([](const char*, const std::string&) { Saves_Cancel(); });
  EXPECT_THROW(Backup_Write(ws, dir.File("b"), {"USB", 0}, ui), SaveCanceled);
  tolv::testing::OnSaveProgress({});
  Saves_ResetCancel();
  EXPECT_EQ(Entries(), std::vector<std::string>{});

  // 2147483645 is no process number on any system (odd, past the largest).
  const std::string ended = ".tolv-backup-2147483645-ab12";
  const std::string running = ".tolv-backup-" + std::to_string(CurrentProcessId()) + "-cd34";
  for (const std::string& name : {ended, running, std::string(".tolv-backup-other")}) {
    fs::create_directories(dir.File(name));
    test::WriteBytes(dir.File(name + "/loader.bin"), {1});
  }
  const std::vector<std::string> removed = Backup_RemoveLeftovers(dir.path() + "/");
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(fs::path(removed[0]).filename().string(), ended);
  std::vector<std::string> left = Entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{running, ".tolv-backup-other"}));
}

}  // namespace
}  // namespace tolv::cli
