// Operating-system services on Windows.
#include "common/platform.h"

#include <windows.h>

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

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessIsRunning(long pid) {
  if (pid <= 0) return false;
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

}  // namespace tolv
