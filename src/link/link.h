// The receiver link: one connection to a receiver (a "Toppy") over USB or a
// serial port, the packet dialogue on it and the session operations built from
// that dialogue.
//
// `Link` is the session: it opens the device, runs the mode handshakes, the
// reboot and the end, and holds the callback, the log and what the receiver
// reported. Its parts: the PacketChannel (link/packet_channel.h: the
// transport, framing, buffers, cancel flag), the BlockDownload
// (link/block_download.h, with the ReplyMatcher) and the upload
// (link/block_upload.h). The program uses one process-wide instance through
// the Comm_* functions of link/comm.h; tests and tools make their own, with
// their own devices and clock.
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

#include "link/block_download.h"
#include "link/link_log.h"
#include "link/link_types.h"
#include "link/packet_channel.h"
#include "link/transfer_context.h"
#include "link/transport.h"

namespace tolv {

// How a link reaches its devices. Empty members fall back to the real ones:
// Serial_Open, Link_PollUsb (the process's USB provider at the time of the
// poll) and SystemLinkClock.
struct LinkDevices {
  std::function<std::unique_ptr<Transport>(const std::string& name, std::string* diagnostic)> openSerial;
  UsbProvider pollUsb;
  LinkClock* clock = nullptr;
  std::function<std::string()> nowText;  // date and time of the log's opening and closing lines
};

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

  bool isOpen() const { return channel_.isOpen(); }
  LinkClock& clock() { return *clock_; }
  bool useUsb() const { return channel_.profile().usb; }

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

  // --- Parts ---------------------------------------------------------------

  // The packet channel, as the session operations left it (sequence number,
  // last packet, profile).
  const PacketChannel& channel() const { return channel_; }
  bool canceled() const { return channel_.canceled(); }
  TransferDirection transferDirection() const { return transferDirection_; }

 private:
  void Notify(uint8_t status, double value);
  void LogStep(std::string_view operation, std::string_view message);
  int32_t OpenUsb();
  int32_t OpenSerial(const std::string& device);
  int32_t ModeHandshake(bool upload);
  int32_t ModeWaitUsb(bool upload);
  int32_t ModeWaitSerial(bool upload);
  void TakeReceiverInfo();

  LinkDevices devices_;
  LinkClock* clock_;
  LinkLog log_;
  CommCallback callback_;
  PacketChannel channel_;
  BlockDownload download_;
  int receiverWaitLimitMs_ = 0;  // see SetReceiverWaitLimit
  TransferDirection transferDirection_ = TransferDirection::Download;
  int32_t reportedSystemId_ = 0;
  int32_t transferSize_ = 0;
  std::array<uint8_t, kReceiverInfoSize> reportedInfo_{};
  std::string usbDiagnostic_;
  std::string openDiagnostic_;
};

}  // namespace tolv
