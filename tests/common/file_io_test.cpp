#include "common/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace tolv {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class FileIoTest : public ::testing::Test {
 protected:
  void TearDown() override { tolv::testing::FailWritesAfter(std::nullopt); }
  TempDir dir_;
};

TEST_F(FileIoTest, SaveWritesAllPartsInOrderAndReadsBack) {
  std::vector<uint8_t> a = test::RandomBytes(1, 1000), b = test::RandomBytes(2, 77);
  std::string path = dir_.File("out.bin");
  SaveFileAtomically(path, {a, b, ByteView()});
  std::vector<uint8_t> expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(ReadBytes(path), expected);
  EXPECT_EQ(ReadFileBytes(path), expected);
  EXPECT_EQ(FileSizeOf(path), 1077u);
  EXPECT_EQ(ReadFileRange(path, 1000, 77), b);
}

TEST_F(FileIoTest, WriteFailingPartWayKeepsThePreviousFileAndLeavesNoTemporary) {
  std::string path = dir_.File("keep.std");
  std::vector<uint8_t> previous = test::RandomBytes(3, 5000);
  WriteBytes(path, previous);
  for (uint64_t failAfter : {0u, 1u, 4096u, 9999u}) {
    tolv::testing::FailWritesAfter(failAfter);
    EXPECT_THROW(SaveFileAtomically(path, test::RandomBytes(4, 10000)), FileError);
    tolv::testing::FailWritesAfter(std::nullopt);
    EXPECT_EQ(ReadBytes(path), previous) << "fail after " << failAfter;
  }
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

size_t EntriesIn(const std::string& dir) {
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  return entries;
}

TEST_F(FileIoTest, SeveralFilesAreSavedAllOrNone) {
  const std::string a = dir_.File("a [01].bin"), b = dir_.File("a [02].bin");
  WriteBytes(a, {1});
  WriteBytes(b, {2});
  const std::vector<uint8_t> newA = test::RandomBytes(5, 3000), newB = test::RandomBytes(6, 3000);
  // The second file fails while the first is already complete.
  tolv::testing::FailWritesAfter(4000);
  EXPECT_THROW(SaveFilesAtomically({{a, {newA}}, {b, {newB}}}), FileError);
  tolv::testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(ReadBytes(a), std::vector<uint8_t>{1});
  EXPECT_EQ(ReadBytes(b), std::vector<uint8_t>{2});
  EXPECT_EQ(EntriesIn(dir_.path()), 2u);
  SaveFilesAtomically({{a, {newA}}, {b, {newB}}});
  EXPECT_EQ(ReadBytes(a), newA);
  EXPECT_EQ(ReadBytes(b), newB);
}

// The hidden files a save leaves beside its targets: none, ever.
size_t HiddenFilesIn(const std::string& dir) {
  size_t count = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir))
    count += entry.path().filename().string().starts_with(".tolv-");
  return count;
}

class SaveSeveralTest : public FileIoTest {
 protected:
  void SetUp() override {
    WriteBytes(a, {1});
    WriteBytes(c, {3});
  }
  void TearDown() override {
    tolv::testing::FailReplacingAfter(std::nullopt);
    tolv::testing::OnSaveProgress({});
    Saves_ResetCancel();
    FileIoTest::TearDown();
  }
  std::vector<FileToSave> Files() const { return {{a, {newA}}, {b, {newB}}, {c, {newC}}}; }
  // a and c as they were, b (new) absent, nothing hidden left.
  void ExpectUntouched() const {
    EXPECT_EQ(ReadBytes(a), std::vector<uint8_t>{1});
    EXPECT_FALSE(test::Exists(b));
    EXPECT_EQ(ReadBytes(c), std::vector<uint8_t>{3});
    EXPECT_EQ(HiddenFilesIn(dir_.path()), 0u);
  }
  const std::string a = dir_.File("loader.bin"), b = dir_.File("firmware.bin"), c = dir_.File("eeprom.bin");
  const std::vector<uint8_t> newA = test::RandomBytes(7, 5000), newB = test::RandomBytes(8, 3000),
                             newC = test::RandomBytes(9, 256);
};

TEST_F(SaveSeveralTest, AFailureWhileReplacingGivesEveryFileBack) {
  for (int replaced : {0, 1, 2}) {
    tolv::testing::FailReplacingAfter(replaced);
    EXPECT_THROW(SaveFilesAtomically(Files()), FileError) << replaced;
    ExpectUntouched();
  }
  tolv::testing::FailReplacingAfter(std::nullopt);
  SaveFilesAtomically(Files());
  EXPECT_EQ(ReadBytes(a), newA);
  EXPECT_EQ(ReadBytes(b), newB);
  EXPECT_EQ(HiddenFilesIn(dir_.path()), 0u);
}

TEST_F(SaveSeveralTest, TwoNamesOfOneFileAreRefused) {
  const std::string again = dir_.path() + "/./" + "loader.bin";
  EXPECT_EQ(FileIdentity(a), FileIdentity(again));
  EXPECT_NE(FileIdentity(a), FileIdentity(c));
  EXPECT_EQ(FileIdentity(dir_.File("new/x.bin")), FileIdentity(dir_.path() + "/new//x.bin"));
  EXPECT_THROW(SaveFilesAtomically({{a, {newA}}, {again, {newC}}}), FileError);
  ExpectUntouched();
}

// A cancel while the files are written discards them all; one that comes
// while they are put in place lets the save finish.
TEST_F(SaveSeveralTest, ACancelDiscardsASaveUnlessItIsReplacingFiles) {
  size_t hiddenAfterCancel = 99;
  tolv::testing::OnSaveProgress([&](const char* stage, const std::string& path) {
    if (std::string(stage) != "written" || path != b) return;
    EXPECT_TRUE(Saves_Cancel());
    // Removed at once; only the folder's lock file (Windows) stays until the save ends.
    hiddenAfterCancel =
        HiddenFilesIn(dir_.path()) - (std::filesystem::exists(dir_.File(".tolv-lock")) ? 1 : 0);
  });
  try {
    SaveFilesAtomically(Files());
    FAIL();
  } catch (const SaveCanceled& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cancelled: \"" + a + "\" and the 2 other files saved with it were not written.");
  }
  EXPECT_EQ(hiddenAfterCancel, 0u);
  ExpectUntouched();
  EXPECT_THROW(SaveFileAtomically(a, ByteView(newA)), SaveCanceled);  // until reset
  Saves_ResetCancel();

  tolv::testing::OnSaveProgress([&](const char* stage, const std::string&) {
    if (std::string(stage) == "replaced") {
      EXPECT_FALSE(Saves_Cancel());
    }
  });
  SaveFilesAtomically(Files());
  EXPECT_EQ(ReadBytes(c), newC);
  EXPECT_TRUE(Saves_CancelRequested());
  EXPECT_EQ(HiddenFilesIn(dir_.path()), 0u);
}

TEST_F(FileIoTest, FailuresAreFileErrorsWithTheFileName) {
  std::string missing = dir_.File("missing.bin");
  try {
    ReadFileBytes(missing);
    FAIL();
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.bin"), std::string::npos);
  }
  EXPECT_THROW(FileSizeOf(missing), FileError);
  WriteBytes(dir_.File("short.bin"), {1, 2, 3});
  EXPECT_THROW(ReadFileRange(dir_.File("short.bin"), 0, 4), FileError);
  EXPECT_THROW(SaveFileAtomically(dir_.File("no/such/dir/x.bin"), std::vector<uint8_t>{1}), FileError);
  EXPECT_THROW(ReadFileBytes(dir_.path()), FileError);
  EXPECT_FALSE(FileExists(missing));
  EXPECT_FALSE(FileExists(dir_.path()));
}

TEST(DirectoryOfTest, KeepsTheLastSeparator) {
  EXPECT_EQ(DirectoryOf("/tmp/a/b.std"), "/tmp/a/");
  EXPECT_EQ(DirectoryOf("C:\\dumps\\box.std"), "C:\\dumps\\");
  EXPECT_EQ(DirectoryOf("C:box"), "C:");
  EXPECT_EQ(DirectoryOf("TolvPack.log"), "");
}

}  // namespace
}  // namespace tolv
