// Starting programs from tests, on POSIX systems.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace tolv::test {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const ChildSetup& setup) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The child's environment: this one's with the entries set on top.
  std::vector<std::string> entries = setup.environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    if (std::none_of(setup.environment.begin(), setup.environment.end(),
                     [&](const std::string& set) { return set.starts_with(name); }))
      entries.push_back(text);
  }
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int streams[3] = {setup.in, setup.out, setup.err};
  for (int fd = 0; fd < 3; ++fd)
    if (streams[fd] >= 0 && ::dup2(streams[fd], fd) < 0) ::_exit(127);
  if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) ::_exit(127);
  ::execve(program.c_str(), argv.data(), envp.data());
  ::_exit(127);
}

int ExitStatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stderrPath) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ChildSetup setup;
  setup.out = out[1];
  setup.err = err;
  pid_ = StartProgram(program, args, setup);
  ::close(out[1]);
  if (err >= 0) ::close(err);
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
      status_ = ExitStatusOf(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

}  // namespace tolv::test
