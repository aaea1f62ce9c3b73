// Ctrl-C, Ctrl-Break and closing the console while files are saved, on
// Windows. The system calls the handler on a thread of its own.
#include <windows.h>

#include <atomic>

#include "common/file_io.h"
#include "common/save_interrupt.h"

namespace tolv {
namespace {

int g_depth = 0;
std::atomic<int> g_requests{0};

// TRUE: handled here, the program goes on. FALSE: the system's own handler
// runs next and ends the program; a temporary file still open then goes with
// it, since Saves_Cancel has marked it for deletion.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      const bool first = g_requests.fetch_add(1) == 0;
      const bool noneReplacing = Saves_Cancel();
      return first || !noneReplacing ? TRUE : FALSE;
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The program ends after this returns: a save replacing files first
      // finishes (a few renames; the system allows some seconds).
      g_requests.fetch_add(1);
      while (!Saves_Cancel()) Sleep(5);
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

SaveInterruptGuard::SaveInterruptGuard() {
  if (g_depth++ > 0) return;
  Saves_ResetCancel();
  g_requests = 0;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SaveInterruptGuard::~SaveInterruptGuard() {
  if (--g_depth > 0) return;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  Saves_ResetCancel();
}

bool SaveInterruptGuard::Requested() { return Saves_CancelRequested(); }

void Saves_CleanUpBeforeEnding() {}

}  // namespace tolv
