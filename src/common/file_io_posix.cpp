// File access on POSIX systems.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "common/save_platform.h"

namespace tolv {
namespace {

std::optional<uint64_t> g_writeBudget;  // test hook, see testing::FailWritesAfter
bool g_refuseLinks = false;             // test hook, see testing::RefuseHardLinks
// Links followed before a save gives up, as the kernel does (ELOOP).
constexpr int kMaxLinkLevels = 40;
// A save writes at most this much at once, so that a cancel is seen soon.
constexpr size_t kWritePiece = size_t{1} << 20;

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw FileError(what + " " + Quote(path) + ": " + std::strerror(err));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
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

void RequireRegular(const struct stat& st, const std::string& path) {
  if (S_ISDIR(st.st_mode)) Fail("Cannot read file", path, EISDIR);
  if (!S_ISREG(st.st_mode)) throw FileError("Cannot read file " + Quote(path) + ": it is not a regular file");
}

// Opens a regular file for reading. A FIFO or device is refused before it is
// opened (opening one can wait for a writer, or act on the device), and the
// open itself does not wait either, should the name change meanwhile.
Fd OpenForReading(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) Fail("Cannot open file", path, errno);
  RequireRegular(st, path);
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) Fail("Cannot open file", path, errno);
  if (::fstat(fd.get(), &st) != 0) Fail("Cannot read file", path, errno);
  RequireRegular(st, path);
  return fd;
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
    save_detail::ThrowIfCanceled(path);
    size_t want = std::min(bytes.size() - done, kWritePiece);
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

// Directory part of a POSIX path including its last "/", empty when none.
std::string ParentOf(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A folder name as the saves key it: with its last "/", "./" for none.
std::string FolderKey(const std::string& folder) {
  if (folder.empty() || folder == ".") return "./";
  return folder.back() == '/' ? folder : folder + "/";
}

// The folders this thread's saves hold open (FolderLock), by their names.
// A save works relative to the open folder, so that a folder on the way
// swapped for a link after it was opened is never followed.
thread_local std::vector<std::pair<std::string, int>> t_openFolders;

// A file within a folder: the open folder and the name in it, or (for a
// folder no save holds) the working directory and the whole path.
struct At {
  int dir = AT_FDCWD;
  std::string name;
  const char* c_str() const { return name.c_str(); }
};

At InFolder(const std::string& path) {
  const size_t cut = path.rfind('/');
  const std::string folder = FolderKey(cut == std::string::npos ? std::string() : path.substr(0, cut + 1));
  for (const auto& [key, fd] : t_openFolders)
    if (key == folder) return {fd, path.substr(cut == std::string::npos ? 0 : cut + 1)};
  return {AT_FDCWD, path};
}

// A new hidden file beside target, created exclusively (never through a
// link) with mode 0600: its descriptor, its path in name. -1 and errno
// when it cannot be made.
int CreateHiddenBeside(const std::string& target, const char* prefix, std::string& name) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<uint64_t> counter{0};
  const std::string dir = ParentOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t seed = (static_cast<uint64_t>(::getpid()) << 32) ^ counter.fetch_add(1) ^
                    static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string suffix;
    for (int i = 0; i < 6; ++i, seed = seed * 6364136223846793005u + 1442695040888963407u)
      suffix += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    name = (dir.empty() ? "./" : dir) + prefix + suffix;
    const At at = InFolder(name);
    const int fd = ::openat(at.dir, at.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// What the new file takes over from the file it replaces: its permission
// bits, owner and group; for a new file the usual 0666 less the umask.
struct Kept {
  bool exists = false;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
};

Kept PropertiesToKeep(const std::string& target) {
  struct stat st {};
  const At at = InFolder(target);
  if (::fstatat(at.dir, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
    return {true, static_cast<mode_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return {false, static_cast<mode_t>(0666 & ~mask), 0, 0};
}

// Owner and group where the process may set them (the superuser any, others
// a group of their own), then the permission bits, which a change of owner
// may have cut.
void ApplyKept(int fd, const Kept& kept, const std::string& path) {
  if (kept.exists && (kept.owner != ::geteuid() || kept.group != ::getegid())) {
    if (::fchown(fd, kept.owner, kept.group) != 0 && ::fchown(fd, static_cast<uid_t>(-1), kept.group) != 0) {
      // Not allowed: the file stays the process's own.
    }
  }
  if (::fchmod(fd, kept.mode) != 0) Fail("Cannot write file", path, errno);
}

// Creates the temporary file and registers it, with every signal held off
// in between, so that a cancel either knows the file or finds none.
int CreateRegistered(const std::string& target, std::string& temp, int& slot) {
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  const int fd = CreateHiddenBeside(target, ".tolv-save-", temp);
  const int error = errno;
  slot = fd >= 0 ? save_detail::Temporaries_Register(temp) : -1;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return fd;
}

// The descriptor that a name of /dev or /proc stands for: /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N.
std::optional<int> DescriptorPath(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!path.starts_with(prefix)) continue;
    const std::string number = path.substr(std::strlen(prefix));
    if (number.empty() || number.size() > 9) return std::nullopt;
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    return std::stoi(number);
  }
  return std::nullopt;
}

// The descriptor that path names ("-" standard output), also through a
// chain of links that reaches one of the names above; nothing otherwise.
// The chain stops there: what the descriptor leads to is not followed, since
// reopening it would lose the redirection's appending and position.
std::optional<int> DescriptorNamed(const std::string& path) {
  if (path == "-") return 1;
  std::string current = path;
  for (int level = 0; level < kMaxLinkLevels; ++level) {
    if (std::optional<int> fd = DescriptorPath(current)) return fd;
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(current.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
    const std::string target(buf, static_cast<size_t>(n));
    current = target.starts_with('/') ? target : ParentOf(current) + target;
  }
  return std::nullopt;
}

void WriteParts(int fd, const std::string& path, const std::vector<ByteView>& parts) {
  for (ByteView part : parts) WriteAll(fd, path, part);
}

}  // namespace

namespace save_detail {

bool IsStream(const std::string& path) {
  if (DescriptorNamed(path)) return true;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
}

bool IsStandardOutput(const std::string& path) { return DescriptorNamed(path) == 1; }

std::optional<std::string> DescriptorIdentity(const std::string& path) {
  const std::optional<int> fd = DescriptorNamed(path);
  if (!fd) return std::nullopt;
  return "fd:" + std::to_string(*fd);
}

void WriteStream(const std::string& path, const std::vector<ByteView>& parts) {
  ThrowIfCanceled(path);
  if (const std::optional<int> fd = DescriptorNamed(path)) {
    if (::fcntl(*fd, F_GETFD) < 0) Fail("Cannot write file", path, errno);
    WriteParts(*fd, path, parts);
    return;
  }
  // A FIFO nobody reads is refused at once (ENXIO), not waited for.
  Fd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENXIO) throw FileError("Cannot write file " + Quote(path) + ": nothing reads from it");
    Fail("Cannot write file", path, errno);
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    Fail("Cannot write file", path, errno);
  WriteParts(fd.get(), path, parts);
  if (::close(fd.release()) != 0) Fail("Cannot write file", path, errno);
}

// The file that a save to path replaces: path itself, or, when path is a
// symbolic link, the file that the chain of links finally names (a relative
// link is read from its own folder). A link to a file that does not exist yet
// gives that file's name. Writing there keeps the links as they are. A link
// that another user put in a folder everybody may write (sticky, as /tmp),
// and that is not the folder owner's, is not followed, as the system itself
// refuses to open through one: it is how one user would redirect another's
// save.
std::string ReplacedFile(const std::string& path) {
  std::string current = path;
  for (int level = 0; level < kMaxLinkLevels; ++level) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    struct stat folder {};
    const std::string parent = ParentOf(current);
    if (::stat(parent.empty() ? "." : parent.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
        (folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid)
      throw FileError("Cannot save through the link " + Quote(current) +
                      ": another user made it in a folder that everybody may write.");
    std::vector<char> buf(static_cast<size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1);
    ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) Fail("Cannot read the link", current, errno);
    std::string target(buf.data(), static_cast<size_t>(n));
    current = target.starts_with('/') ? target : ParentOf(current) + target;
  }
  Fail("Cannot create file", path, ELOOP);
}

TargetInfo InspectTarget(const std::string& target) {
  struct stat st {};
  const At at = InFolder(target);
  // Within a folder a save holds, the name itself: a link there now was
  // swapped in after the links were followed.
  const int follow = at.dir == AT_FDCWD ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::fstatat(at.dir, at.c_str(), &st, follow) != 0) return {};
  TargetInfo info;
  info.exists = true;
  info.folder = S_ISDIR(st.st_mode);
  info.regular = S_ISREG(st.st_mode);
  // Protected: nobody may write it (the superuser, whom the system lets
  // write anything, included), or this process may not.
  info.foreignOwner = info.regular && ::geteuid() != 0 && st.st_uid != ::geteuid();
  info.writeProtected = info.regular && ((st.st_mode & 0222) == 0 ||
                                         (::faccessat(at.dir, at.c_str(), W_OK, AT_EACCESS | follow) != 0 &&
                                          (errno == EACCES || errno == EPERM)));
  return info;
}

Temporary WriteTemporary(const std::string& target, const std::string& shown,
                         const std::vector<ByteView>& parts) {
  ThrowIfCanceled(shown);
  const Kept kept = PropertiesToKeep(target);
  Temporary temp;
  Fd fd(CreateRegistered(target, temp.name, temp.slot));
  if (fd.get() < 0) Fail("Cannot create file", shown, errno);
  try {
    for (ByteView part : parts) WriteAll(fd.get(), shown, part);
    ApplyKept(fd.get(), kept, shown);
    if (::fsync(fd.get()) != 0) Fail("Cannot write file", shown, errno);
    if (::close(fd.release()) != 0) Fail("Cannot write file", shown, errno);
  } catch (...) {
    RemoveQuietly(temp.name);
    Temporaries_Unregister(temp.slot);
    throw;
  }
  return temp;
}

// A copy of the old file's bytes and permissions in the new file fd.
void CopyInto(int fd, const std::string& target, const std::string& shown) {
  const At at = InFolder(target);
  Fd from(::openat(at.dir, at.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (from.get() < 0 || ::fstat(from.get(), &st) != 0) Fail("Cannot replace file", shown, errno);
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  if (ReadAt(from, target, 0, bytes.data(), bytes.size()) != bytes.size())
    throw FileError("Cannot replace file " + Quote(shown) + ": it changed while it was read");
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Cannot replace file", shown, errno);
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd, st.st_mode & 07777) != 0 || ::fsync(fd) != 0) Fail("Cannot replace file", shown, errno);
}

// A second link keeps the old file while the new one takes its name; where
// the file system refuses links (FAT), a copy of it does. The name itself
// never goes away.
std::optional<KeptOld> KeepOld(const std::string& target, const std::string& shown) {
  struct stat st {};
  const At at = InFolder(target);
  if (::fstatat(at.dir, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name;
    Fd placeholder(CreateHiddenBeside(target, ".tolv-old-", name));
    if (placeholder.get() < 0) Fail("Cannot replace file", shown, errno);
    const At kept = InFolder(name);
    if (g_refuseLinks) {
      // The placeholder itself becomes the copy.
      try {
        CopyInto(placeholder.get(), target, shown);
      } catch (...) {
        ::unlinkat(kept.dir, kept.c_str(), 0);
        throw;
      }
      return KeptOld{name, false};
    }
    ::unlinkat(kept.dir, kept.c_str(), 0);
    // linkat does not follow a link that target may have become.
    if (::linkat(at.dir, at.c_str(), kept.dir, kept.c_str(), 0) == 0) return KeptOld{name, false};
    if (errno == EEXIST) continue;
    Fd copy(::openat(kept.dir, kept.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (copy.get() < 0) Fail("Cannot replace file", shown, errno);
    try {
      CopyInto(copy.get(), target, shown);
    } catch (...) {
      ::unlinkat(kept.dir, kept.c_str(), 0);
      throw;
    }
    return KeptOld{name, false};
  }
  Fail("Cannot replace file", shown, EEXIST);
}

void PutInPlace(const std::string& temp, const std::string& target, const std::string& shown) {
  const At from = InFolder(temp), to = InFolder(target);
  if (::renameat(from.dir, from.c_str(), to.dir, to.c_str()) != 0) Fail("Cannot create file", shown, errno);
}

bool RestoreOld(const KeptOld& kept, const std::string& target) noexcept {
  try {
    const At from = InFolder(kept.name), to = InFolder(target);
    return ::renameat(from.dir, from.c_str(), to.dir, to.c_str()) == 0;
  } catch (...) {
    return false;
  }
}

void RemoveQuietly(const std::string& path) noexcept {
  try {
    const At at = InFolder(path);
    ::unlinkat(at.dir, at.c_str(), 0);
  } catch (...) {
    ::unlink(path.c_str());
  }
}

std::optional<std::vector<uint8_t>> ReadInFolder(const std::string& path) {
  const At at = InFolder(path);
  Fd fd(::openat(at.dir, at.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  bytes.resize(ReadAt(fd, path, 0, bytes.data(), bytes.size()));
  return bytes;
}

void RemoveForCancel(const char* path) noexcept { ::unlink(path); }

std::optional<std::string> ExistingFileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string ComparableName(const std::string& name) { return name; }

FolderLock::FolderLock(const std::string& folder, const std::string& shown) {
  Fd fd(::open(FolderKey(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) Fail("Cannot create file", shown, errno);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK)
      throw FileError("Cannot save " + Quote(shown) +
                      ": another save into its folder is under way. Nothing was written.");
    break;  // no locks on this file system: the folder is still worked in through fd
  }
  handle_ = fd.release();
  AddName(folder);
}

void FolderLock::AddName(const std::string& folder) {
  t_openFolders.emplace_back(FolderKey(folder), static_cast<int>(handle_));
}

FolderLock::~FolderLock() {
  std::erase_if(t_openFolders, [this](const auto& entry) { return entry.second == handle_; });
  ::close(static_cast<int>(handle_));
}

std::optional<std::string> NameIdentity(const std::string& path) {
  struct stat st {};
  const At at = InFolder(path);
  if (::fstatat(at.dir, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  // The type too: a link made at once may get the number of the file it
  // replaced.
  return std::to_string(st.st_mode & S_IFMT) + ":" + std::to_string(st.st_dev) + ":" +
         std::to_string(st.st_ino);
}

}  // namespace save_detail

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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

std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool IsFolderSeparator(char c) { return c == '/'; }

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return DirectoryOf(std::string(buf, static_cast<size_t>(n)));
}

namespace testing {
void FailWritesAfter(std::optional<uint64_t> byteCount) { g_writeBudget = byteCount; }
void RefuseHardLinks(bool refuse) { g_refuseLinks = refuse; }
}  // namespace testing

}  // namespace tolv
