// Operating-system services on Windows.
#include "common/platform.h"

#include <cwchar>

#include "common/windows_text.h"

namespace tolv {

std::tm LocalTimeOf(std::time_t moment) {
  std::tm local{};
  localtime_s(&local, &moment);
  return local;
}

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
  return _wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}

}  // namespace tolv
