// The packet channel: one open transport and the packets on it. It frames
// and sends one packet, receives (parses) one, keeps the buffers, the
// sequence number, the serial receive buffer and the cancel flag, writes
// every byte on the wire to the CommDump, and empties the line of stale
// bytes. It knows nothing of sessions or blocks.
//
// Single-threaded, as the link that owns it. Log and dump writes that fail
// throw FileError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/link_log.h"
#include "link/link_profile.h"
#include "link/link_types.h"
#include "link/packet.h"
#include "link/transport.h"

namespace tolv {

class PacketChannel {
 public:
  // clock and log must outlive the channel.
  PacketChannel(LinkClock& clock, LinkLog& log);

  // Starts over for a new connection: closes the transport (quietly), takes
  // profile, clears the cancel flag, the port's fault and the serial receive
  // buffer. The sequence number and the byte count carry on.
  void Reset(const LinkProfile& profile);
  void Attach(std::unique_ptr<Transport> transport) { transport_ = std::move(transport); }
  void Close() { transport_.reset(); }
  bool isOpen() const { return transport_ != nullptr; }
  // The transport's own description; empty when closed.
  std::string Description() const { return transport_ ? transport_->Description() : std::string(); }
  const LinkProfile& profile() const { return *profile_; }

  // The cancel flag: set by Cancel, cleared by Reset. A set flag makes every
  // receive fail and (USB) every send but the end of the session.
  void Cancel() { canceled_ = true; }
  bool canceled() const { return canceled_; }

  // Frames the payload in txData() (payloadSize bytes) with seqNo() and
  // command and writes it. False on a refused size, time-out, failure or
  // (USB) cancel.
  bool SendPacket(uint8_t command, int32_t payloadSize);

  // Receives: USB one read of up to 30208 bytes, serial at most one byte.
  // rxPacket().Command is non-zero when a packet was parsed (its checksum
  // matched). False when a USB read timed out or failed, or the cancel flag
  // was set; on a serial line false from the first fault of the port (a
  // read or a write) until the next Reset, after a pause of the read
  // time-out: a port that failed (an adapter pulled out) brings no reply any
  // more, so the waits built on this one give up at once.
  bool WaitForCMD();

  // The commands the program sends: 02 upload mode (code 1 on USB), 03
  // download mode, 04 data request, 05 data, 06 end of the exchange, 07
  // block selection, 0B reboot (followed by a 600 ms pause). 04, 06 and 07
  // advance the sequence number first. Each returns what SendPacket did.
  bool SendCMD02();
  bool SendCMD03();
  bool SendCMD04(uint32_t startAddress, int32_t nrOfBytes);
  bool SendCMD05(const uint8_t* source, int32_t nrOfBytes);
  // As SendCMD05 with the first `available` bytes (0..nrOfBytes) from source
  // and zeros after them.
  bool SendCMD05Padded(const uint8_t* source, int32_t available, int32_t nrOfBytes);
  bool SendCMD06();
  bool SendCMD07(uint8_t blockType);
  bool SendCMD0B();

  // Empties the line of what waits on it from before: a serial port is
  // purged, a USB pipe read until a read finds nothing (at most 64
  // transfers). Clears the serial receive buffer. Returns the bytes read off.
  int32_t DiscardWaitingInput();
  // Before a request: the port's queues are purged (serial) and the serial
  // receive buffer cleared, so that bytes of an earlier, late reply cannot
  // be taken for the answer.
  void PurgeForRequest();
  void ClearReceiveBuffer() { serialRx_.Clear(); }

  uint8_t* txData() { return txData_.data(); }
  const ToppyPacketType& rxPacket() const { return rxPacket_; }
  uint8_t seqNo() const { return seqNo_; }
  void SetSeqNo(uint8_t seqNo) { seqNo_ = seqNo; }
  // Command byte of a packet the last WaitForCMD refused for its checksum; 0 if none.
  uint8_t damagedCommand() const { return damagedCommand_; }
  // Whether the last WaitForCMD met a fault of the port or the pipe.
  bool readFault() const { return readFault_; }
  // Every byte read since the channel was made.
  uint64_t bytesReceived() const { return bytesReceived_; }
  int32_t serialRxCount() const { return serialRx_.count(); }

 private:
  void LogStep(std::string_view operation, std::string_view message);
  bool SendUsb(uint8_t command, uint8_t* tx, int32_t packetSize);
  bool SendSerial(uint8_t* tx, int32_t packetSize);
  bool WaitUsb();
  bool WaitSerial();

  LinkClock& clock_;
  LinkLog& log_;
  const LinkProfile* profile_ = &kSerialProfile;
  std::unique_ptr<Transport> transport_;
  bool canceled_ = false;
  bool serialFault_ = false;    // the serial port reported a fault since Reset
  bool readFault_ = false;      // see readFault()
  uint64_t bytesReceived_ = 0;  // see bytesReceived()
  uint8_t damagedCommand_ = 0;  // see damagedCommand()
  uint8_t seqNo_ = 0;
  std::vector<uint8_t> txData_;
  std::vector<uint8_t> txBuf_;
  // One whole USB transfer as read, and the scratch space into which stale
  // bytes are drained on either transport.
  std::vector<uint8_t> readBuffer_;
  SerialReceiver serialRx_;
  ToppyPacketType rxPacket_;
};

}  // namespace tolv
