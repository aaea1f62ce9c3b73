// The terminal on POSIX systems: Ctrl-C (SIGINT), whether standard error is
// a terminal, the help texts as they are, the model list in the XDG folders.
#include <signal.h>
#include <unistd.h>

#include "cli/console_platform.h"
#include "cli/transfer_console.h"
#include "link/hard_stop.h"

namespace tolv::cli {
namespace {

volatile sig_atomic_t gInterrupted = 0;
// What SIGINT did before the guard took it over.
struct sigaction gOutsideGuard {};

extern "C" void OnInterrupt(int) {
  if (!gInterrupted) {
    gInterrupted = 1;
    return;
  }
  // A second Ctrl-C ends the program the ordinary way, at once, but not
  // before the serial port is released: the program cannot close it later.
  Link_ReleaseHeldPorts();
  signal(SIGINT, SIG_DFL);
  raise(SIGINT);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // as signal() sets it: system calls go on
  sigaction(SIGINT, &action, &gOutsideGuard);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &gOutsideGuard, nullptr); }

bool InterruptGuard::Requested() { return gInterrupted != 0; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string LocalHelpText(const char* help) { return help; }

const char* ModelListPlacesText() {
  return "the current folder, beside the program, in $XDG_DATA_HOME/tolvpack/\n"
         "(~/.local/share/tolvpack/) or in /usr/local/share/tolvpack/ and\n"
         "/usr/share/tolvpack/ ($XDG_DATA_DIRS)";
}

}  // namespace tolv::cli
