// The built tolv program with what only POSIX systems have: symbolic links
// followed by a save.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tolv
