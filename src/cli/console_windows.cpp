// The console on Windows: Ctrl-C and Ctrl-Break (SetConsoleCtrlHandler),
// whether standard error is a console, help texts that name COM ports and
// the application data folders of the model list.
#include <windows.h>

#include <atomic>

#include "cli/console_platform.h"
#include "cli/transfer_console.h"

namespace tolv::cli {
namespace {

// Set from the thread the system starts for the console event.
std::atomic<bool> gInterrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The first press is handled here (the transfer cancels); a second one
  // goes on to the system's handler, which ends the program.
  return gInterrupted.exchange(true) ? FALSE : TRUE;
}

// The serial port the help texts show, and what a Windows user types instead.
constexpr const char* kPosixPortExample = "/dev/ttyUSB0";
constexpr const char* kWindowsPortExample = "COM3";

}  // namespace

InterruptGuard::InterruptGuard() {
  gInterrupted = false;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptGuard::~InterruptGuard() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

bool InterruptGuard::Requested() { return gInterrupted; }

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string LocalHelpText(const char* help) {
  std::string text = help;
  const std::string from = kPosixPortExample;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
    text.replace(at, from.size(), kWindowsPortExample);
  return text;
}

const char* ModelListPlacesText() {
  return "the current folder, beside the program, in %APPDATA%\\tolvpack\\ or in\n"
         "%PROGRAMDATA%\\tolvpack\\";
}

}  // namespace tolv::cli
