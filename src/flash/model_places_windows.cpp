// Where the model description file is looked for on Windows: beside the
// program, and in the application data folders of the user and of the
// machine, which the environment names.
#include <windows.h>

#include <cctype>

#include "common/windows_text.h"
#include "flash/model_list.h"

namespace tolv {
namespace {

constexpr const char* kModelFileName = "Firmware.dat";
constexpr const char* kDataSubfolder = "tolvpack\\";

// The value of the environment variable name, empty when it is unset.
std::string EnvironmentText(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  return WideToUtf8(value);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\..." or a network path "\\server\share\...": a folder that does not
// depend on the current drive and folder.
bool IsAbsolute(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      IsSeparator(path[2]))
    return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// DIR\tolvpack\Firmware.dat, or nothing when the variable does not name an
// absolute folder.
void AddDataFolder(std::vector<std::string>& paths, const wchar_t* variable) {
  std::string dir = EnvironmentText(variable);
  if (!IsAbsolute(dir)) return;
  while (!dir.empty() && IsSeparator(dir.back())) dir.pop_back();
  paths.push_back(dir + "\\" + kDataSubfolder + kModelFileName);
}

}  // namespace

std::vector<std::string> ModelList_SearchPath() {
  // The current folder first, then beside the program.
  std::vector<std::string> paths = {kModelFileName};
  const std::string programDirectory = ModelList_ProgramDirectory();
  if (!programDirectory.empty()) paths.push_back(programDirectory + kModelFileName);
  // The user's application data, then the machine's.
  AddDataFolder(paths, L"APPDATA");
  AddDataFolder(paths, L"PROGRAMDATA");
  return paths;
}

}  // namespace tolv
