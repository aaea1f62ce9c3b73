// The terminal on POSIX systems: Ctrl-C (SIGINT), whether standard error is
// a terminal, the help texts as they are, the model list in the XDG folders.
#include <signal.h>
#include <unistd.h>

#include "cli/console_platform.h"
#include "cli/transfer_console.h"

namespace tolv::cli {
namespace {

volatile sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
  // A second Ctrl-C ends the program the ordinary way.
  signal(SIGINT, SIG_DFL);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  gInterrupted = 0;
  signal(SIGINT, OnInterrupt);
}

InterruptGuard::~InterruptGuard() { signal(SIGINT, SIG_DFL); }

bool InterruptGuard::Requested() { return gInterrupted != 0; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string LocalHelpText(const char* help) { return help; }

const char* ModelListPlacesText() {
  return "the current folder, beside the program, in $XDG_DATA_HOME/tolvpack/\n"
         "(~/.local/share/tolvpack/) or in /usr/local/share/tolvpack/ and\n"
         "/usr/share/tolvpack/ ($XDG_DATA_DIRS)";
}

}  // namespace tolv::cli
