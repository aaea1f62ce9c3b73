#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "pty_port.h"

namespace tolv::sim {
namespace {

constexpr int kPollSliceMs = 20;
constexpr int kStalledWriteMs = 2000;  // a line no one reads drops what does not fit

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyReceiverPort::PtyReceiverPort(uint32_t bytesPerSecond) : bytesPerSecond_(bytesPerSecond) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) ThrowErrno("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    const int error = errno;
    close(master_);
    throw std::system_error(error, std::generic_category(), "pseudo-terminal set-up");
  }
  slavePath_ = name;
  // Raw 8-bit line both ways: no echo, no line editing, no translation.
  termios settings{};
  if (tcgetattr(master_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    tcsetattr(master_, TCSANOW, &settings);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyReceiverPort::~PtyReceiverPort() { Disconnect(); }

SimClock::duration PtyReceiverPort::LineTime(size_t byteCount) const {
  if (bytesPerSecond_ == 0) return SimClock::duration::zero();
  return std::chrono::duration_cast<SimClock::duration>(
      std::chrono::microseconds(static_cast<int64_t>(byteCount) * 1000000 / bytesPerSecond_));
}

bool PtyReceiverPort::ReadAvailable(int waitMs) {
  if (master_ < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return false;
  }
  pollfd pfd{master_, POLLIN, 0};
  if (poll(&pfd, 1, waitMs) <= 0) return false;
  uint8_t buffer[4096];
  const ssize_t n = read(master_, buffer, sizeof buffer);
  if (n <= 0) {
    // No one has the line open (EIO) : wait instead of spinning on the hang-up.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 10)));
    return false;
  }
  if (parser_.buffered() == 0) firstByteAt_ = SimClock::now();
  parser_.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
  return true;
}

std::optional<SimPacket> PtyReceiverPort::Receive(SimClock::time_point deadline,
                                                  const std::stop_token& stop) {
  for (;;) {
    if (auto packet = parser_.Next()) {
      // The packet is only complete once its last byte would have arrived.
      inputFreeAt_ =
          std::max(inputFreeAt_, firstByteAt_) + LineTime(packet->payload.size() + kSerialPacketOverhead);
      firstByteAt_ = SimClock::now();
      std::this_thread::sleep_until(inputFreeAt_);
      return packet;
    }
    const auto now = SimClock::now();
    if (stop.stop_requested()) return std::nullopt;
    // Once the deadline has passed, only bytes that have already come are read.
    if (now >= deadline) {
      if (!ReadAvailable(0)) return std::nullopt;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    ReadAvailable(static_cast<int>(std::clamp<int64_t>(left, 1, kPollSliceMs)));
  }
}

void PtyReceiverPort::Send(const std::vector<uint8_t>& bytes, const std::stop_token& stop) {
  if (master_ < 0) return;
  const auto start = std::max(SimClock::now(), outputFreeAt_);
  outputFreeAt_ = start + LineTime(bytes.size());
  size_t sent = 0;
  auto lastProgress = SimClock::now();
  while (sent < bytes.size() && !stop.stop_requested()) {
    // With a line rate, only the bytes whose time has come go out.
    size_t due = bytes.size();
    if (bytesPerSecond_ != 0) {
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::microseconds>(SimClock::now() - start).count();
      due = std::min(bytes.size(),
                     static_cast<size_t>(std::max<int64_t>(elapsed, 0) * bytesPerSecond_ / 1000000) + 1);
    }
    if (due > sent) {
      const ssize_t n = write(master_, bytes.data() + sent, due - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        lastProgress = SimClock::now();
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      if (SimClock::now() - lastProgress > std::chrono::milliseconds(kStalledWriteMs)) return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

void PtyReceiverPort::EndReboot() {
  // The loader starts with nothing buffered from before the reboot.
  while (ReadAvailable(0)) {
  }
  parser_.Clear();
}

void PtyReceiverPort::Disconnect() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace tolv::sim
