// Serial ports on POSIX systems (termios), pseudo-terminals included.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "link/held_ports_posix.h"
#include "link/read_ahead.h"
#include "link/transport.h"

namespace tolv {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void SetDiagnostic(std::string* diagnostic, const std::string& text) {
  if (diagnostic) *diagnostic = text;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process of a UUCP lock file (/var/lock/LCK..ttyS0) that still runs: the
// port belongs to another program even if it took no lock of its own kind.
// 0 when there is none.
long LockFileHolder(const std::string& name) {
  for (const char* dir : {"/var/lock/", "/run/lock/"}) {
    std::ifstream lock(std::string(dir) + "LCK.." + BaseName(name));
    if (!lock) continue;
    long pid = 0;
    if (!(lock >> pid) || pid <= 0 || pid == static_cast<long>(getpid())) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return pid;
  }
  return 0;
}

// The name of process pid ("minicom (process 4711)"), or "" when it cannot
// be read (no /proc on this system, or the process is gone).
std::string ProcessText(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string command;
  if (!std::getline(comm, command) || command.empty()) return {};
  return command + " (process " + std::to_string(pid) + ")";
}

// The other process that has the device name open, found through the open
// files /proc lists; "" when none is found (or /proc cannot tell).
std::string HolderOf(const std::string& name) {
  char real[PATH_MAX];
  if (!realpath(name.c_str(), real)) return {};
  DIR* processes = opendir("/proc");
  if (!processes) return {};
  std::string holder;
  while (const dirent* process = readdir(processes)) {
    const long pid = std::strtol(process->d_name, nullptr, 10);
    if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
    const std::string fdDir = "/proc/" + std::string(process->d_name) + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (!fds) continue;
    while (const dirent* fd = readdir(fds)) {
      char target[PATH_MAX];
      const ssize_t n = readlink((fdDir + "/" + fd->d_name).c_str(), target, sizeof target - 1);
      if (n <= 0 || std::string(target, static_cast<size_t>(n)) != real) continue;
      holder = ProcessText(pid);
      break;
    }
    closedir(fds);
    if (!holder.empty()) break;
  }
  closedir(processes);
  return holder;
}

std::string HeldText(const std::string& name, long lockPid = 0) {
  const std::string holder = lockPid > 0 ? ProcessText(lockPid) : HolderOf(name);
  return "in use by another program" + (holder.empty() ? std::string() : ": " + holder) +
         "; close it, or wait until it is done";
}

// The group that owns the device name ("dialout" on Debian), which a user
// joins to be allowed to use it; "dialout" when the file names none but root.
std::string OwningGroup(const std::string& name) {
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) return "dialout";
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->gr_name)
    return "dialout";
  const std::string groupName = found->gr_name;
  return groupName.empty() || groupName == "root" ? "dialout" : groupName;
}

// Why name could not be opened (errno error), said so that the user knows
// what helps.
std::string OpenFailureText(const std::string& name, int error) {
  switch (error) {
    case ENOENT: return "no such port (\"tolv ports\" lists the serial ports of this machine)";
    case ENXIO:
    case ENODEV: return "no device behind it (is the USB serial adapter plugged in?)";
    case EACCES:
    case EPERM: {
      const std::string group = OwningGroup(name);
      return "no permission to use it: it belongs to the group " + group +
             "; join it with \"sudo adduser $USER " + group + "\", then log out and in again";
    }
    case EBUSY: return HeldText(name);
    case EISDIR:
    case ENOTTY: return "not a serial port";
    default: return std::strerror(error);
  }
}

// Opens name for reading and writing without making it the controlling
// terminal, and makes sure no other program holds it. Returns the descriptor
// (non-blocking) or -1 with the reason.
int OpenExclusive(const std::string& name, std::string* diagnostic) {
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (diagnostic) SetDiagnostic(diagnostic, name + ": " + OpenFailureText(name, errno));
    return -1;
  }
  const auto refuse = [&](const std::string& why) {
    close(fd);
    SetDiagnostic(diagnostic, name + ": " + why);
    return -1;
  };
  if (!isatty(fd)) return refuse("not a serial port");
  int exclusive = 0;
  // Who holds the port is looked for only when someone wants to know.
  const auto held = [&](long lockPid = 0) { return diagnostic ? HeldText(name, lockPid) : std::string(); };
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) return refuse(held());
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(held());
  if (const long lockPid = LockFileHolder(name); lockPid > 0) return refuse(held(lockPid) + " (lock file)");
  return fd;
}

// Raw 8-bit mode at 115200 baud. Parity, stop bits and hardware flow control
// stay as the port had them; software flow control, which would swallow the
// bytes 0x11 and 0x13 of binary packets, is turned off.
bool ConfigureRaw(int fd, std::string* diagnostic, const std::string& name) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    SetDiagnostic(diagnostic, name + ": cannot read the port settings: " + std::strerror(errno));
    return false;
  }
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    SetDiagnostic(diagnostic, name + ": cannot set up the port: " + std::strerror(errno));
    return false;
  }
  return true;
}

// Ends the exclusive use of the port fd and closes it: the mark is cleared
// while a hard stop would still find the port in the list of held ones.
void ReleaseExclusive(int fd) {
  ioctl(fd, TIOCNXCL);
  HeldPorts_Remove(fd);
  close(fd);
}

class SerialPort : public Transport {
 public:
  SerialPort(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~SerialPort() override;
  IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) override;
  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override;
  void Purge() override;
  std::string Description() const override { return name_; }

 private:
  bool WaitFor(short events, int timeoutMs, bool* fault);

  int fd_;
  std::string name_;
  ReadAhead<4096> pending_;
};

SerialPort::~SerialPort() {
  // Let the last bytes (an end or reboot command) leave, but never wait long
  // for a line held up by flow control: what is still queued then is dropped,
  // so that the close itself cannot block. Only then: on a pseudo-terminal a
  // flush also drops what the other side has not read yet, such as the end
  // of the session just written.
  const auto deadline = Clock::now() + std::chrono::milliseconds(500);
  int queued = 0;
  while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (queued > 0) tcflush(fd_, TCOFLUSH);
  ReleaseExclusive(fd_);
}

// Waits until fd_ is ready for events; false on time-out, and on a fault
// with *fault set.
bool SerialPort::WaitFor(short events, int timeoutMs, bool* fault) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  *fault = false;
  for (;;) {
    pollfd p{fd_, events, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      *fault = true;
      return false;
    }
    if (ready == 0) return false;
    if (p.revents & events) return true;
    *fault = true;  // POLLERR, POLLHUP or POLLNVAL: the device is gone
    return false;
  }
}

IoResult SerialPort::Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) {
  if (dstCapacity <= 0) return {};
  if (!pending_.Empty()) return {IoResult::Status::Ok, pending_.Take(dst, dstCapacity)};
  bool fault = false;
  if (!WaitFor(POLLIN, timeoutMs, &fault)) return {fault ? IoResult::Status::Fault : IoResult::Status::Ok, 0};
  ssize_t n;
  do {
    n = read(fd_, pending_.Space(), pending_.Capacity());
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {};
  if (n <= 0) return {IoResult::Status::Fault, 0};  // end of file or error: the device is gone
  pending_.Filled(static_cast<size_t>(n));
  return {IoResult::Status::Ok, pending_.Take(dst, dstCapacity)};
}

IoResult SerialPort::Write(const uint8_t* data, int32_t byteCount, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int32_t written = 0;
  while (written < byteCount) {
    const ssize_t n = write(fd_, data + written, static_cast<size_t>(byteCount - written));
    if (n > 0) {
      written += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return {IoResult::Status::Fault, written};
    bool fault = false;
    if (!WaitFor(POLLOUT, RemainingMs(deadline), &fault))
      return {fault ? IoResult::Status::Fault : IoResult::Status::Timeout, written};
  }
  return {IoResult::Status::Ok, written};
}

void SerialPort::Purge() {
  tcflush(fd_, TCIOFLUSH);
  pending_.Clear();
}

bool IsSerialDeviceName(const std::string& entry) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    const size_t n = std::strlen(prefix);
    if (entry.size() > n && entry.compare(0, n, prefix) == 0 &&
        std::all_of(entry.begin() + static_cast<long>(n), entry.end(),
                    [](unsigned char c) { return std::isdigit(c); }))
      return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<Transport> Serial_Open(const std::string& name, std::string* diagnostic) {
  const int fd = OpenExclusive(name, diagnostic);
  if (fd < 0) return nullptr;
  // Exclusive use: further opens of the port fail while the link holds it.
  // Noted first, so that a hard stop from here on clears the mark again.
  HeldPorts_Add(fd);
  ioctl(fd, TIOCEXCL);
  if (!ConfigureRaw(fd, diagnostic, name)) {
    ReleaseExclusive(fd);
    return nullptr;
  }
  // Not purged: bytes that arrived since the port opened may be the start of
  // the receiver's announcement.
  return std::make_unique<SerialPort>(fd, name);
}

bool IsDeviceAvailable(const std::string& name) {
  // The same open as the link's, without changing the port's settings.
  const int fd = OpenExclusive(name, nullptr);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::vector<std::string> Serial_ListPorts() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/dev")) {
    while (const dirent* entry = readdir(dir)) {
      if (IsSerialDeviceName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), Serial_PortNameLess);
  std::vector<std::string> ports;
  for (const std::string& name : names) {
    const std::string path = "/dev/" + name;
    if (IsDeviceAvailable(path)) ports.push_back(path);
  }
  return ports;
}

}  // namespace tolv
