#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tolv::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stderrPath) {
  int out[2];
  if (pipe(out) != 0) return;
  const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (err >= 0) close(err);
  stdoutFd_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    Signal(SIGTERM);
    if (!Wait(3000)) {
      Signal(SIGKILL);
      Wait(3000);
    }
  }
  if (stdoutFd_ >= 0) close(stdoutFd_);
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const size_t end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (stdoutFd_ < 0 || left.count() <= 0) return std::nullopt;
    pollfd p{stdoutFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && !status_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

}  // namespace tolv::test
