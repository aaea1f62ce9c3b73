// tolv models end to end: the real model list, and a program that finds
// none and names where it looked.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "tolv_run.h"
#include "workspace/json_text.h"

namespace tolv {
namespace {

using test::Contains;
using test::Lines;

const char* const kPackableLine =
    "Settings can be packed (built-in model header) for SystemIDs 406, 1416, 10416, 10446, 12406, 21031.";

std::string RealPath(const std::string& path) { return std::filesystem::canonical(path).string(); }

TEST(TolvModels, ListsTheModelListWithWhatCanBePacked) {
  TOLV_SKIP_WITHOUT_SHARED_TESTDATA();
  test::TempDir work;
  std::filesystem::copy_file(*test::SharedTestdataDir() + "/Firmware.dat", work.File("Firmware.dat"));
  test::ProgramRun r = test::RunTolv("models", work.path());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  // 306 records, system ID 1505 twice: 305 rows; every packable ID is listed.
  ASSERT_EQ(lines.size(), 2u + 305u + 1u);
  EXPECT_EQ(lines[0], "Model list: " + test::NativePath(RealPath(work.path()) + "/Firmware.dat") +
                          ", 306 model records");
  EXPECT_EQ(lines[1], "SysID  Packable  Name");
  EXPECT_EQ(lines[2], "  100  no        TF3000FA");
  EXPECT_TRUE(Contains(r.out, "\n  406  yes       TF5000PVR, TF5500PVR\n"));
  EXPECT_TRUE(Contains(r.out, "\n 1505  no        TF4000Fe (GER)\n"));
  EXPECT_FALSE(Contains(r.out, "TF5000Fe (EUR)"));
  EXPECT_EQ(lines.back(), kPackableLine);

  EXPECT_EQ(Lines(test::RunTolv("models 4502", work.path()).out)[2], " 4502  no        unknown SysID=4502");
  test::ProgramRun json = test::RunTolv("models --json 21031", work.path());
  EXPECT_TRUE(json.out.ends_with(
      "\"models\":[{\"systemId\":21031,\"name\":\"TF6060CI\",\"inList\":true,\"packable\":true}]}\n"));
}

TEST(TolvModels, WithoutAModelListTheSearchedPlacesAreNamed) {
  // A copy of the program, so that no model list lies beside it.
  test::TempDir program, work, home, data;
  const std::string tolv = program.File("tolv");
  std::filesystem::copy_file(test::BuildBinDir() + "/tolv" + test::ProgramSuffix(),
                             tolv + test::ProgramSuffix());
  std::filesystem::permissions(tolv + test::ProgramSuffix(), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  // The user's and the system's data folders: the XDG variables (the user's
  // from HOME), and on Windows the application data folders set to the same.
  const std::string userData = home.path() + "/.local/share";
  const std::vector<std::string> env = {
      "HOME=" + home.path(), "XDG_DATA_HOME=", "XDG_DATA_DIRS=" + data.path(),
      "APPDATA=" + test::NativePath(userData), "PROGRAMDATA=" + data.path()};
  test::ProgramRun r = test::RunTolv("models", work.path(), env, tolv);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string inData = test::NativePath(data.path() + "/tolvpack/Firmware.dat");
  EXPECT_EQ(r.out, "No model list: Firmware.dat is in none of these places:\n  " +
                       test::NativePath(RealPath(work.path()) + "/Firmware.dat") + "\n  " +
                       test::NativePath(RealPath(program.path()) + "/Firmware.dat") + "\n  " +
                       test::NativePath(userData + "/tolvpack/Firmware.dat") + "\n  " + inData +
                       "\n"
                       "Every model name is \"unknown SysID=N\".\nSysID  Packable  Name\n"
                       "  406  yes       unknown SysID=406\n 1416  yes       unknown SysID=1416\n"
                       "10416  yes       unknown SysID=10416\n10446  yes       unknown SysID=10446\n"
                       "12406  yes       unknown SysID=12406\n21031  yes       unknown SysID=21031\n" +
                       kPackableLine + "\n");
  test::ProgramRun json = test::RunTolv("models --json 416", work.path(), env, tolv);
  EXPECT_TRUE(json.out.starts_with("{\"modelList\":null,\"searched\":[")) << json.out;
  EXPECT_TRUE(json.out.ends_with(JsonString(inData) +
                                 "],\"models\":[{\"systemId\":416,\"name\":\"unknown SysID=416\","
                                 "\"inList\":false,\"packable\":false}]}\n"))
      << json.out;

  for (const char* args : {"models 0", "models four", "models 70000", "models 406 416", "models --bogus"})
    EXPECT_EQ(test::RunTolv(args, work.path(), env, tolv).status, 2) << args;
}

}  // namespace
}  // namespace tolv
