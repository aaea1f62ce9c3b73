// Releasing the held serial ports on a hard stop, POSIX systems.

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "link/hard_stop.h"
#include "link/held_ports_posix.h"

namespace tolv {
namespace {

constexpr int kFree = -1;

// The held descriptors; kFree marks an empty slot. Lock-free atomics, so
// that a signal handler may take a slot at any moment.
std::atomic<int> gHeld[kMaxHeldPorts] = {kFree, kFree, kFree, kFree, kFree, kFree, kFree, kFree};
static_assert(std::atomic<int>::is_always_lock_free);

// The signals whose default action ends the program and that a handler can
// catch. SIGKILL and SIGSTOP cannot be caught: after SIGKILL a
// pseudo-terminal keeps its mark.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGPIPE, SIGALRM, SIGUSR1,
                                  SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT, SIGSEGV,
                                  SIGBUS,  SIGFPE,  SIGILL,  SIGTRAP,   SIGSYS};

extern "C" void OnEndingSignal(int signal) {
  // The handler was installed with SA_RESETHAND: the signal's default action
  // is back, and the signal raised here is delivered with it once the handler
  // returns (it stays blocked until then). A crash signal raised by a faulting
  // instruction ends the program the same way when it is repeated.
  const int savedErrno = errno;
  Link_ReleaseHeldPorts();
  raise(signal);
  errno = savedErrno;
}

}  // namespace

bool HeldPorts_Add(int fd) {
  for (std::atomic<int>& slot : gHeld) {
    int expected = kFree;
    if (slot.compare_exchange_strong(expected, fd)) return true;
  }
  return false;
}

void HeldPorts_Remove(int fd) {
  for (std::atomic<int>& slot : gHeld) {
    int expected = fd;
    if (slot.compare_exchange_strong(expected, kFree)) return;
  }
}

void Link_ReleaseHeldPorts() {
  for (std::atomic<int>& slot : gHeld) {
    // Whoever empties the slot releases the port: never twice, and never a
    // descriptor number the link has already given back.
    const int fd = slot.exchange(kFree);
    if (fd == kFree) continue;
    ioctl(fd, TIOCNXCL);
    close(fd);
  }
}

void Link_ReleasePortsOnHardStop() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  for (const int signal : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) continue;
    const bool defaultAction = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
    if (!defaultAction) continue;  // ignored, or handled by the program itself
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace tolv
