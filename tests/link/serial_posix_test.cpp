// Serial ports on pseudo-terminals: raw bytes, exclusive use, settings, and a
// short real-time session against a receiver thread.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fake_line.h"
#include "link/link.h"
#include "link/transport.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

// The master side of a pseudo-terminal plays the receiver's end of the line.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return !slave_.empty(); }
  const std::string& slave() const { return slave_; }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), (ssize_t)bytes.size());
  }

  // Reads until count bytes came or timeoutMs passed.
  Bytes Read(size_t count, int timeoutMs = 2000) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      uint8_t chunk[512];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// One serial packet from the master side: the 7 header bytes, then the
// payload and the checksum. Empty when none came in time.
Bytes ReadPacket(Pty& pty, int timeoutMs) {
  Bytes packet = pty.Read(7, timeoutMs);
  if (packet.size() < 7) return {};
  const Bytes rest = pty.Read(static_cast<size_t>(packet[6]) + 1);
  packet.insert(packet.end(), rest.begin(), rest.end());
  return packet;
}

Bytes AllByteValues() {
  Bytes bytes(256);
  for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return bytes;
}

Bytes ReadAll(Transport& port, size_t count) {
  Bytes bytes(count);
  size_t got = 0;
  for (int pass = 0; pass < 200 && got < count; ++pass) {
    const IoResult r = port.Read(bytes.data() + got, static_cast<int32_t>(count - got), 50);
    if (r.status != IoResult::Status::Ok) break;
    got += static_cast<size_t>(r.byteCount);
  }
  bytes.resize(got);
  return bytes;
}

TEST(SerialPort, PassesEveryByteValueUnchangedBothWays) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string why;
  auto port = Serial_Open(pty.slave(), &why);
  ASSERT_TRUE(port) << why;
  EXPECT_EQ(port->Description(), pty.slave());
  // XON, XOFF, CR, LF, Ctrl-C, DEL, 0xFF ... all arrive as they were sent.
  pty.Write(AllByteValues());
  EXPECT_EQ(ReadAll(*port, 256), AllByteValues());
  const Bytes out = AllByteValues();
  const IoResult written = port->Write(out.data(), 256, 100 * 256 + 1000);
  EXPECT_EQ(written.status, IoResult::Status::Ok);
  EXPECT_EQ(written.byteCount, 256);
  EXPECT_EQ(pty.Read(256), AllByteValues());
}

TEST(SerialPort, ReadsTimeOutEmptyAndPurgeDropsWaitingBytes) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  auto port = Serial_Open(pty.slave(), nullptr);
  ASSERT_TRUE(port);
  uint8_t byte = 0;
  IoResult r = port->Read(&byte, 1, 50);
  EXPECT_EQ(r.status, IoResult::Status::Ok);
  EXPECT_EQ(r.byteCount, 0);

  pty.Write({1, 2, 3, 4});
  r = port->Read(&byte, 1, 1000);  // takes one, the others wait
  ASSERT_EQ(r.byteCount, 1);
  EXPECT_EQ(byte, 1);
  port->Purge();
  r = port->Read(&byte, 1, 50);
  EXPECT_EQ(r.byteCount, 0);
}

TEST(SerialPort, ExclusiveUse) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  EXPECT_TRUE(IsDeviceAvailable(pty.slave()));
  {
    auto port = Serial_Open(pty.slave(), nullptr);
    ASSERT_TRUE(port);
    std::string why;
    EXPECT_FALSE(Serial_Open(pty.slave(), &why));
    EXPECT_NE(why.find("in use"), std::string::npos) << why;
    EXPECT_FALSE(IsDeviceAvailable(pty.slave()));
  }
  EXPECT_TRUE(IsDeviceAvailable(pty.slave()));
  EXPECT_TRUE(Serial_Open(pty.slave(), nullptr));
}

// What Serial_Open says in a child process (as the given user, when not -1),
// while the child holds nothing else.
std::string WhyChildCannotOpen(const std::string& name, uid_t user = static_cast<uid_t>(-1)) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    if (user != static_cast<uid_t>(-1) &&
        (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
      _exit(1);
    std::string why;
    if (Serial_Open(name, &why)) why = "opened";
    (void)!write(out[1], why.data(), why.size());
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  waitpid(child, nullptr, 0);
  return text;
}

TEST(SerialPort, SaysWhyAPortCannotBeOpened) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  {
    SCOPED_TRACE("held by another program, which is named");
    auto port = Serial_Open(pty.slave(), nullptr);
    ASSERT_TRUE(port);
    const std::string why = WhyChildCannotOpen(pty.slave());
    EXPECT_NE(why.find(pty.slave() + ": in use by another program: "), std::string::npos) << why;
    EXPECT_NE(why.find("(process " + std::to_string(getpid()) + ")"), std::string::npos) << why;
  }
  {
    SCOPED_TRACE("no permission: the group that owns the port, and how to join it");
    const group* dialout = getgrnam("dialout");
    if (!dialout) {
      GTEST_SKIP() << "this system has no group dialout";
    }
    // Root opens every port: the child drops to user nobody then. Another
    // user can give the port to dialout only as one of its members.
    const bool root = geteuid() == 0;
    if (!root && chown(pty.slave().c_str(), static_cast<uid_t>(-1), dialout->gr_gid) != 0) {
      GTEST_SKIP() << "not root and not in the group dialout: the port cannot be given to it";
    }
    if (root) {
      ASSERT_EQ(0, chown(pty.slave().c_str(), 0, dialout->gr_gid));
    }
    ASSERT_EQ(0, chmod(pty.slave().c_str(), root ? 0660 : 0060));
    const std::string why = WhyChildCannotOpen(pty.slave(), root ? 65534 : static_cast<uid_t>(-1));
    EXPECT_NE(
        why.find(pty.slave() +
                 ": no permission to use it: it belongs to the group dialout; join it with \"sudo adduser "
                 "$USER dialout\", then log out and in again"),
        std::string::npos)
        << why;
  }
}

TEST(SerialPort, RefusesWhatIsNoSerialPort) {
  std::string why;
  EXPECT_FALSE(Serial_Open("/dev/null", &why));
  EXPECT_NE(why.find("not a serial port"), std::string::npos) << why;
  EXPECT_FALSE(Serial_Open("/nonexistent/ttyS99", &why));
  EXPECT_EQ("/nonexistent/ttyS99: no such port (\"tolv ports\" lists the serial ports of this machine)", why);
  EXPECT_FALSE(IsDeviceAvailable("/nonexistent/ttyS99"));
  EXPECT_FALSE(IsDeviceAvailable("COM1"));
}

TEST(SerialPort, SettingsRawAt115200KeepingParityAndStopBits) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  // The port as another program left it: even parity, two stop bits,
  // software flow control, canonical input.
  const int fd = open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(fd, &before), 0);
  before.c_cflag |= PARENB | CSTOPB;
  before.c_iflag |= IXON | ICRNL;
  before.c_lflag |= ICANON | ECHO;
  cfsetspeed(&before, B9600);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(fd, &before), 0);  // a pseudo-terminal refuses parity
  {
    auto port = Serial_Open(pty.slave(), nullptr);
    ASSERT_TRUE(port);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B115200);
    EXPECT_EQ(cfgetispeed(&after), B115200);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS),
              before.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS));
    EXPECT_TRUE(after.c_cflag & CSTOPB);
    EXPECT_FALSE(after.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(after.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(after.c_oflag & OPOST);
  }
  close(fd);
}

TEST(SerialPort, PortNamesInNaturalOrder) {
  std::vector<std::string> names = {"/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyS2",    "/dev/ttyACM1",
                                    "/dev/ttyS0",  "/dev/ttyACM0", "/dev/ttyUSB10", "/dev/ttyUSB9"};
  std::sort(names.begin(), names.end(), Serial_PortNameLess);
  EXPECT_EQ(names,
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS2",
                                      "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB9", "/dev/ttyUSB10"}));
  // Whatever this machine has, the list is in that order.
  const std::vector<std::string> ports = Serial_ListPorts();
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), Serial_PortNameLess));
}

// A receiver on the master side: announces itself, then serves one block.
TEST(SerialPort, DownloadThroughAPseudoTerminal) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const Bytes block = test::RandomBytes(11, 1000);
  std::atomic<bool> stop{false};
  Link link;
  ASSERT_EQ(link.Open(pty.slave(), {}), 0);
  std::thread receiver([&] {
    pty.Write({0x00, 0x13, 0x11});  // stray bytes, XOFF and XON among them
    Bytes payload = {0x01, 0x96};
    payload.resize(34, 0x11);
    pty.Write(test::FramePacket(false, 0x20, 0x01, payload));
    EXPECT_EQ(test::ParseWritten(false, ReadPacket(pty, 2000)).command, 0x03);
    while (!stop) {
      const Bytes request = ReadPacket(pty, 100);
      if (request.empty()) continue;
      const test::WirePacket p = test::ParseWritten(false, request);
      if (p.command == 0x07) {
        pty.Write(test::FramePacket(false, 0x20, 0x08, {0x00, 0x03, 0xE8}));
      } else if (p.command == 0x04 && p.payload.size() == 4) {
        const size_t count = p.payload[0];
        const size_t offset = static_cast<size_t>(p.payload[1] << 16 | p.payload[2] << 8 | p.payload[3]);
        pty.Write(test::FramePacket(false, 0x20, 0x05,
                                    Bytes(block.begin() + static_cast<long>(offset),
                                          block.begin() + static_cast<long>(offset + count))));
      }
    }
  });
  EXPECT_EQ(link.DownloadMode(), 0);
  Bytes buffer(2000);
  int32_t size = 0;
  EXPECT_EQ(link.TransferBlock(3, buffer.data(), 2000, &size), 0);
  stop = true;
  receiver.join();
  EXPECT_EQ(size, 1000);
  buffer.resize(1000);
  EXPECT_EQ(buffer, block);
  link.Close();
}

}  // namespace
}  // namespace tolv
