// Where the model list is looked for on Windows: the application data
// folders named by the environment, when they are absolute paths.
#include <gtest/gtest.h>

#include "flash/model_list.h"
#include "test_support.h"

namespace tolv {
namespace {

TEST(ModelPlacesWindows, ApplicationDataFoldersThatAreAbsolute) {
  testing::ModelList_OverrideProgramDirectory("C:\\Program Files\\TolvPack\\");
  {
    const test::ScopedEnvironment appData("APPDATA", "C:\\Users\\u\\AppData\\Roaming\\");
    const test::ScopedEnvironment programData("PROGRAMDATA", "\\\\server\\share");
    EXPECT_EQ(ModelList_SearchPath(),
              (std::vector<std::string>{"Firmware.dat", "C:\\Program Files\\TolvPack\\Firmware.dat",
                                        "C:\\Users\\u\\AppData\\Roaming\\tolvpack\\Firmware.dat",
                                        "\\\\server\\share\\tolvpack\\Firmware.dat"}));
  }
  {
    // Relative to the current drive or folder, or unset: left out.
    const test::ScopedEnvironment appData("APPDATA", "\\Users\\u");
    const test::ScopedEnvironment programData("PROGRAMDATA", "");
    EXPECT_EQ(ModelList_SearchPath(),
              (std::vector<std::string>{"Firmware.dat", "C:\\Program Files\\TolvPack\\Firmware.dat"}));
  }
  testing::ModelList_OverrideProgramDirectory(std::nullopt);
}

}  // namespace
}  // namespace tolv
