// The platform's part of the test helpers, on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "child_process.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace tolv::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tolv-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgramInto(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath) {
  // Standard input is no terminal: a program that would ask a question
  // must not wait for an answer.
  ChildSetup setup{cwd, environment, ::open("/dev/null", O_RDONLY | O_CLOEXEC),
                   ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
                   ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
  const bool opened = setup.in >= 0 && setup.out >= 0 && setup.err >= 0;
  const pid_t pid = opened ? StartProgram(program, args, setup) : -1;
  for (int fd : {setup.in, setup.out, setup.err})
    if (fd >= 0) ::close(fd);
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

bool RefusesReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) ::close(fd);
  return fd < 0;
}

// A file that refuses readers even for the superuser, who reads every file
// whatever its permissions.
constexpr const char* kRefusingFile = "/sys/bus/pci/rescan";

}  // namespace

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
  if (::chmod(path.c_str(), 0) == 0 && RefusesReading(path)) {
    active_ = true;
    return;
  }
  ::chmod(path.c_str(), 0644);
  // The superuser: the file steps aside for a link to a file nobody may read.
  const std::string kept = path + ".kept";
  if (::rename(path.c_str(), kept.c_str()) != 0) return;
  if (::symlink(kRefusingFile, path.c_str()) == 0 && RefusesReading(path)) {
    active_ = true;
    keptAside_ = true;
    return;
  }
  ::unlink(path.c_str());
  ::rename(kept.c_str(), path.c_str());
}

UnreadableFile::~UnreadableFile() {
  if (!active_) return;
  if (keptAside_) {
    ::unlink(path_.c_str());
    ::rename((path_ + ".kept").c_str(), path_.c_str());
  } else {
    ::chmod(path_.c_str(), 0644);
  }
}

std::string SystemProgramPath() { return "/bin/sh"; }

std::string ProgramSuffix() { return ""; }

std::string NativePath(const std::string& path) { return path; }

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) previous_ = old;
  ::setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (previous_) {
    ::setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace tolv::test
