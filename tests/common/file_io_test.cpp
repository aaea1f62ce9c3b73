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
