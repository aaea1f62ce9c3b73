// Ctrl-C, SIGTERM and SIGHUP while files are saved, on POSIX systems.
#include <signal.h>

#include <cerrno>

#include "common/file_io.h"
#include "common/save_interrupt.h"

namespace tolv {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

int g_depth = 0;
struct sigaction g_previous[kStopSignalCount];
volatile sig_atomic_t g_requests = 0;

// The first request cancels; a later one ends the program by the signal's
// own default action once no save is replacing files.
extern "C" void OnStopRequest(int signalNumber) {
  const int savedErrno = errno;
  g_requests = g_requests + 1;
  const bool noneReplacing = Saves_Cancel();
  if (g_requests > 1 && noneReplacing) {
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered as soon as this handler returns
  }
  errno = savedErrno;
}

}  // namespace

SaveInterruptGuard::SaveInterruptGuard() {
  if (g_depth++ > 0) return;
  Saves_ResetCancel();
  g_requests = 0;
  struct sigaction action {};
  action.sa_handler = OnStopRequest;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kStopSignals) sigaddset(&action.sa_mask, signalNumber);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
}

SaveInterruptGuard::~SaveInterruptGuard() {
  if (--g_depth > 0) return;
  for (int i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
  Saves_ResetCancel();
}

bool SaveInterruptGuard::Requested() { return Saves_CancelRequested(); }

}  // namespace tolv
