// File access: what only POSIX systems have.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>

#include "common/file_io.h"
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

}  // namespace
}  // namespace tolv
