// The emulated receiver: a model of a receiver's loader that speaks the packet
// protocol over a ReceiverPort (a pseudo-terminal or emulated USB pipes).
//
// What it does, as a real receiver does:
// - Running normally it ignores the link, except for the reboot command (0B).
// - After a reboot it starts its loader. On a serial line the loader sends
//   some junk bytes, a text packet (command 0xFF) and its announcement
//   (command 1: SystemID and 32 information bytes), then waits a short time
//   for 03 (download) or 02 (upload); on USB it waits for 03 or 01 and answers
//   with command 2 (same payload). Without an answer it boots normally.
// - Download: 07 selects a block and is answered by 08 with the block size
//   (24 bits); 04 (count, offset) is answered by 05 with the data. The
//   firmware goes out as sections; 06 ends the session.
// - Upload: the receiver asks for the TFD image piece by piece with 04, ends
//   with 06, then checks the whole image and takes its blocks (all or nothing).
//
// The fault switches make it misbehave in the ways a real line or receiver
// can. The receiver runs on its own thread (SimulatedReceiver); its memory,
// events and counters may be read from any thread.
#pragma once

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "random_faults.h"
#include "receiver_memory.h"
#include "sim_packets.h"

namespace tolv::sim {

using SimClock = std::chrono::steady_clock;

// The receiver's end of the cable.
class ReceiverPort {
 public:
  virtual ~ReceiverPort() = default;
  virtual bool IsUsb() const = 0;
  // The next valid packet from the host, waiting until deadline; nothing on
  // time-out or when stop is requested. With a deadline already past, a
  // packet that has arrived is still returned. Malformed input is dropped here.
  virtual std::optional<SimPacket> Receive(SimClock::time_point deadline, const std::stop_token& stop) = 0;
  // Sends framed bytes (a USB port pads them to a whole transfer). Bytes sent
  // while the cable is out are lost.
  virtual void Send(const std::vector<uint8_t>& bytes, const std::stop_token& stop) = 0;
  // Reboot: the receiver leaves the line (USB: the device is unplugged), and
  // comes back with its loader, with nothing buffered from before.
  virtual void BeginReboot() = 0;
  virtual void EndReboot() = 0;
  // The cable is pulled for good.
  virtual void Disconnect() = 0;
};

struct ReceiverTiming {
  int bootMs = 1500;                // reboot command until the loader is on the line
  int modeWaitMs = 3000;            // loader waits this long for the mode request
  int sessionIdleMs = 30000;        // a session without a request for this long ends
  int uploadReplyTimeoutMs = 1000;  // upload: wait for each 05 before asking again
  int uploadRequestTries = 5;       // upload: tries per piece before giving up
};

// The sequence byte a receiver puts into its replies.
enum class ReplyNumbering {
  Echo,    // the sequence byte of the request answered
  Own,     // the receiver's own counter, two up for every reply (the request and the reply)
  Newest,  // the last sequence byte seen when the reply goes out: a late reply carries the
           // number of a request that came while it was delayed
  None,    // every reply numbered 0
};

// The numbering named by text ("echo", "own", "newest", "none"); nothing for
// any other text.
std::optional<ReplyNumbering> ReplyNumbering_Parse(const std::string& text);

struct FaultSwitches {
  bool silent = false;               // sends nothing at all
  std::bitset<256> ignoredCommands;  // requests with these codes are not acted on
  int dropEveryNthData = 0;          // every Nth data reply (05) is not sent
  int corruptEveryNthData = 0;       // every Nth data reply (05) has a wrong checksum
  int replyDelayMs = 0;              // pause before every reply
  int disconnectAfterData = -1;      // the cable is pulled instead of data reply N+1
  int32_t blockSizeDelta = 0;        // added to every reported block size; extra bytes read as 0
  int junkBeforeReplies = 0;         // serial: junk bytes sent before every reply
  bool acceptAnySystemId = false;    // upload: take images made for another model too
  // Every Nth data reply (05) comes lateMs late, after the link's time-outs
  // (200 ms on USB, 300 ms of silence on a serial line): the link asks again
  // and the receiver, answering in order, then sends both replies.
  int lateEveryNthData = 0;
  int lateMs = 450;
  // Every Nth data reply is sent twice: the copy at once, or (late) lateMs
  // after the first while the receiver goes on serving requests.
  int duplicateEveryNthData = 0;
  int duplicateLateEveryNthData = 0;
  // Every Nth data reply is held until the next data reply has gone out: the
  // host asks again after its time-out, and the receiver answers the repeat
  // first, then the request it held.
  int overtakeEveryNthData = 0;
  // Every block-size reply (08) is sent again lateMs later.
  bool duplicateSizes = false;
  // A data reply carries at most this many bytes (0: as many as asked).
  int maxReplyBytes = 0;
  // How replies (mode, block size, data) are numbered.
  ReplyNumbering numbering = ReplyNumbering::Echo;
  // Upload: ask for the image in fixed pieces of this many bytes, from offset
  // 0 on, until the pieces hold the whole image: the last one runs past its
  // end. 0: ask for exactly the bytes the image holds.
  size_t uploadPiece = 0;
  // Faults drawn at random from faultSeed for every packet of a transfer:
  // block sizes (08), data replies (05) and upload requests (04). They come
  // on top of the switches above.
  RandomFaultChances randomFaults;
  uint64_t faultSeed = 1;
  // The cable is pulled instead of sending packet N+1 of the transfers (block
  // sizes, data replies and upload requests counted together): in the
  // middle of an upload as well as of a download.
  int unplugAfterPackets = -1;
  // Every Nth data reply carries one wrong data byte in a packet whose
  // checksum holds, as from a receiver that misreads its own memory: no
  // host can tell. For checking that wrong bytes are noticed downstream.
  int garbleEveryNthData = 0;
  // An accepted upload that carries this block type (kSimLoader..
  // kSimBackground) is stored with one byte wrong: the lowest bit of its
  // middle byte flipped, as a failing flash cell would keep it. -1: none.
  int storeWrongBlock = -1;
};

struct ReceiverOptions {
  ReceiverTiming timing;
  FaultSwitches faults;
  bool startInLoader = false;  // start as just rebooted (else running normally)
};

struct ReceiverStats {
  int reboots = 0;
  int modeReplies = 0;
  int blockRequests = 0;  // 07
  int dataRequests = 0;   // 04 in download
  int dataReplies = 0;    // 05 sent (dropped ones included)
  int droppedReplies = 0;
  int corruptedReplies = 0;
  int lateReplies = 0;
  int uploadRequests = 0;   // 04 sent in upload (repeats included)
  int transferPackets = 0;  // 08, 05 and 04 sent (lost ones included)
  int garbledReplies = 0;
  int duplicatedReplies = 0;  // copies sent (or to be sent) of replies already sent
  int heldReplies = 0;        // data replies held until after the next one
  int uploadsAccepted = 0;
  int uploadsRefused = 0;
};

class Receiver {
 public:
  enum class State { Normal, Loader, Download, Upload, Disconnected };

  Receiver(ReceiverMemory memory, ReceiverOptions options);

  // Runs the receiver on port until stop is requested.
  void Run(ReceiverPort& port, std::stop_token stop);

  ReceiverMemory MemorySnapshot() const;
  ReceiverStats Stats() const;
  State CurrentState() const;
  // Every event so far, in order ("reboot", "download mode", "upload: image
  // accepted: blocks 0 2", ...).
  std::vector<std::string> Events() const;
  // Waits up to timeoutMs for an event containing text; true when one came.
  bool WaitForEvent(const std::string& text, int timeoutMs) const;
  // Also hands every event to sink as it happens (from the receiver thread).
  void SetEventSink(std::function<void(const std::string&)> sink);

 private:
  void Note(const std::string& event);
  // Adds one to a counter of stats_; returns its new value.
  int Count(int ReceiverStats::*counter);
  void SetState(State state);
  bool SleepFor(int ms, const std::stop_token& stop);
  // Sends a packet the receiver starts (announcement, upload request, end).
  void SendPacket(ReceiverPort& port, uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload,
                  bool isData, const std::stop_token& stop);
  // The random faults of a packet with this command: none but for block
  // sizes, data replies and upload requests. True when the cable is to be
  // pulled instead of sending it (--unplug-after).
  bool DrawFate(const ReceiverPort& port, uint8_t command, PacketFate& fate);
  // The payload of data reply n as sent: garbled when its turn has come.
  std::vector<uint8_t> DataAsSent(int n, const std::vector<uint8_t>& payload);
  // The cable is out for good, after the event is told.
  void PullCable(ReceiverPort& port, const std::string& event);
  // Sends the reply to request, numbered as it goes out (after any delay).
  void SendReply(ReceiverPort& port, const SimPacket& request, uint8_t command,
                 const std::vector<uint8_t>& payload, bool isData, const std::stop_token& stop);
  void Transmit(ReceiverPort& port, const SimPacket* request, uint8_t sequence, uint8_t command,
                const std::vector<uint8_t>& payload, bool isData, const std::stop_token& stop);
  // The repeating faults of reply n (0 unless data), just sent as bytes:
  // its copies, and the release of a held reply.
  void Repeat(const PacketFate& fate, const SimPacket& request, uint8_t command,
              const std::vector<uint8_t>& body, int n, const std::vector<uint8_t>& bytes, ReceiverPort& port,
              const std::stop_token& stop);
  // Sends a reply numbered as it goes out, without faults.
  void SendLater(ReceiverPort& port, const SimPacket& request, uint8_t command,
                 const std::vector<uint8_t>& body, const std::stop_token& stop);
  // Sends the replies whose time has come.
  void SendDue(ReceiverPort& port, const std::stop_token& stop);
  std::vector<uint8_t> ModePayload() const;
  // The sequence byte of the reply to request, by the numbering in use.
  uint8_t ReplySequence(const SimPacket& request);
  // The next packet from the host: one taken in earlier first, else from the
  // port, waiting until deadline. Every packet read is "seen".
  std::optional<SimPacket> NextPacket(ReceiverPort& port, SimClock::time_point deadline,
                                      const std::stop_token& stop);
  // Reads what has arrived meanwhile (without waiting) into the backlog, so
  // that its sequence bytes count as seen.
  void TakeInArrivals(ReceiverPort& port, const std::stop_token& stop);
  bool Ignored(const SimPacket& packet) const;

  void RunNormal(ReceiverPort& port, const std::stop_token& stop);
  void Reboot(ReceiverPort& port, const std::stop_token& stop);
  void StartLoader(ReceiverPort& port, const std::stop_token& stop);
  void RunLoader(ReceiverPort& port, const std::stop_token& stop);
  void RunDownload(ReceiverPort& port, const std::stop_token& stop);
  void ServeData(ReceiverPort& port, const SimPacket& request, const std::vector<uint8_t>& block,
                 const std::stop_token& stop);
  void RunUpload(ReceiverPort& port, const std::stop_token& stop);
  // The storeWrongBlock fault, on an image that was just taken into memory.
  void StoreOneByteWrong(ReceiverMemory& memory, const TfdIntake& intake);
  bool FetchUpload(ReceiverPort& port, size_t offset, size_t count, std::vector<uint8_t>& image,
                   const std::stop_token& stop);
  bool FetchInFixedPieces(ReceiverPort& port, std::vector<uint8_t>& image, const std::stop_token& stop);
  bool FetchPiece(ReceiverPort& port, size_t offset, size_t count, std::vector<uint8_t>& image,
                  const std::stop_token& stop);

  const ReceiverOptions options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  ReceiverMemory memory_;
  // The firmware as a download sends it, made ahead: a receiver answers the
  // block request at once.
  std::vector<uint8_t> firmwareSections_;
  ReceiverStats stats_;
  State state_ = State::Normal;
  std::vector<std::string> events_;
  std::function<void(const std::string&)> sink_;
  FaultDice dice_;
  uint8_t sequence_ = 0;           // the receiver's own sequence counter
  uint8_t newestSeen_ = 0;         // sequence byte of the last packet read from the host
  std::deque<SimPacket> backlog_;  // packets read ahead by TakeInArrivals, not yet acted on
  struct LaterReply {
    SimClock::time_point due;
    SimPacket request;
    uint8_t command;
    std::vector<uint8_t> body;
  };
  std::deque<LaterReply> later_;    // replies to go out at their time, in that order
  std::optional<LaterReply> held_;  // a data reply held until the next one has gone out
  bool rebootRequested_ = false;    // a 0B came in during an upload
  SimClock::time_point loaderDeadline_{};
};

// A receiver running on its own thread over a port it owns. Destruction stops
// the thread and waits for it.
class SimulatedReceiver {
 public:
  SimulatedReceiver(std::unique_ptr<ReceiverPort> port, ReceiverMemory memory, ReceiverOptions options);
  ~SimulatedReceiver();
  SimulatedReceiver(const SimulatedReceiver&) = delete;
  SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

  // Stops the receiver and waits for its thread, which first finishes what it
  // must not leave half done (taking an upload whose end it has confirmed, and
  // the event calls that follow). Afterwards its memory no longer changes.
  // Calling it again does nothing.
  void Stop();

  Receiver& receiver() { return receiver_; }
  const Receiver& receiver() const { return receiver_; }
  ReceiverPort& port() { return *port_; }

 private:
  std::unique_ptr<ReceiverPort> port_;
  Receiver receiver_;
  std::jthread thread_;
};

}  // namespace tolv::sim
