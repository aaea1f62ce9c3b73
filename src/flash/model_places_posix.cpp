// Where the model description file is looked for on POSIX systems: the XDG
// base directory variables of the environment.
#include <cstdlib>

#include "flash/model_list.h"

namespace tolv {
namespace {

const char* EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::vector<std::string> ModelList_SearchPath() {
  ModelSearchSettings settings;
  settings.programDirectory = ModelList_ProgramDirectory();
  settings.dataHome = EnvironmentText("XDG_DATA_HOME");
  settings.home = EnvironmentText("HOME");
  settings.dataDirs = EnvironmentText("XDG_DATA_DIRS");
  return ModelList_SearchPath(settings);
}

}  // namespace tolv
