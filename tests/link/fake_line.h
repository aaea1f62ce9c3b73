// A scripted stand-in for the receiver and the wire, for tests of the link.
//
// FakeClock advances only when the link sleeps or a fake read waits, so time-
// outs run instantly and deterministically. FakeLine is the wire: it records
// what the link writes and delivers scripted bytes at scripted times. Its
// transports are handed to a Link through LinkDevices (see MakeDevices).
// MiniReceiver answers the link's commands the way a receiver does, with
// fault switches; its packets are framed by the test's own framer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"

namespace tolv::test {

class FakeClock : public LinkClock {
 public:
  uint64_t NowMs() override { return now; }
  void SleepMs(int ms) override {
    now += static_cast<uint64_t>(ms);
    slept += static_cast<uint64_t>(ms);
  }
  uint64_t now = 1000;
  uint64_t slept = 0;
};

// A packet as the test reads it back from the wire.
struct WirePacket {
  uint8_t sequence = 0;
  uint8_t command = 0;
  std::vector<uint8_t> payload;
};

// Independent framing for the tests: USB (16-bit length) or serial (8-bit).
std::vector<uint8_t> FramePacket(bool usb, uint8_t sequence, uint8_t command,
                                 const std::vector<uint8_t>& payload);
// Parses one written packet (the padding of USB writes is ignored).
WirePacket ParseWritten(bool usb, const std::vector<uint8_t>& bytes);

struct FakeLine {
  explicit FakeLine(FakeClock& clock, bool usb) : clock(clock), usb(usb) {}

  // Bytes (serial) or one transfer (USB) that arrive at time `at`.
  struct Arrival {
    uint64_t at;
    std::vector<uint8_t> bytes;
  };

  // Queues bytes to arrive delayMs from now (after earlier arrivals).
  void Send(const std::vector<uint8_t>& bytes, uint64_t delayMs = 0);

  FakeClock& clock;
  bool usb;
  std::deque<Arrival> incoming;
  std::vector<std::vector<uint8_t>> writes;  // every write, as written
  std::function<void(const std::vector<uint8_t>&)> onWrite;
  int purges = 0;
  int reads = 0;
  bool readFault = false;        // reads report Fault
  bool writeFault = false;       // writes report Fault
  int usbPollsUntilPresent = 0;  // USB polls that find nothing before the receiver appears
  int usbPolls = 0;
  std::string usbDiagnostic;  // reported while the receiver is not yet present
  bool serialOpenFails = false;
  int opens = 0;
  int openTransports = 0;  // transports alive now
};

// Link devices on the fake line: a serial open and a USB poll that hand out
// transports over it, the fake clock, and a fixed date text "DATE TIME".
LinkDevices MakeDevices(const std::shared_ptr<FakeLine>& line);

// A receiver that answers the link's commands.
class MiniReceiver {
 public:
  explicit MiniReceiver(std::shared_ptr<FakeLine> line);

  // Serial: the announcement a receiver sends after booting (command 1).
  void Announce(uint64_t delayMs = 0);

  std::map<uint8_t, std::vector<uint8_t>> blocks;  // served on download, as sent
  uint16_t systemId = 406;
  std::vector<uint8_t> info = std::vector<uint8_t>(32, 0xA5);
  uint8_t replySequence = 0x10;
  uint64_t replyDelayMs = 1;

  // Fault switches.
  bool silent = false;                   // answers nothing
  bool silentData = false;               // answers everything but data requests
  int dropDataReplies = 0;               // the next n data requests go unanswered
  int corruptDataReplies = 0;            // the next n data replies have a payload byte changed after framing
  int overlongDataReplies = 0;           // the next n data replies carry one byte more than asked for
  int ignoreModeRequests = 0;            // USB: the next n mode requests go unanswered
  int64_t announceAfterRebootMs = -1;    // serial: announce this long after a reboot command
  bool echoSequence = false;             // replies carry their request's sequence byte, not replySequence
  std::deque<uint64_t> dataReplyDelays;  // delays of the next data replies, in turn (then replyDelayMs)
  std::deque<uint64_t> sizeReplyDelays;  // delays of the next block-size replies, in turn
  int dropSizeReplies = 0;               // the next n block selections go unanswered
  int corruptSizeReplies = 0;            // the next n block-size replies have a wrong checksum
  int32_t sizeOverride = -1;             // block size reported instead of the real one
  std::function<void()> onDataRequest;   // called for every data request

  // Upload: after the mode answer the receiver asks for uploadSize bytes in
  // pieces of uploadPiece bytes, then reports the block complete.
  int32_t uploadSize = 0;
  int32_t uploadPiece = 255;
  std::vector<std::pair<uint32_t, uint32_t>> extraUploadRequests;  // (offset, count) asked first
  std::vector<uint8_t> uploaded;
  // Upload sessions in turn that stop asking after this many answers (the
  // receiver gives up; it asks again only after the next reboot).
  std::deque<int> uploadStopsAfter;

  std::vector<WirePacket> received;                    // every packet from the link
  std::vector<std::pair<uint32_t, int>> dataRequests;  // (offset, count) of every 04

 private:
  // SystemID (BE16) and the information bytes: the announcement and the mode reply.
  std::vector<uint8_t> ModePayload() const;
  void OnPacket(const WirePacket& packet);
  void Reply(uint8_t command, const std::vector<uint8_t>& payload, bool corrupt = false);
  void ReplyTo(const WirePacket& request, uint8_t command, const std::vector<uint8_t>& payload,
               bool corrupt = false, uint64_t delayMs = 0);
  void RequestUpload(uint32_t offset, uint32_t count);
  void NextUploadRequest();

  std::shared_ptr<FakeLine> line_;
  uint32_t uploadOffset_ = 0;
  uint8_t currentBlock_ = 0;
  std::deque<std::pair<uint32_t, uint32_t>> pendingRequests_;
  int answersUntilStop_ = -1;  // of this upload session; -1: asks to the end
};

// The whole text of a file ("" when missing).
std::string ReadText(const std::string& path);

}  // namespace tolv::test
