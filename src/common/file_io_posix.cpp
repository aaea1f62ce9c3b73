// File access on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/file_io.h"

namespace tolv {
namespace {

std::optional<uint64_t> g_writeBudget;  // test hook, see testing::FailWritesAfter
// Links followed before a save gives up, as the kernel does (ELOOP).
constexpr int kMaxLinkLevels = 40;

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

// Directory part of a POSIX path including its last "/", empty when none.
std::string ParentOf(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The file that a save to path replaces: path itself, or, when path is a
// symbolic link, the file that the chain of links finally names (a relative
// link is read from its own folder). A link to a file that does not exist yet
// gives that file's name. Writing there keeps the links as they are.
std::string FinalTarget(const std::string& path) {
  std::string current = path;
  for (int level = 0; level < kMaxLinkLevels; ++level) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> buf(static_cast<size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1);
    ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) Fail("Cannot read the link", current, errno);
    std::string target(buf.data(), static_cast<size_t>(n));
    current = target.starts_with('/') ? target : ParentOf(current) + target;
  }
  Fail("Cannot create file", path, ELOOP);
}

// Writes parts to a new temporary file beside target, flushed to the disk,
// with the permission bits target has (or the usual ones for a new file), and
// returns its name. On failure removes it and throws FileError naming path.
std::string WriteTemporary(const std::string& target, const std::string& path,
                           const std::vector<ByteView>& parts) {
  std::string temp = ParentOf(target) + ".tolv-save-XXXXXX";
  if (ParentOf(target).empty()) temp = "./" + temp;
  mode_t mode = ModeForReplacement(target);
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) Fail("Cannot create file", path, errno);
  try {
    for (ByteView part : parts) WriteAll(fd.get(), path, part);
    if (::fchmod(fd.get(), mode) != 0) Fail("Cannot write file", path, errno);
    if (::fsync(fd.get()) != 0) Fail("Cannot write file", path, errno);
    if (::close(fd.release()) != 0) Fail("Cannot write file", path, errno);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  return temp;
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

void SaveFilesAtomically(const std::vector<FileToSave>& files) {
  for (const FileToSave& file : files)
    if (file.path.empty()) throw FileError("Cannot create a file without a name");
  // Every file is complete on the disk before the first one replaces anything.
  std::vector<std::string> targets;
  std::vector<std::string> temporaries;
  try {
    for (const FileToSave& file : files) {
      targets.push_back(FinalTarget(file.path));
      temporaries.push_back(WriteTemporary(targets.back(), file.path, file.parts));
    }
    for (size_t i = 0; i < files.size(); ++i) {
      if (::rename(temporaries[i].c_str(), targets[i].c_str()) != 0)
        Fail("Cannot create file", files[i].path, errno);
      temporaries[i].clear();
    }
  } catch (...) {
    for (const std::string& temp : temporaries)
      if (!temp.empty()) ::unlink(temp.c_str());
    throw;
  }
}

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
