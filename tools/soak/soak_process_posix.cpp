#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "soak_process.h"

namespace tolv::soak {
namespace {

// In the child between fork and exec only async-signal-safe calls may run
// (the soak has threads): everything is prepared before the fork.
[[noreturn]] void BecomeProgram(char* const* argv, const char* cwd, int out, const char* errPath) {
  setpgid(0, 0);
  const int in = open("/dev/null", O_RDONLY);
  const int err = open(errPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in < 0 || err < 0 || chdir(cwd) != 0) _exit(127);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  execv(argv[0], argv);
  _exit(127);
}

}  // namespace

std::mutex& ForkMutex() {
  static std::mutex mutex;
  return mutex;
}

SoakProcess::SoakProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::string& outPath, const std::string& errPath) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  int out = -1;
  if (outPath.empty()) {
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    out = pipeFds[1];
  } else {
    out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) throw std::runtime_error(outPath + ": " + std::strerror(errno));
  }
  {
    std::lock_guard lock(ForkMutex());
    pid_ = fork();
    // The child never returns from it, nor releases the lock.
    if (pid_ == 0) BecomeProgram(args.data(), cwd.c_str(), out, errPath.c_str());
  }
  close(out);
  if (pid_ < 0) {
    if (pipeFds[0] >= 0) close(pipeFds[0]);
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  setpgid(pid_, pid_);  // also here, so that the group exists before the first signal
  outFd_ = pipeFds[0];
}

SoakProcess::~SoakProcess() {
  if (pid_ > 0 && !ended_) {
    SignalGroup(SIGKILL);
    Wait(10000);
  }
  if (outFd_ >= 0) close(outFd_);
}

std::optional<std::string> SoakProcess::ReadLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const size_t end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (outFd_ < 0 || left <= 0) return std::nullopt;
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool SoakProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && !ended_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      signalled_ = WIFSIGNALED(status);
      status_ = signalled_ ? WTERMSIG(status) : WEXITSTATUS(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return ended_;
}

void SoakProcess::Signal(int signal) {
  if (pid_ > 0 && !ended_) kill(pid_, signal);
}

void SoakProcess::SignalGroup(int signal) {
  // Only while the leader has not been reaped: afterwards its number may
  // belong to another program.
  if (pid_ > 0 && !ended_) kill(-pid_, signal);
}

}  // namespace tolv::soak
