// Time-outs, limits and helpers shared by the link's implementation files.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link_profile.h"
#include "link/packet.h"

namespace tolv::link_detail {

// Pause after the reboot command, so the receiver takes it before the port closes.
inline constexpr int kRebootPauseMs = 600;
// Pace of the polls for the USB receiver: a loader may listen only a few
// tens of milliseconds after it appears, so the first kUsbFastPollPhaseMs of
// a wait poll every kUsbFastPollMs; a longer wait eases off.
inline constexpr int kUsbFastPollMs = 2;
inline constexpr int kUsbSlowPollMs = 10;
inline constexpr int kUsbFastPollPhaseMs = 10000;
// Discarding what waits on the line before a session: at most this many
// reads (USB transfers) are taken off it.
inline constexpr int kMaxStaleReads = 64;
// The fifth time-out of one chunk ends the transfer.
inline constexpr int kMaxTimeouts = 5;
// Requests of one chunk, first and repeated, before the transfer is given up
// even though bytes keep arriving (a line that never completes a reply).
inline constexpr int kMaxRequestsPerChunk = 16;
// The block size, on either transport: each 07 waits this long for its reply;
// when none came (lost, damaged or late), the line is let fall quiet (a late
// reply taken meanwhile) and the 07 sent again, up to kBlockSizeRequests 07s.
inline constexpr int kBlockSizeReplyMs = 1000;
inline constexpr int kBlockSizeRequests = 5;
// During an upload the receiver asks for every piece, and asks again when an
// answer does not reach it; on either transport it has given up when it has
// not asked for this long.
inline constexpr int kUploadRequestSilenceMs = 10000;
// Before the next chunk, replies owed to earlier requests are waited for
// until the line has been quiet this long, on either transport: as long as a
// serial chunk waits for its own reply before its fifth time-out.
inline constexpr int kOwedReplyQuietMs =
    kSerialProfile.silenceMs + (kMaxTimeouts - 1) * kSerialProfile.readTimeoutMs;
// Callback calls during long waits that otherwise make none.
inline constexpr int kKeepAliveMs = 250;
// A line is quiet when nothing has come from the receiver for this long:
// replies still due to earlier requests have come by then. A line that does
// not go quiet within kQuietLineCapMs ends the transfer.
inline constexpr int kQuietLineMs = 1500;
inline constexpr int kQuietLineCapMs = 8000;

// Operation names of the block transfer's log lines; two of the lines spell
// it with a lower-case "b".
inline constexpr const char* kTransfer = "Comm_TransferBlock";
inline constexpr const char* kTransferLower = "Comm_Transferblock";

// Progress in percent of a transfer (0 while the total is unknown or zero).
inline double Percent(int64_t done, int64_t total) {
  return total > 0 ? static_cast<double>(done) / total * 100.0 : 0;
}

// The first N payload bytes of packet, zero past its end: the fields of a
// short reply read as if its missing bytes were zero.
template <size_t N>
std::array<uint8_t, N> PayloadHead(const ToppyPacketType& packet) {
  std::array<uint8_t, N> head{};
  std::copy_n(packet.Data.begin(), std::min(N, packet.Data.size()), head.begin());
  return head;
}

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tolv::link_detail
