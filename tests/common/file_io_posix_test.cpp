// File access: what only POSIX systems have.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace tolv
