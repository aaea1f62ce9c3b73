// No model list for the length of a scope: the model names of a test must
// not depend on a Firmware.dat that another test left beside the program or
// that the machine has installed.
#pragma once

#include "flash/model_list.h"
#include "test_support.h"

namespace tolv::test {

class NoModelList {
 public:
  NoModelList() {
    tolv::testing::ModelList_Unload();
    tolv::testing::ModelList_OverrideProgramDirectory(empty_.path() + "/");
  }
  ~NoModelList() {
    tolv::testing::ModelList_Unload();
    tolv::testing::ModelList_OverrideProgramDirectory(std::nullopt);
  }
  NoModelList(const NoModelList&) = delete;
  NoModelList& operator=(const NoModelList&) = delete;

 private:
  TempDir empty_;
  ScopedCurrentDir here_{empty_.path()};
  ScopedEnvironment dataHome_{"XDG_DATA_HOME", empty_.path()};
  ScopedEnvironment dataDirs_{"XDG_DATA_DIRS", empty_.path()};
  ScopedEnvironment appData_{"APPDATA", empty_.path()};
  ScopedEnvironment programData_{"PROGRAMDATA", empty_.path()};
};

}  // namespace tolv::test
