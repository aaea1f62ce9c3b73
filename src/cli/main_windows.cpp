// tolv on Windows: the arguments as the system has them (UTF-16) in UTF-8,
// and UTF-8 output, so file names in any script work.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/command_table.h"
#include "common/windows_text.h"

int main() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(tolv::WideToUtf8(wide[i]));
  if (wide) LocalFree(wide);
  // Lines end in "\n" alone, as on every other system; the console shows
  // the UTF-8 text as such.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const UINT previousCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const int status = tolv::cli::Run(args);
  std::fflush(stdout);
  std::fflush(stderr);
  if (previousCodePage) SetConsoleOutputCP(previousCodePage);
  return status;
}
