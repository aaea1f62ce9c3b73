// toppy-sim --usb on Linux: the receiver on an umockdev bus, the command run
// with the umockdev preload library.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "usb_session.h"
#include "usb_umockdev_linux.h"

namespace tolv::sim {
namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// The testbed's own uevents are sent through libudev, which must see the
// testbed as the command does: toppy-sim runs under the umockdev preload
// library too. Without it, toppy-sim starts itself again with it (before any
// thread is started).
void RunUnderPreload() {
  constexpr const char* kTried = "TOPPY_SIM_PRELOADED";
  if (dlopen(kPreloadLibrary, RTLD_LAZY | RTLD_NOLOAD)) {
    unsetenv(kTried);
    return;
  }
  if (std::getenv(kTried))
    throw std::runtime_error(std::string("the umockdev preload library ") + kPreloadLibrary +
                             " cannot be loaded (Debian package umockdev)");
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  for (std::string arg; std::getline(cmdline, arg, '\0');) args.push_back(arg);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const char* preload = std::getenv("LD_PRELOAD");
  const std::string libraries =
      std::string(kPreloadLibrary) + (preload && *preload ? std::string(":") + preload : "");
  setenv("LD_PRELOAD", libraries.c_str(), 1);
  setenv(kTried, "1", 1);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions =
      (asan && *asan ? std::string(asan) + ":" : std::string()) + "verify_asan_link_order=0";
  setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  execv("/proc/self/exe", argv.data());
  throw std::runtime_error(std::string("cannot start under the umockdev preload library: ") +
                           std::strerror(errno));
}

// Starts command with env added to this process's environment; its id.
pid_t StartCommand(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("cannot start the command: ") + std::strerror(errno));
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "toppy-sim: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  return pid;
}

// Waits for the command to end; passes a stop signal other than SIGINT on to
// it once. Its exit status (128 + signal when a signal ended it).
int WaitForCommand(pid_t pid, const volatile sig_atomic_t& stopSignal) {
  bool passedOn = false;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid && WIFEXITED(status)) return WEXITSTATUS(status);
    // Said, so that a status of 130 from a command that took a Ctrl-C and
    // ended by itself is not taken for one killed by the signal.
    if (done == pid) {
      std::fprintf(stderr, "toppy-sim: the command was ended by signal %d\n", WTERMSIG(status));
      return 128 + WTERMSIG(status);
    }
    if (done < 0 && errno != EINTR) return 127;
    const int signal = stopSignal;
    if (signal != 0 && signal != SIGINT && !passedOn) {
      kill(pid, signal);
      passedOn = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int RunUsbSession(const UsbSessionOptions& options, const StartReceiver& start,
                  const volatile sig_atomic_t& stopSignal) {
  if (options.command.empty()) throw std::runtime_error("--usb needs a command after --, e.g. -- tolv ports");
  RunUnderPreload();
  auto port = std::make_unique<UmockdevUsbPort>(options.device);
  UmockdevUsbPort& bus = *port;
  const std::map<std::string, std::string> env = bus.ChildEnvironment();
  start(std::move(port));
  const pid_t pid = StartCommand(options.command, env);
  bus.StartClock();
  return WaitForCommand(pid, stopSignal);
}

}  // namespace tolv::sim
