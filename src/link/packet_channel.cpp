// Sending and receiving single packets, and the commands the program sends.

#include "link/packet_channel.h"

#include <algorithm>
#include <cstring>

#include "link/link_internal.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr const char* kSendPacket = "SendPacket";
constexpr const char* kWaitForCmd = "WaitForCMD";
constexpr uint8_t kEndCommand = 0x06;

}  // namespace

PacketChannel::PacketChannel(LinkClock& clock, LinkLog& log)
    : clock_(clock),
      log_(log),
      txData_(kLinkBufferSize),
      // Room for the padding of the longest USB packet to a multiple of 512.
      txBuf_(Packet_UsbPaddedSize(kLinkBufferSize)),
      readBuffer_(kLinkBufferSize) {}

void PacketChannel::Reset(const LinkProfile& profile) {
  // A connection left open would keep the port or the interface claimed.
  transport_.reset();
  profile_ = &profile;
  serialRx_.Clear();
  canceled_ = false;
  serialFault_ = false;
}

void PacketChannel::LogStep(std::string_view operation, std::string_view message) {
  if (log_.enabled()) log_.Log(LinkLog_StepLine(operation, message));
}

bool PacketChannel::SendPacket(uint8_t command, int32_t payloadSize) {
  if (!transport_) return false;
  uint8_t* tx = txBuf_.data();
  const int32_t packetSize =
      profile_->usb ? Packet_FrameUsb(seqNo_, command, txData_.data(), payloadSize, tx, kLinkBufferSize)
                    : Packet_FrameSerial(seqNo_, command, txData_.data(), payloadSize, tx, kLinkBufferSize);
  if (packetSize < 0) {
    LogStep(kSendPacket, Format("Packet with %d data bytes refused: too long", payloadSize));
    return false;
  }
  return profile_->usb ? SendUsb(command, tx, packetSize) : SendSerial(tx, packetSize);
}

bool PacketChannel::SendSerial(uint8_t* tx, int32_t packetSize) {
  if (log_.enabled()) LogStep(kSendPacket, "Sending serial data: " + LinkLog_HexDump(tx, packetSize));
  const IoResult written =
      transport_->Write(tx, packetSize, profile_->writeMsPerByte * packetSize + profile_->writeBaseMs);
  log_.Dump(tx, written.byteCount);
  if (written.status != IoResult::Status::Ok) {
    LogStep(kSendPacket, "WriteFile on serial port failed.");
    serialFault_ = serialFault_ || written.status == IoResult::Status::Fault;
    return false;
  }
  return true;
}

bool PacketChannel::SendUsb(uint8_t command, uint8_t* tx, int32_t packetSize) {
  if (log_.enabled()) LogStep(kSendPacket, "Sending USB data: " + LinkLog_HexDump(tx, packetSize));
  // A USB packet goes out padded with zeros to a multiple of 512 bytes.
  const int32_t paddedSize = Packet_UsbPaddedSize(packetSize);
  std::fill(tx + packetSize, tx + paddedSize, uint8_t{0});
  // The end of the session goes out after a cancel too, as on a serial line:
  // without it the receiver stays in its loader session.
  if (canceled_ && command != kEndCommand) {
    LogStep(kSendPacket, "Exiting due to GlobalCancel");
    return false;
  }
  const IoResult written =
      transport_->Write(tx, paddedSize, profile_->writeMsPerByte * paddedSize + profile_->writeBaseMs);
  log_.Dump(tx, paddedSize);
  if (written.status == IoResult::Status::Timeout) {
    LogStep(kSendPacket, "WriteFile on USB interface timed out.");
    return false;
  }
  if (written.status == IoResult::Status::Fault) {
    LogStep(kSendPacket, "WriteFile on USB interface failed.");
    return false;
  }
  return true;
}

bool PacketChannel::WaitForCMD() {
  rxPacket_.Command = 0;
  damagedCommand_ = 0;
  readFault_ = false;
  if (canceled_) {
    LogStep(kWaitForCmd, "Exiting due to GlobalCancel");
    return false;
  }
  if (!transport_) return false;
  return profile_->usb ? WaitUsb() : WaitSerial();
}

bool PacketChannel::WaitUsb() {
  const IoResult read = transport_->Read(readBuffer_.data(), profile_->readSize, profile_->readTimeoutMs);
  if (read.status == IoResult::Status::Timeout) {
    LogStep(kWaitForCmd, "ReadFile on USB interface timed out.");
    return false;
  }
  if (read.status == IoResult::Status::Fault) {
    LogStep(kWaitForCmd, "ReadFile on USB interface failed.");
    readFault_ = true;
    return false;
  }
  const int32_t byteCount = std::clamp(read.byteCount, 0, profile_->readSize);
  bytesReceived_ += static_cast<uint64_t>(byteCount);
  log_.Dump(readBuffer_.data(), byteCount);
  switch (Packet_ParseUsb(readBuffer_.data(), byteCount, rxPacket_)) {
    case PacketParse::Empty: LogStep(kWaitForCmd, "No USB data received."); break;
    case PacketParse::Ok:
      if (log_.enabled())
        LogStep(kWaitForCmd, "Received USB data: " + LinkLog_HexDump(readBuffer_.data(), byteCount));
      break;
    case PacketParse::Truncated:
      // The declared length runs past the bytes read: no packet.
      rxPacket_.Command = 0;
      if (log_.enabled())
        LogStep(kWaitForCmd,
                "Incomplete USB packet ignored: " + LinkLog_HexDump(readBuffer_.data(), byteCount));
      break;
    case PacketParse::BadChecksum:
      // A corrupted packet is never taken; the waits' time-outs recover.
      damagedCommand_ = rxPacket_.Command;
      rxPacket_.Command = 0;
      if (log_.enabled())
        LogStep(kWaitForCmd,
                "Checksum error, USB packet ignored: " + LinkLog_HexDump(readBuffer_.data(), byteCount));
      break;
  }
  return true;
}

bool PacketChannel::WaitSerial() {
  const int32_t dropped = serialRx_.MakeRoom();
  if (dropped > 0)
    LogStep(kWaitForCmd, Format("Receive buffer full: %d bytes without a packet dropped", dropped));
  // A failed port (an adapter pulled out) brings nothing any more: every
  // later wait fails, after the pause a silent read would take, so that
  // callers which retry (the mode waits with a new Open) keep a modest pace.
  if (serialFault_) {
    readFault_ = true;
    clock_.SleepMs(profile_->readTimeoutMs);
    return false;
  }
  uint8_t* slot = serialRx_.WritePointer();
  const IoResult read = transport_->Read(slot, profile_->readSize, profile_->readTimeoutMs);
  if (read.status == IoResult::Status::Fault) {
    LogStep(kWaitForCmd, "ReadFile on serial port failed.");
    serialFault_ = true;
    readFault_ = true;
    clock_.SleepMs(profile_->readTimeoutMs);
    return false;
  }
  const int32_t byteCount = std::clamp(read.byteCount, 0, profile_->readSize);
  if (byteCount == 0) return true;
  bytesReceived_ += static_cast<uint64_t>(byteCount);
  log_.Dump(slot, byteCount);
  serialRx_.Commit(byteCount);
  std::vector<uint8_t> raw;
  switch (serialRx_.TakePacket(rxPacket_, log_.enabled() ? &raw : nullptr)) {
    case SerialReceiver::Result::None: break;
    case SerialReceiver::Result::Packet:
      if (log_.enabled())
        LogStep(kWaitForCmd,
                "Received serial data: " + LinkLog_HexDump(raw.data(), static_cast<int32_t>(raw.size())));
      break;
    case SerialReceiver::Result::BadChecksum:
      damagedCommand_ = rxPacket_.Command;
      rxPacket_.Command = 0;
      if (log_.enabled())
        LogStep(kWaitForCmd, "Checksum error, serial packet ignored: " +
                                 LinkLog_HexDump(raw.data(), static_cast<int32_t>(raw.size())));
      break;
  }
  return true;
}

// --- The line ------------------------------------------------------------------

int32_t PacketChannel::DiscardWaitingInput() {
  // A serial port is emptied; a USB pipe is read until a read finds nothing.
  int32_t discarded = 0;
  for (int i = 0; i < kMaxStaleReads; ++i) {
    const IoResult read = transport_->Read(readBuffer_.data(), kUsbReadSize, profile_->staleReadMs);
    if (read.status != IoResult::Status::Ok || (profile_->purgeable && read.byteCount <= 0)) break;
    discarded += std::clamp(read.byteCount, 0, kUsbReadSize);
  }
  if (profile_->purgeable) transport_->Purge();
  serialRx_.Clear();
  bytesReceived_ += static_cast<uint64_t>(discarded);
  return discarded;
}

void PacketChannel::PurgeForRequest() {
  if (profile_->purgeable && transport_) transport_->Purge();
  serialRx_.Clear();
}

// --- Commands ---------------------------------------------------------------
// 02 upload mode (code 1 on USB), 03 download mode, 04 data request,
// 05 data, 06 end of the exchange, 07 block selection, 0B reboot.

bool PacketChannel::SendCMD02() {
  LogStep("SendCMD02", "called by TolvWrap");
  return SendPacket(profile_->uploadModeCommand, 0);
}

bool PacketChannel::SendCMD03() {
  LogStep("SendCMD03", "called by TolvWrap");
  return SendPacket(0x03, 0);
}

bool PacketChannel::SendCMD04(uint32_t startAddress, int32_t nrOfBytes) {
  if (log_.enabled())
    LogStep("SendCMD04",
            Format("called by TolvWrap: StartAddress=%4.4X, NrOfBytes=%d", startAddress, nrOfBytes));
  ++seqNo_;
  uint8_t* p = txData_.data();
  int32_t n = 0;
  // Count: 16 bits on USB, 8 bits on a serial line; then the 24-bit start address.
  if (profile_->requestCountBytes == 2) p[n++] = static_cast<uint8_t>(nrOfBytes >> 8);
  p[n++] = static_cast<uint8_t>(nrOfBytes);
  p[n++] = static_cast<uint8_t>(startAddress >> 16);
  p[n++] = static_cast<uint8_t>(startAddress >> 8);
  p[n++] = static_cast<uint8_t>(startAddress);
  return SendPacket(0x04, n);
}

bool PacketChannel::SendCMD05(const uint8_t* source, int32_t nrOfBytes) {
  return SendCMD05Padded(source, nrOfBytes, nrOfBytes);
}

bool PacketChannel::SendCMD05Padded(const uint8_t* source, int32_t available, int32_t nrOfBytes) {
  if (log_.enabled()) LogStep("SendCMD05", Format("called by TolvWrap: NrOfBytes=%d", nrOfBytes));
  // A size no packet can carry is not copied; SendPacket refuses it.
  if (nrOfBytes > 0 && nrOfBytes <= kUsbMaxPayload) {
    const int32_t copied = std::clamp(available, 0, nrOfBytes);
    if (copied > 0) std::memcpy(txData_.data(), source, static_cast<size_t>(copied));
    std::fill(txData_.begin() + copied, txData_.begin() + nrOfBytes, uint8_t{0});
  }
  return SendPacket(0x05, nrOfBytes);
}

bool PacketChannel::SendCMD06() {
  LogStep("SendCMD06", "called by TolvWrap");
  ++seqNo_;
  return SendPacket(0x06, 0);
}

bool PacketChannel::SendCMD07(uint8_t blockType) {
  LogStep("SendCMD07", "called by TolvWrap");
  ++seqNo_;
  txData_[0] = blockType;
  return SendPacket(0x07, 1);
}

bool PacketChannel::SendCMD0B() {
  LogStep("SendCMD0B", "called by TolvWrap");
  const bool sent = SendPacket(0x0B, 0);
  clock_.SleepMs(kRebootPauseMs);
  return sent;
}

}  // namespace tolv
