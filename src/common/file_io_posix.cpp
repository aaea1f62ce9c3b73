// File access on POSIX systems.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_io.h"

namespace tolv {
namespace {

std::optional<uint64_t> g_writeBudget;  // test hook, see testing::FailWritesAfter

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw FileError(what + " " + Quote(path) + ": " + std::strerror(err));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

Fd OpenForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("Cannot open file", path, errno);
  return Fd(fd);
}

// Reads up to byteCount bytes at byteOffset; returns how many there were.
size_t ReadAt(const Fd& fd, const std::string& path, uint64_t byteOffset, uint8_t* dst, size_t byteCount) {
  size_t done = 0;
  while (done < byteCount) {
    ssize_t n = ::pread(fd.get(), dst + done, byteCount - done, static_cast<off_t>(byteOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot read file", path, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void WriteAll(int fd, const std::string& path, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    size_t want = bytes.size() - done;
    if (g_writeBudget) {
      if (*g_writeBudget == 0) Fail("Cannot write file", path, ENOSPC);
      want = std::min<uint64_t>(want, *g_writeBudget);
    }
    ssize_t n = ::write(fd, bytes.data() + done, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write file", path, errno);
    }
    if (g_writeBudget) *g_writeBudget -= static_cast<uint64_t>(n);
    done += static_cast<size_t>(n);
  }
}

// Permission bits for a new file: those of the file it replaces, else the
// usual 0666 less the process's umask.
mode_t ModeForReplacement(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

uint64_t FileSizeOf(const std::string& path) {
  Fd fd = OpenForReading(path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail("Cannot read file", path, errno);
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  Fd fd = OpenForReading(path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail("Cannot read file", path, errno);
  if (S_ISDIR(st.st_mode)) Fail("Cannot read file", path, EISDIR);
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  bytes.resize(ReadAt(fd, path, 0, bytes.data(), bytes.size()));
  return bytes;
}

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t byteOffset, size_t byteCount) {
  Fd fd = OpenForReading(path);
  std::vector<uint8_t> bytes(byteCount);
  if (ReadAt(fd, path, byteOffset, bytes.data(), byteCount) != byteCount)
    throw FileError("Cannot read file " + Quote(path) + ": the file is truncated");
  return bytes;
}

void SaveFileAtomically(const std::string& path, std::initializer_list<ByteView> parts) {
  if (path.empty()) throw FileError("Cannot create a file without a name");
  std::string temp = DirectoryOf(path) + ".tolv-save-XXXXXX";
  if (DirectoryOf(path).empty()) temp = "./" + temp;
  mode_t mode = ModeForReplacement(path);
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) Fail("Cannot create file", path, errno);
  try {
    for (ByteView part : parts) WriteAll(fd.get(), path, part);
    if (::fchmod(fd.get(), mode) != 0) Fail("Cannot write file", path, errno);
    if (::fsync(fd.get()) != 0) Fail("Cannot write file", path, errno);
    if (::close(fd.release()) != 0) Fail("Cannot write file", path, errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) Fail("Cannot create file", path, errno);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

void SaveFileAtomically(const std::string& path, ByteView bytes) { SaveFileAtomically(path, {bytes}); }

std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return DirectoryOf(std::string(buf, static_cast<size_t>(n)));
}

namespace testing {
void FailWritesAfter(std::optional<uint64_t> byteCount) { g_writeBudget = byteCount; }
}  // namespace testing

}  // namespace tolv
