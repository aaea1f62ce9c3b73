// Operating-system services on POSIX systems.
#include "common/platform.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace tolv {

std::tm LocalTimeOf(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

long CurrentProcessId() { return static_cast<long>(::getpid()); }

bool ProcessIsRunning(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace tolv
