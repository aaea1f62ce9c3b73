// A program ended by a signal while it holds a serial port leaves the port
// openable: each case runs in a child process that opens the slave side of a
// pseudo-terminal through the link and then ends; the test, holding the
// master side (which keeps the terminal, and any mark on it, alive), checks
// that the port is no longer marked exclusive.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "link/hard_stop.h"
#include "link/transport.h"

namespace tolv {
namespace {

class PtyMaster {
 public:
  PtyMaster() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
  }
  ~PtyMaster() {
    if (master_ >= 0) close(master_);
  }
  const std::string& slave() const { return slave_; }

  // Whether the slave side is marked for exclusive use: a plain open fails
  // (EBUSY) for a user, or succeeds for the superuser and shows the mark.
  bool SlaveExclusive() const {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == EBUSY;
    int exclusive = 0;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    return exclusive != 0;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Runs body in a child process and returns how it ended: the exit status, or
// minus the signal that ended it.
int InChild(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};  // the crash signals leave no core file behind
    setrlimit(RLIMIT_CORE, &noCore);
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

// Opens the port through the link and ends the child with ending().
int HoldPortThen(const std::string& port, bool releaseOnHardStop, const std::function<void()>& ending) {
  return InChild([&] {
    if (releaseOnHardStop) Link_ReleasePortsOnHardStop();
    std::unique_ptr<Transport> held = Serial_Open(port, nullptr);
    if (!held) _exit(99);
    ending();
    _exit(98);  // still running: the ending did not end it
  });
}

TEST(HardStop, TheMarkOutlivesAKilledHolderUnlessItsPortIsReleased) {
  PtyMaster pty;
  ASSERT_FALSE(pty.slave().empty());
  // What happens without the release: the pseudo-terminal stays marked.
  EXPECT_EQ(-SIGTERM, HoldPortThen(pty.slave(), false, [] { raise(SIGTERM); }));
  ASSERT_TRUE(pty.SlaveExclusive()) << "the case the release is for no longer arises";
}

// True when this process gives the signal its default action (a sanitizer
// build catches the crash signals itself; the release then stays out of its
// way).
bool DefaultAction(int signal) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
}

TEST(HardStop, EveryCatchableEndingSignalReleasesThePort) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGSEGV, SIGABRT}) {
    if (!DefaultAction(signal)) continue;
    PtyMaster pty;
    ASSERT_FALSE(pty.slave().empty());
    EXPECT_EQ(-signal, HoldPortThen(pty.slave(), true, [signal] { raise(signal); })) << strsignal(signal);
    EXPECT_FALSE(pty.SlaveExclusive()) << strsignal(signal);
  }
}

TEST(HardStop, AnIgnoredSignalStaysIgnored) {
  PtyMaster pty;
  ASSERT_FALSE(pty.slave().empty());
  const int ended = InChild([&] {
    signal(SIGHUP, SIG_IGN);  // as under nohup
    Link_ReleasePortsOnHardStop();
    std::unique_ptr<Transport> held = Serial_Open(pty.slave(), nullptr);
    raise(SIGHUP);
    _exit(held ? 7 : 99);
  });
  EXPECT_EQ(7, ended);
}

TEST(HardStop, AnAbortAndAnExitWithThePortOpenReleaseIt) {
  PtyMaster aborted, exited;
  ASSERT_FALSE(aborted.slave().empty());
  EXPECT_EQ(-SIGABRT, HoldPortThen(aborted.slave(), true, [] { std::abort(); }));
  EXPECT_FALSE(aborted.SlaveExclusive());
  // exit() runs the destructors of static objects, such as the process-wide
  // link; here the port's owner is a static of the child.
  EXPECT_EQ(3, InChild([&] {
              static std::unique_ptr<Transport> held = Serial_Open(exited.slave(), nullptr);
              std::exit(held ? 3 : 99);
            }));
  EXPECT_FALSE(exited.SlaveExclusive());
}

TEST(HardStop, AReleaseAfterTheLinkClosedItsPortLeavesOtherDescriptorsAlone) {
  PtyMaster pty;
  ASSERT_FALSE(pty.slave().empty());
  Serial_Open(pty.slave(), nullptr).reset();
  // The descriptor number the port had is likely given to the next open.
  const int other = open("/dev/null", O_RDONLY);
  ASSERT_GE(other, 0);
  Link_ReleaseHeldPorts();
  EXPECT_NE(-1, fcntl(other, F_GETFD)) << "a descriptor the link had given back was closed";
  close(other);
  EXPECT_FALSE(pty.SlaveExclusive());
}

}  // namespace
}  // namespace tolv
