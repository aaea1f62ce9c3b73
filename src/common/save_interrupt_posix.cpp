// Ctrl-C, SIGTERM and SIGHUP while files are saved, on POSIX systems.
#include <signal.h>

#include <cerrno>

#include "common/file_io.h"
#include "common/save_interrupt.h"
#include "common/save_platform.h"

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

namespace {

struct sigaction g_beforeCleanUp[kStopSignalCount];

// Temporaries gone (Saves_Cancel), the action there was before takes the
// signal, raised again: it is delivered to it once this handler returns.
// While a save replaces files, the signal waits for its end.
extern "C" void OnEndRequest(int signalNumber) {
  const int savedErrno = errno;
  if (!Saves_Cancel()) {
    save_detail::RaiseAfterReplacing(signalNumber);
  } else {
    for (int i = 0; i < kStopSignalCount; ++i)
      if (kStopSignals[i] == signalNumber) sigaction(signalNumber, &g_beforeCleanUp[i], nullptr);
    raise(signalNumber);
  }
  errno = savedErrno;
}

}  // namespace

void Saves_CleanUpBeforeEnding() {
  struct sigaction action {};
  action.sa_handler = OnEndRequest;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kStopSignals) sigaddset(&action.sa_mask, signalNumber);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < kStopSignalCount; ++i) {
    sigaction(kStopSignals[i], nullptr, &g_beforeCleanUp[i]);
    if (g_beforeCleanUp[i].sa_handler == SIG_IGN) continue;  // ignored stays ignored
    sigaction(kStopSignals[i], &action, nullptr);
  }
}

}  // namespace tolv
