// A program the soak runs (the emulator, tolv), in a process group of its
// own, so that it and whatever it starts can be signalled and ended together.
// POSIX only.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolv::soak {

// Held while a process is forked, and by whoever opens a file that must not
// leak into a child before it executes its program (a save's folder lock).
std::mutex& ForkMutex();

class SoakProcess {
 public:
  // Starts argv[0] (a path) with argv in the folder cwd, standard input from
  // /dev/null, standard error appended to errPath, standard output to a pipe
  // (read with ReadLine) when outPath is empty, else appended to outPath.
  // May be called from several threads at once. Throws std::runtime_error
  // when the process cannot be made; a program that cannot be run ends with
  // status 127.
  SoakProcess(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outPath,
              const std::string& errPath);
  // Ends the whole group (SIGKILL) if the process still runs, and reaps it.
  ~SoakProcess();
  SoakProcess(const SoakProcess&) = delete;
  SoakProcess& operator=(const SoakProcess&) = delete;

  // The next line of the output pipe, waiting at most timeoutMs; nothing on
  // time-out or end of output.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Waits at most timeoutMs for the process to end; true once it has.
  bool Wait(int timeoutMs);
  void Signal(int signal);       // the process itself
  void SignalGroup(int signal);  // the process and everything it started

  bool ended() const { return ended_; }
  bool signalled() const { return signalled_; }
  // The exit status, or the signal that ended it.
  int status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string pending_;
  bool ended_ = false;
  bool signalled_ = false;
  int status_ = -1;
};

}  // namespace tolv::soak
