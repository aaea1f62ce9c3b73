// The emulated receiver's serial line: the controlling side of a
// pseudo-terminal. The link opens the other side (SlavePath()) as if it were a
// serial port. The line is raw 8-bit; with a line rate set, bytes travel at
// that pace both ways (115200 baud = 11,520 bytes per second), so that timing
// is realistic.
#pragma once

#include <cstdint>
#include <string>

#include "receiver.h"

namespace tolv::sim {

class PtyReceiverPort : public ReceiverPort {
 public:
  // Opens a new pseudo-terminal in raw mode. bytesPerSecond 0 means no pacing.
  // Throws std::system_error when the system has none to give.
  explicit PtyReceiverPort(uint32_t bytesPerSecond);
  ~PtyReceiverPort() override;
  PtyReceiverPort(const PtyReceiverPort&) = delete;
  PtyReceiverPort& operator=(const PtyReceiverPort&) = delete;

  // Path of the side the link opens, e.g. "/dev/pts/3".
  const std::string& SlavePath() const { return slavePath_; }

  bool IsUsb() const override { return false; }
  std::optional<SimPacket> Receive(SimClock::time_point deadline, const std::stop_token& stop) override;
  void Send(const std::vector<uint8_t>& bytes, const std::stop_token& stop) override;
  void BeginReboot() override {}
  void EndReboot() override;
  void Disconnect() override;

 private:
  // Reads what has arrived, waiting at most waitMs; false when nothing could
  // be read (also when no one has the line open).
  bool ReadAvailable(int waitMs);
  SimClock::duration LineTime(size_t byteCount) const;

  int master_ = -1;
  std::string slavePath_;
  const uint32_t bytesPerSecond_;
  SerialPacketParser parser_;
  SimClock::time_point firstByteAt_{};   // when the oldest buffered byte came
  SimClock::time_point inputFreeAt_{};   // when the line in has delivered all it carried
  SimClock::time_point outputFreeAt_{};  // when the line out is free again
};

}  // namespace tolv::sim
