#include "flash/model_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "flash_test_util.h"
#include "test_support.h"

namespace tolv {
namespace {

struct Record {
  uint16_t systemId;
  std::string name;  // written without terminator when it fills all 256 bytes
};

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A model description file: 20-byte header with the two counts, the model
// records, and the second table's records (filled with 0xEE).
std::vector<uint8_t> ModelFile(const std::vector<Record>& records, uint32_t secondCount = 2,
                               std::optional<uint32_t> claimedModels = std::nullopt) {
  std::vector<uint8_t> bytes(20 + records.size() * 348 + secondCount * 72, 0xEE);
  Put32(bytes, 0, 0x12345678);
  Put32(bytes, 12, claimedModels.value_or(static_cast<uint32_t>(records.size())));
  Put32(bytes, 16, secondCount);
  for (size_t i = 0; i < records.size(); ++i) {
    uint8_t* record = bytes.data() + 20 + i * 348;
    record[0] = static_cast<uint8_t>(records[i].systemId >> 8);
    record[1] = static_cast<uint8_t>(records[i].systemId);
    std::memset(record + 4, ' ', 256);  // padding after the terminator, as real files have
    std::memcpy(record + 4, records[i].name.data(), std::min<size_t>(records[i].name.size(), 256));
    if (records[i].name.size() < 256) record[4 + records[i].name.size()] = 0x00;
  }
  return bytes;
}

TEST(ModelListParse, FindsFirstRecordAndCutsLongNames) {
  const std::string longName(256, 'x');
  const std::string name150 = std::string(150, 'n');
  const ModelList list = ModelList::Parse(ModelFile(
      {{406, "TF5000PVR"}, {1505, "first"}, {1505, "second"}, {7, longName}, {8, name150}, {9, ""}}));
  EXPECT_EQ(list.size(), 6u);
  EXPECT_EQ(list.Find(406), "TF5000PVR");
  EXPECT_EQ(list.Find(1505), "first");
  EXPECT_EQ(list.Find(7), std::string(100, 'x'));  // 256 bytes without terminator, cut to 100
  EXPECT_EQ(list.Find(8), std::string(100, 'n'));
  EXPECT_EQ(list.Find(9), "");
  EXPECT_EQ(list.Find(416), std::nullopt);
}

TEST(ModelListParse, ShortAndEmptyFiles) {
  EXPECT_EQ(ModelList::Parse({}).size(), 0u);
  EXPECT_EQ(ModelList::Parse(std::vector<uint8_t>(19, 0xFF)).size(), 0u);
  EXPECT_EQ(ModelList::Parse(ModelFile({}, 0)).size(), 0u);  // N1 = 0
  EXPECT_EQ(ModelList::Parse(ModelFile({}, 3)).Find(0), std::nullopt);

  // Counts that claim more than the file holds: whole records only.
  std::vector<uint8_t> file = ModelFile({{1, "one"}, {2, "two"}, {3, "three"}}, 0, 1000000);
  EXPECT_EQ(ModelList::Parse(file).size(), 3u);
  file.resize(20 + 2 * 348 + 347);  // the third record is one byte short
  const ModelList cut = ModelList::Parse(file);
  EXPECT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut.Find(2), "two");
  EXPECT_EQ(cut.Find(3), std::nullopt);
  EXPECT_EQ(ModelList::Parse(ModelFile({{1, "a"}}, 0, 0xFFFFFFFF)).size(), 1u);
}

TEST(ModelListSearchPath, OrderAndXdgDefaults) {
  ModelSearchSettings all{"/opt/tolv/bin/", "/home/u/data/", "/home/u", "/a:/b/:relative::/c"};
  EXPECT_EQ(ModelList_SearchPath(all),
            (std::vector<std::string>{"Firmware.dat", "/opt/tolv/bin/Firmware.dat",
                                      "/home/u/data/tolvpack/Firmware.dat", "/a/tolvpack/Firmware.dat",
                                      "/b/tolvpack/Firmware.dat", "/c/tolvpack/Firmware.dat"}));

  // Unset (or relative) XDG_DATA_HOME: under HOME; unset XDG_DATA_DIRS: the
  // standard pair; an unknown program directory is left out.
  const std::vector<std::string> defaults = {"Firmware.dat", "/home/u/.local/share/tolvpack/Firmware.dat",
                                             "/usr/local/share/tolvpack/Firmware.dat",
                                             "/usr/share/tolvpack/Firmware.dat"};
  EXPECT_EQ(ModelList_SearchPath({"", "", "/home/u", ""}), defaults);
  EXPECT_EQ(ModelList_SearchPath({"", "data", "/home/u/", ""}), defaults);

  // Without a usable HOME there is no user directory; "/" is a directory too.
  EXPECT_EQ(ModelList_SearchPath({"", "", "", "/"}),
            (std::vector<std::string>{"Firmware.dat", "/tolvpack/Firmware.dat"}));
  EXPECT_EQ(ModelList_SearchPath({"", "", "~", "relative"}), std::vector<std::string>{"Firmware.dat"});
}

// Tests of the process's list work in a directory of their own.
// The program's own directory and the data directories are replaced by
// temporary directories, so that a model file beside the test executable or
// installed on the machine cannot interfere: the XDG variables on POSIX
// systems, the application data folders on Windows (each platform ignores
// the other's).
class ModelListLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ModelList_Unload();
    testing::ModelList_OverrideProgramDirectory(programDir_.path() + "/");
  }
  void TearDown() override {
    testing::ModelList_Unload();
    testing::ModelList_OverrideProgramDirectory(std::nullopt);
  }
  test::TempDir dir_;
  test::TempDir programDir_;
  test::TempDir dataHome_;
  test::TempDir dataDir1_;
  test::TempDir dataDir2_;
  test::ScopedEnvironment xdgDataHome_{"XDG_DATA_HOME", dataHome_.path()};
  test::ScopedEnvironment xdgDataDirs_{"XDG_DATA_DIRS", dataDir1_.path() + ":" + dataDir2_.path()};
  test::ScopedEnvironment appData_{"APPDATA", dataHome_.path()};
  test::ScopedEnvironment programData_{"PROGRAMDATA", dataDir1_.path()};
  test::ScopedCurrentDir inDir_{dir_.path()};
};

TEST_F(ModelListLoad, WithoutFileEveryIdIsUnknownAndTheSearchIsRepeated) {
  EXPECT_EQ(ModelList_Lookup(416), "unknown SysID=416");
  EXPECT_STREQ(Model_GetName(0), "unknown SysID=0");
  EXPECT_STREQ(Model_GetName(65942), "unknown SysID=406");
  EXPECT_STREQ(Model_GetName(-1), "unknown SysID=65535");

  // A file that appears later is found by the next lookup.
  test::WriteBytes(dir_.File("Firmware.dat"), ModelFile({{406, "TF5000PVR"}}));
  EXPECT_STREQ(Model_GetName(406), "TF5000PVR");
  EXPECT_STREQ(Model_GetName(65942), "TF5000PVR");  // low 16 bits
  EXPECT_STREQ(Model_GetName(407), "unknown SysID=407");

  // Once loaded, the file is not read again.
  test::WriteBytes(dir_.File("Firmware.dat"), ModelFile({{406, "changed"}}));
  EXPECT_EQ(ModelList_Lookup(406), "TF5000PVR");
}

TEST_F(ModelListLoad, CurrentDirectoryFirstThenProgramDirectory) {
  test::WriteBytes(programDir_.File("Firmware.dat"), ModelFile({{406, "beside the program"}}));
  EXPECT_EQ(ModelList_Lookup(406), "beside the program");

  testing::ModelList_Unload();
  test::WriteBytes(dir_.File("Firmware.dat"), ModelFile({{406, "current directory"}}));
  EXPECT_EQ(ModelList_Lookup(406), "current directory");
}

TEST_F(ModelListLoad, EveryPlaceInOrderAndTheFileUsedIsKnown) {
  // The places come from the environment: the user's data directory, then
  // the system's (two of them on POSIX systems, one on Windows).
  const std::vector<std::string> places = ModelList_SearchPath();
  ASSERT_GE(places.size(), 4u);
  EXPECT_EQ(places[0], "Firmware.dat");
  EXPECT_EQ(places[1], programDir_.path() + "/Firmware.dat");
  const std::vector<std::string> folders = {dataHome_.path(), dataDir1_.path(), dataDir2_.path()};
  ASSERT_LE(places.size(), 2 + folders.size());
  for (size_t i = 2; i < places.size(); ++i)
    EXPECT_EQ(places[i], folders[i - 2] + test::NativePath("/tolvpack/Firmware.dat"));
  // One file in each place, each naming its place; the search must take
  // them in this order.
  for (size_t i = 0; i < places.size(); ++i) {
    const std::string path = i == 0 ? dir_.File("Firmware.dat") : places[i];
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test::WriteBytes(path, ModelFile({{406, "place " + std::to_string(i)}}));
  }
  EXPECT_EQ(ModelList_LoadedFile(), std::nullopt);
  for (size_t i = 0; i < places.size(); ++i) {
    EXPECT_EQ(ModelList_Lookup(406), "place " + std::to_string(i));
    EXPECT_EQ(ModelList_LoadedFile(), places[i]);
    std::filesystem::remove(i == 0 ? dir_.File("Firmware.dat") : places[i]);
    testing::ModelList_Unload();
  }
  EXPECT_EQ(ModelList_Lookup(406), "unknown SysID=406");
  EXPECT_EQ(ModelList_LoadedFile(), std::nullopt);
}

TEST_F(ModelListLoad, SharedTextHoldsAtMostOneHundredCharacters) {
  test::WriteBytes(dir_.File("Firmware.dat"), ModelFile({{5, std::string(256, 'L')}}));
  const char* text = Model_GetName(5);
  EXPECT_EQ(text, Model_NameText());
  EXPECT_EQ(std::string(text), std::string(100, 'L'));
  Model_SetNameText(std::string(300, 'q'));
  EXPECT_EQ(std::string(Model_NameText()), std::string(100, 'q'));
  Model_SetNameText("short");
  EXPECT_STREQ(Model_NameText(), "short");
  EXPECT_STREQ(Model_GetName(6), "unknown SysID=6");
  EXPECT_STREQ(text, "unknown SysID=6");  // the same buffer, overwritten
}

TEST_F(ModelListLoad, AnUnreadableFileIsAFileErrorAndLeavesTheListUnloaded) {
  const std::string path = dir_.File("Firmware.dat");
  test::WriteBytes(path, ModelFile({{1, "after"}}));
  {
    test::UnreadableFile unreadable(path);
    if (!unreadable.active()) GTEST_SKIP() << "no unreadable file can be made here";
    EXPECT_THROW(ModelList_Load(), FileError);
    // A display that must go on gets the unknown name and the error's text.
    std::string error;
    EXPECT_STREQ(Model_GetNameOrUnknown(406, error), "unknown SysID=406");
    EXPECT_NE(error.find("Firmware.dat"), std::string::npos) << error;
  }
  // Once the file can be read, it is loaded.
  std::string error;
  EXPECT_STREQ(Model_GetNameOrUnknown(1, error), "after");
  EXPECT_EQ(error, "");
}

TEST_F(ModelListLoad, RealModelFile) {
  TOLV_SKIP_WITHOUT_SHARED_TESTDATA();
  const std::vector<uint8_t> bytes = test::ReadBytes(*test::SharedTestdataDir() + "/Firmware.dat");
  const ModelList list = ModelList::Parse(bytes);
  EXPECT_EQ(list.size(), 306u);
  EXPECT_EQ(list.Find(1505), "TF4000Fe (GER)");
  EXPECT_EQ(list.Find(406), "TF5000PVR, TF5500PVR");

  test::WriteBytes(dir_.File("Firmware.dat"), bytes);
  EXPECT_STREQ(Model_GetName(1505), "TF4000Fe (GER)");
  EXPECT_STREQ(Model_GetName(21031), "TF6060CI");
  EXPECT_STREQ(Model_GetName(65535), "unknown SysID=65535");
}

}  // namespace
}  // namespace tolv
