// Programs started by a test (fork and exec): StartProgram, which every test
// that runs a program goes through, and ChildProcess, a program run in the
// background whose standard output is read line by line and which is ended
// (SIGTERM, then SIGKILL) and waited for when the object goes. POSIX only.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tolv::test {

// How StartProgram sets up the child. A descriptor of -1 leaves the stream
// this process's; the caller closes its descriptors after the start (open
// them close-on-exec, so that the child keeps only its three).
struct ChildSetup {
  std::string cwd;                       // "" for this process's
  std::vector<std::string> environment;  // "NAME=value" entries on top of this process's
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts program (a path) with args. Returns its process ID, or -1 when it
// could not be started; a child that cannot change folder or exec ends with
// status 127.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const ChildSetup& setup = {});

// The exit status of a process that ended (waitpid's status): its exit code,
// or -signal when a signal ended it.
int ExitStatusOf(int waitStatus);

class ChildProcess {
 public:
  // Starts program with args; stderr is appended to stderrPath.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& stderrPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of its standard output, waiting at most timeoutMs.
  std::optional<std::string> ReadLine(int timeoutMs);
  void Signal(int signal);
  // Waits at most timeoutMs for the program to end; its exit status, or
  // nothing when it is still running (or was ended by a signal: -signal).
  std::optional<int> Wait(int timeoutMs);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

}  // namespace tolv::test
