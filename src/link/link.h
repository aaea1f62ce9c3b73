// The receiver link: one connection to a receiver (a "Toppy") over USB or a
// serial port, the packet dialogue on it and the session operations built from
// that dialogue.
//
// `Link` holds the whole link state (device, buffers, sequence number, cancel
// flag, callback, log). The program uses one process-wide instance through the
// Comm_* functions of link/comm.h; tests and tools make their own, with their
// own devices and clock.
//
// Single-threaded: every call, callbacks included, runs on the caller's
// thread. The callback may call Cancel (and only Cancel) on the same link
// re-entrantly; every wait of the link polls the cancel flag, and after a
// cancel every wait gives up at once until the next Open.
//
// Result codes are those of results/result_codes.h. Log and dump writes that
// fail throw FileError out of whichever operation was logging.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/firmware_sections.h"
#include "link/link_log.h"
#include "link/packet.h"
#include "link/reply_matcher.h"
#include "link/transport.h"

namespace tolv {

// Status callback of the link: status 1..9 and a value (see comm_status).
using CommCallback = std::function<void(uint8_t status, double value)>;

// The statuses the link reports through the callback.
namespace comm_status {
inline constexpr uint8_t kWaitingForUsb = 1;  // before every poll for the USB receiver; value 0
inline constexpr uint8_t kDeviceOpened = 2;   // device open; again on every pass of a serial mode wait
inline constexpr uint8_t kDownloadMode = 3;   // download mode reached
inline constexpr uint8_t kUploadMode = 4;     // upload mode reached
inline constexpr uint8_t kBlockStarted = 5;   // value: the block type
inline constexpr uint8_t kProgress = 6;       // value: percent done, 0..100
inline constexpr uint8_t kSessionEnded = 7;
inline constexpr uint8_t kDeviceClosed = 8;
inline constexpr uint8_t kCancelRequested = 9;
}  // namespace comm_status

// Block types of receiver transfers (the component numbers).
inline constexpr uint8_t kBlockLoader = 0;
inline constexpr uint8_t kBlockFirmware = 1;
inline constexpr uint8_t kBlockFlash = 2;
inline constexpr uint8_t kBlockEeprom = 3;
inline constexpr uint8_t kBlockDefaults = 4;

// Size of the receiver information that follows the SystemID in a mode reply.
inline constexpr int32_t kReceiverInfoSize = 32;
// An upload is served from an area of this size (the TFD image buffer): the
// data offered, then zeros. A receiver may ask for fixed pieces that run past
// the end of the image.
inline constexpr int32_t kUploadAreaSize = 8388608;

// Without a callback nobody can cancel, so the waits that otherwise last
// until the receiver answers or the user cancels (the USB receiver wait, the
// serial mode waits, the upload-mode retries) give up after this long.
inline constexpr int kUnattendedWaitMs = 10000;

// Monotonic time for the link's time-outs and pauses. Tests substitute a clock
// that advances only when the fake device waits.
class LinkClock {
 public:
  virtual ~LinkClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(int ms) = 0;
};

// The steady clock of the machine.
LinkClock& SystemLinkClock();

// How a link reaches its devices. Empty members fall back to the real ones:
// Serial_Open, Link_PollUsb (the process's USB provider at the time of the
// poll) and SystemLinkClock.
struct LinkDevices {
  std::function<std::unique_ptr<Transport>(const std::string& name, std::string* diagnostic)> openSerial;
  UsbProvider pollUsb;
  LinkClock* clock = nullptr;
  std::function<std::string()> nowText;  // date and time of the log's opening and closing lines
};

enum class TransferDirection { Download, Upload };

class Link {
 public:
  explicit Link(LinkDevices devices = {});
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // --- Connection -----------------------------------------------------------

  // Opens device: "USB" in any case selects the USB receiver, any other text
  // is a serial port name. Stores callback (may be empty), clears the cancel
  // flag and the serial receive buffer. A connection still open from an
  // earlier Open is closed first, quietly.
  // USB: polls for the receiver, calling the callback with status 1 before
  // each poll, until it is found (then status 2, result 0) or the cancel flag
  // is set (2322). A loader may listen only for a few tens of milliseconds
  // after it appears, so the polls follow each other within 2 ms for the
  // first 10 s of the wait and within 10 ms after that. A receiver that is present but unusable is
  // logged with the reason (once per distinct reason) and kept polling; see
  // usbDiagnostic(). Without a callback the wait ends after kUnattendedWaitMs
  // with kOpenUsbNotFound.
  // Serial: opens and sets up the port (status 2, result 0) or returns 2321
  // without calling the callback.
  int32_t Open(const std::string& device, CommCallback callback);

  // With ms > 0, the USB wait of Open ends after ms with kOpenUsbNotFound and
  // a serial mode wait with its time-out also when there is a callback (a
  // receiver expected back after a restart); 0 (the start) leaves only the
  // waits without a callback bounded (kUnattendedWaitMs).
  void SetReceiverWaitLimit(int ms) { receiverWaitLimitMs_ = ms; }

  // Closes the connection if open, calls the callback with status 8. Always
  // 0; harmless when closed.
  int32_t Close();

  bool isOpen() const { return transport_ != nullptr; }
  LinkClock& clock() { return *clock_; }
  bool useUsb() const { return useUsb_; }

  // Why the last USB poll found the receiver unusable; empty when it was
  // simply absent or was found.
  const std::string& usbDiagnostic() const { return usbDiagnostic_; }

  // Why the last Open of a serial port failed (2321), as Serial_Open said it:
  // "/dev/ttyUSB0: no permission to use it: ..."; empty after an Open that
  // succeeded or went to USB.
  const std::string& openDiagnostic() const { return openDiagnostic_; }

  // --- Session operations ---------------------------------------------------

  // Tells the receiver to restart (command 0B, then a 600 ms pause). What is
  // waiting on the line from before (such as the announcement of an earlier
  // reboot that nobody read) is discarded first, so that the session that
  // follows cannot take it for its own; whatever comes after the reboot
  // command is kept. 0; 2353 when not open; kRebootNotSent when the command
  // could not be written (the port failed, or a cancel on USB).
  int32_t Reboot();

  // Brings the receiver into download mode. USB: sends 03 and waits for the
  // reply (command 2). Serial: waits, calling the callback with status 2 on
  // every pass, for the receiver's announcement (command 1) after its boot,
  // then answers 03. Takes the SystemID and the 32 information bytes from the
  // reply (missing bytes read as zero), status 3. Results: 0; 2369 not open;
  // 2370 cancelled; 2371 no answer in time (USB: one 200 ms read; serial:
  // without a callback after kUnattendedWaitMs, and at once when the port has
  // failed, see WaitForCMD).
  int32_t DownloadMode();

  // As DownloadMode for upload mode: sends 02 (command code 1 on USB), status
  // 4. Results: 0; 2385; 2386; 2387.
  int32_t UploadMode();

  // Moves one block. Status 5 with the block type first.
  // Download (after DownloadMode): *size is set to 0, the block of blockType
  // is fetched in chunks (30000 bytes on USB, 255 on a serial line) into
  // buffer, and *size set to its length; a firmware block (type 1) arrives as
  // sections and is expanded into buffer. Never writes past bufferCapacity.
  // A chunk whose reply is late is asked for again, for one byte less (the
  // serial queues emptied first); the fifth time-out of one chunk ends the
  // transfer. Replies whose checksum fails, or that are longer than asked
  // for, are never stored: the time-out path recovers them. A late reply is
  // never stored as the data of another offset, whatever the receiver's
  // sequence numbers (link/reply_matcher.h tells how); replies still owed to
  // earlier requests are let come before the next chunk is asked for. On any
  // failure *size stays 0.
  // Upload (after UploadMode): the receiver asks for pieces of the *size bytes
  // in buffer until it reports the block complete; *size is unchanged and
  // buffer is only read. Pieces past the end of the data, within
  // kUploadAreaSize, are served as zeros.
  // Results: 0; 2401 not open; 2402 cancelled; 2403 time-out;
  // kTransferBlockTooLarge (the reported block or its expansion does not fit
  // bufferCapacity or the work area); kTransferBadBlockData (firmware
  // sections malformed or not decodable); kTransferBadRequest (an upload
  // request beyond kUploadAreaSize or larger than a packet).
  // size is never null; buffer may be null only with bufferCapacity 0.
  int32_t TransferBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size);

  // Ends the exchange (command 06), status 7. 0; 2417 when not open, without
  // a callback call. The 06 is sent after a cancel too.
  int32_t End();

  // Sets the cancel flag (sends nothing), status 9. Always 0. May be called
  // from inside the callback.
  int32_t Cancel();

  // SystemID (0..65535) and the 32 information bytes of the last mode reply.
  // info may be null; otherwise it receives kReceiverInfoSize bytes.
  void GetReceiverInfo(int32_t* systemId, uint8_t* info) const;

  // Bytes of the block under way as they travel on the wire: in a download
  // the size the receiver reported (a firmware's sections, not its expanded
  // size), in an upload the size of the data offered. 0 from the start of
  // TransferBlock until the receiver has reported the size; afterwards the
  // last block's size. With status 6's percentage it gives the bytes moved,
  // for a display of bytes and rate.
  int32_t transferSize() const { return transferSize_; }

  // --- Log --------------------------------------------------------------------

  // See LinkLog::SetLogFile and LinkLog::Log.
  void SetLogFile(const std::string& fileName) { log_.SetLogFile(fileName); }
  void Log(std::string_view line) { log_.Log(line); }
  LinkLog& log() { return log_; }

  // --- Packet layer (used by the session operations; public for tests) -------

  // Frames the payload in txData() (payloadSize bytes) with SeqNo and command
  // and writes it. False on a refused size, time-out, failure or (USB) cancel.
  bool SendPacket(uint8_t command, int32_t payloadSize);

  // Receives: USB one read of up to 30208 bytes, serial at most one byte.
  // rxPacket().Command is non-zero when a packet was parsed (its checksum
  // matched). False when a USB read timed out or failed, or the cancel flag
  // was set; on a serial line false from the first fault of the port (a
  // read or a write) until the next Open, after a pause of the read
  // time-out: a port that failed (an adapter pulled out) brings no reply any
  // more, so the waits built on this one give up at once.
  bool WaitForCMD();

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

  uint8_t* txData() { return txData_.data(); }
  const ToppyPacketType& rxPacket() const { return rxPacket_; }
  uint8_t seqNo() const { return seqNo_; }
  bool canceled() const { return globalCancel_; }
  TransferDirection transferDirection() const { return transferDirection_; }
  int32_t serialRxCount() const { return serialRx_.count(); }

 private:
  void Notify(uint8_t status, double value);
  void LogStep(std::string_view operation, std::string_view message);
  int32_t OpenUsb();
  int32_t OpenSerial(const std::string& device);
  bool WaitUsb();
  bool WaitSerial();
  int32_t ModeHandshake(bool upload);
  int32_t ModeWaitUsb(bool upload);
  int32_t ModeWaitSerial(bool upload);
  void TakeReceiverInfo();
  void DiscardWaitingInput();
  int32_t Download(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size);
  int32_t DownloadBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size);
  int32_t RequestBlockSize(uint8_t blockType, uint32_t* blockSize);
  int32_t WaitBlockSize(bool untilQuiet, bool* taken);
  bool IsOwnBlockSizeReply();
  int32_t FetchChunk(uint8_t* buffer, int32_t offset, int32_t remaining, int32_t* received, double percent);
  void RequestChunk(int32_t offset);
  int32_t WaitChunkUsb(int32_t offset, double percent);
  int32_t WaitChunkSerial(int32_t offset, double percent);
  int32_t ChunkTimedOut(int* timeouts, int32_t offset, double percent);
  bool IsDataPacket() const;
  bool IsWantedData();
  ReplyMatcher::Verdict JudgeDataReply();
  void LogLearnt(ReplyMatcher::Numbering before, ReplyMatcher::Numbering after, const char* kind);
  int32_t AwaitReplies(double percent, const std::function<bool()>& done);
  int32_t AwaitQuietLine(double percent);
  int32_t ExpandFirmware(uint8_t* buffer, int32_t blockSize, int32_t bufferCapacity, int32_t* expandedSize);
  int32_t Upload(const uint8_t* data, int32_t dataSize);
  int32_t AnswerUploadRequest(const uint8_t* data, int32_t dataSize, int32_t* requestedOffset);
  int32_t CancelExit();
  int32_t FinishTransfer(int32_t size);

  LinkDevices devices_;
  LinkClock* clock_;
  LinkLog log_;
  CommCallback callback_;
  std::unique_ptr<Transport> transport_;
  bool useUsb_ = false;
  bool globalCancel_ = false;
  int receiverWaitLimitMs_ = 0;  // see SetReceiverWaitLimit
  bool serialFault_ = false;     // the serial port reported a fault since Open
  bool readFault_ = false;       // the last WaitForCMD met a fault of the port or the pipe
  ReplyMatcher matcher_;         // which replies answer the requests of a download
  uint64_t bytesReceived_ = 0;   // every byte read since the link was made
  uint8_t damagedCommand_ = 0;   // command byte of a packet the last WaitForCMD refused for its checksum
  uint8_t seqNo_ = 0;
  TransferDirection transferDirection_ = TransferDirection::Download;
  int32_t reportedSystemId_ = 0;
  int32_t transferSize_ = 0;
  std::array<uint8_t, kReceiverInfoSize> reportedInfo_{};
  std::string usbDiagnostic_;
  std::string openDiagnostic_;
  std::vector<uint8_t> txData_;
  std::vector<uint8_t> txBuf_;
  // One whole USB transfer as read, and the scratch space into which a
  // session's stale bytes are drained on either transport.
  std::vector<uint8_t> readBuffer_;
  SerialReceiver serialRx_;
  ToppyPacketType rxPacket_;
};

}  // namespace tolv
