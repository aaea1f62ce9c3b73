// Operating-system services on POSIX systems.
#include "common/platform.h"

#include <time.h>

namespace tolv {

std::tm LocalTimeOf(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace tolv
