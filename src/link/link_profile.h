// The figures of a transport: how long the link waits on it, how much it
// reads and sends at a time, and how requests are coded on it. A link takes
// one profile at Open, from the device it opens.
#pragma once

#include <cstdint>

#include "link/packet.h"

namespace tolv {

struct LinkProfile {
  // USB or a serial line: the framing, the order of the mode handshake and
  // the wait for a chunk differ in kind, not only in figures.
  bool usb = false;
  // One read: at most readSize bytes, within readTimeoutMs.
  int32_t readSize = 0;
  int readTimeoutMs = 0;
  // A write of n bytes may take writeMsPerByte * n + writeBaseMs.
  int writeMsPerByte = 0;
  int writeBaseMs = 0;
  // The port has queues a purge empties, and a read of 0 ms returns what
  // they hold at once: stale bytes are purged, not read until a read finds
  // nothing.
  bool purgeable = false;
  // Discarding what waits on the line before a session: one read of this long.
  int staleReadMs = 0;
  // Command code of the upload-mode request.
  uint8_t uploadModeCommand = 0;
  // Width of a data request's count (BE), before its 24-bit offset.
  int requestCountBytes = 0;
  // Largest payload of one packet, and the payload of one download chunk.
  uint32_t maxPayload = 0;
  int32_t chunkSize = 0;
  // A serial chunk's reply counts as late when the line has been silent this
  // long (on USB a read's own time-out is the measure).
  int silenceMs = 0;
  // Longest the link waits for the reply to one request; a reply comes
  // within it or never.
  int replyDeadlineMs = 0;
};

// USB: one 30208-byte read holds a 30000-byte reply, within 200 ms; a write
// within 100 ms.
inline constexpr LinkProfile kUsbProfile = {
    .usb = true,
    .readSize = kUsbReadSize,
    .readTimeoutMs = 200,
    .writeMsPerByte = 0,
    .writeBaseMs = 100,
    .purgeable = false,
    .staleReadMs = 20,
    .uploadModeCommand = 0x01,
    .requestCountBytes = 2,
    .maxPayload = kUsbMaxPayload,
    .chunkSize = 30000,
    .silenceMs = 0,
    .replyDeadlineMs = 1000,
};

// Serial: bytes one at a time, a read returning after 50 ms of silence; a
// packet carries at most 255 bytes.
inline constexpr LinkProfile kSerialProfile = {
    .usb = false,
    .readSize = 1,
    .readTimeoutMs = 50,
    .writeMsPerByte = 100,
    .writeBaseMs = 1000,
    .purgeable = true,
    .staleReadMs = 0,
    .uploadModeCommand = 0x02,
    .requestCountBytes = 1,
    .maxPayload = kSerialMaxPayload,
    .chunkSize = 255,
    .silenceMs = 300,
    .replyDeadlineMs = 2000,
};

}  // namespace tolv
