// A program run in the background by a test: its standard output is read
// line by line, its standard error goes to a file; it is ended (SIGTERM, then
// SIGKILL) and waited for when the object goes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tolv::test {

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
