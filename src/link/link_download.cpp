// Download of one block: the program selects the block (07), the receiver
// answers with its size (08, BE24), and the program asks for the block chunk
// by chunk (04: count and BE24 offset), each answered by a data packet (05).
//
// A data reply carries no offset, and a chunk whose reply is late is asked
// for again, so one chunk may be answered twice. Nothing may ever be stored
// at an offset it was not sent for. What ties a reply to its request:
//
// - Order. The receiver answers its requests one at a time, in the order
//   they came, each at most once: no reply to an earlier request follows the
//   reply to a later one.
// - The sequence byte. A receiver may echo the sequence byte of the request
//   it answers, or number its replies its own way. Which one it does is
//   learnt in every session from replies that, by the order alone, can
//   answer only one known request: a block-size reply while only one 07 of
//   the session is unanswered, and the first reply to a block's first chunk
//   if it came before any repeat (all replies to earlier requests came
//   before the block-size reply). Data replies are taken to be numbered as block-size
//   replies until such a data reply shows how they are; what is learnt holds
//   until the next mode handshake.
// - A quiet line. When no reply to an earlier request can still come, every
//   data reply answers one of the requests for the chunk under way, and all
//   of them ask for the same bytes.
//
// The rules that follow:
// 1. A chunk asked for once and answered needs nothing more: the fast path.
// 2. A chunk asked for more than once may still be answered again after its
//    reply was taken. Before the next offset is asked for, those replies are
//    read and discarded: until as many data packets as requests have come,
//    or (echoing receiver) the reply to the latest request, after which
//    nothing earlier can come; or else until the line has been silent for
//    kQuietLineMs.
// 3. After a block that failed or was cancelled, the next request is sent
//    only on a line silent for kQuietLineMs. The mode handshake starts a
//    session on a loader that has just started, with nothing pending.
// 4. From a receiver that echoes, a reply is taken only when it carries the
//    sequence byte of one of the chunk's own requests (of the 07 for the
//    block size); any other is stale and discarded. So even a reply later
//    than the quiet wait is never stored at another offset.
// 5. From a receiver that numbers its replies its own way, the first data
//    reply after the chunk's request is taken: rules 2 and 3 made the line
//    quiet before it. Only a duplicate later than kQuietLineMs after the
//    line fell silent could be mistaken, and only for a later chunk of the
//    same block (every reply to an earlier block came before this block's
//    size reply); nothing on the wire can tell it apart. Likewise a
//    block-size reply of a failed block later than the quiet wait.
// Replies whose checksum fails or that are longer than asked for are never
// stored, whatever their numbering.

#include <algorithm>
#include <cstring>

#include "codec/crc16.h"
#include "link/link.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr uint8_t kDataReply = 0x05;
constexpr uint8_t kBlockSizeReply = 0x08;

}  // namespace

int32_t Link::Download(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  *size = 0;
  const int32_t outcome = DownloadBlock(blockType, buffer, bufferCapacity, size);
  // Requests of a block that did not finish may still be answered.
  if (outcome != result::kOk) staleRepliesPossible_ = true;
  return outcome;
}

int32_t Link::DownloadBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  if (staleRepliesPossible_) {
    if (const int32_t quiet = AwaitQuietLine(nullptr, 0); quiet != result::kOk) return quiet;
  }
  SendCMD07(blockType);
  ++sizeRepliesDue_;
  uint32_t blockSize = 0;
  if (const int32_t waited = WaitBlockSize(seqNo_, &blockSize); waited != result::kOk) return waited;
  if (log_.enabled()) LogStep(kTransferLower, Format("Reported size of the block=%u", blockSize));
  if (blockSize > static_cast<uint32_t>(bufferCapacity)) {
    LogStep(kTransfer, Format("exiting because the block of %u bytes exceeds the buffer of %d bytes.",
                              blockSize, bufferCapacity));
    return result::kTransferBlockTooLarge;
  }
  const int32_t total = static_cast<int32_t>(blockSize);
  transferSize_ = total;
  const int32_t chunkLimit = useUsb_ ? kUsbChunkSize : kSerialChunkSize;
  int32_t done = 0;
  int emptyReplies = 0;
  bool first = true;
  do {
    const double percent = Percent(done, total);
    Notify(comm_status::kProgress, percent);
    if (globalCancel_) return CancelExit();
    ChunkRequests requests;
    requests.offset = done;
    requests.count = std::min(total - done, chunkLimit);
    requests.afterSizeReply = first;
    first = false;
    const int32_t chunk = requests.count;
    int32_t received = 0;
    if (const int32_t fetched = FetchChunk(buffer, requests, &received, percent); fetched != result::kOk)
      return fetched;
    // Empty replies to a non-empty request make no progress: bounded like time-outs.
    emptyReplies = received == 0 && chunk > 0 ? emptyReplies + 1 : 0;
    if (emptyReplies >= kMaxTimeouts) {
      LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
      return result::kTransferTimeout;
    }
    done += received;
  } while (done < total);
  if (blockType == kBlockFirmware) {
    int32_t expanded = 0;
    if (const int32_t r = ExpandFirmware(buffer, total, bufferCapacity, &expanded); r != result::kOk)
      return r;
    *size = expanded;
  } else {
    *size = total;
  }
  return FinishTransfer(*size);
}

int32_t Link::WaitBlockSize(uint8_t requestSequence, uint32_t* blockSize) {
  const uint64_t start = clock().NowMs();
  uint64_t lastNotify = start;
  const uint64_t limit = useUsb_ ? kUsbReplyDeadlineMs : kSerialBlockSizeDeadlineMs;
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    const uint64_t now = clock().NowMs();
    if (received && rxPacket_.Command == kBlockSizeReply && IsOwnBlockSizeReply(requestSequence)) break;
    if (!received || now - start > limit) {
      LogStep(kTransfer, "exiting because WaitForCMD failed");
      return result::kTransferTimeout;
    }
    if (now - lastNotify >= static_cast<uint64_t>(kKeepAliveMs)) {
      Notify(comm_status::kProgress, 0);
      lastNotify = now;
    }
  }
  // Block size: BE24; a shorter reply reads as zero bytes.
  *blockSize = ReadBE24(PayloadHead<3>(rxPacket_).data());
  return result::kOk;
}

bool Link::IsOwnBlockSizeReply(uint8_t requestSequence) {
  // A block-size reply while only one 07 of the session waits for its answer
  // can answer only that one: it shows how the receiver numbers them.
  const bool echoed = rxPacket_.Sequence == requestSequence;
  if (sizeRepliesDue_ == 1) LearnNumbering(&sizeReplyNumbering_, echoed, "block-size");
  sizeRepliesDue_ = std::max(sizeRepliesDue_ - 1, 0);
  if (echoed || sizeReplyNumbering_ != ReplyNumbering::Echoed) return true;
  LogStep(kTransfer,
          Format("block-size reply numbered %d ignored: it answers an earlier request.", rxPacket_.Sequence));
  return false;
}

Link::ReplyNumbering Link::DataReplyNumbering() const {
  return dataReplyNumbering_ != ReplyNumbering::Unknown ? dataReplyNumbering_ : sizeReplyNumbering_;
}

void Link::LearnNumbering(ReplyNumbering* numbering, bool echoed, const char* kind) {
  if (*numbering != ReplyNumbering::Unknown) return;
  *numbering = echoed ? ReplyNumbering::Echoed : ReplyNumbering::Own;
  LogStep(kTransfer, Format(echoed ? "the receiver numbers its %s replies as their requests."
                                   : "the receiver numbers its %s replies its own way.",
                            kind));
}

// --- Chunks -----------------------------------------------------------------------

int32_t Link::FetchChunk(uint8_t* buffer, ChunkRequests& requests, int32_t* received, double percent) {
  if (staleRepliesPossible_) {
    if (const int32_t quiet = AwaitQuietLine(nullptr, percent); quiet != result::kOk) return quiet;
  }
  RequestChunk(requests);
  const int32_t waited = useUsb_ ? WaitChunkUsb(requests, percent) : WaitChunkSerial(requests, percent);
  if (waited != result::kOk) return waited;
  // IsWantedData checked that the reply is no longer than the chunk, so it
  // lies within the block and the buffer.
  *received = static_cast<int32_t>(rxPacket_.DataLength);
  if (*received > 0)
    std::memcpy(buffer + requests.offset, rxPacket_.Data.data(), static_cast<size_t>(*received));
  return SettleChunk(requests, percent);
}

void Link::RequestChunk(ChunkRequests& requests) {
  // Before every request the serial queues are emptied, so that bytes of an
  // earlier, late reply cannot be taken for this one.
  if (!useUsb_ && transport_) transport_->Purge();
  serialRx_.Clear();
  SendCMD04(static_cast<uint32_t>(requests.offset), requests.count);
  requests.sequences.push_back(seqNo_);
}

bool Link::IsWantedData(ChunkRequests& requests) {
  // The first data packet after the block-size reply, to a chunk asked for
  // once, can answer only that request.
  if (rxPacket_.Command == kDataReply && requests.afterSizeReply && requests.sequences.size() == 1 &&
      requests.repliesSeen == 0)
    LearnNumbering(&dataReplyNumbering_, rxPacket_.Sequence == requests.sequences.front(), "data");
  if (!CountsAsReply(requests)) return false;
  if (rxPacket_.DataLength <= static_cast<uint32_t>(requests.count)) return true;
  LogStep(kTransfer, Format("data packet of %u bytes ignored, %d were requested.", rxPacket_.DataLength,
                            requests.count));
  return false;
}

bool Link::CountsAsReply(ChunkRequests& requests) {
  // A data packet refused for its checksum still used up a request.
  const bool damaged = rxPacket_.Command == 0 && damagedCommand_ == kDataReply;
  if (rxPacket_.Command != kDataReply && !damaged) return false;
  if (!damaged && DataReplyNumbering() == ReplyNumbering::Echoed) {
    const std::vector<uint8_t>& sent = requests.sequences;
    if (std::find(sent.begin(), sent.end(), rxPacket_.Sequence) == sent.end()) {
      LogStep(kTransfer,
              Format("data packet numbered %d ignored: it answers an earlier request.", rxPacket_.Sequence));
      return false;
    }
    // Nothing earlier follows the reply to the latest request.
    if (rxPacket_.Sequence == sent.back()) requests.latestAnswered = true;
  }
  ++requests.repliesSeen;
  return !damaged;
}

int32_t Link::ChunkTimedOut(int* timeouts, ChunkRequests& requests, double percent) {
  ++*timeouts;
  LogStep(kTransfer, Format("WaitForCMD has reported timeout # %d.", *timeouts));
  if (*timeouts >= kMaxTimeouts) {
    LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
    return result::kTransferTimeout;
  }
  // A silent receiver gives the window its chance to take a cancel.
  Notify(comm_status::kProgress, percent);
  if (globalCancel_) return CancelExit();
  RequestChunk(requests);
  return result::kOk;
}

int32_t Link::WaitChunkUsb(ChunkRequests& requests, double percent) {
  int timeouts = 0;
  uint64_t requested = clock().NowMs();
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    if (received && IsWantedData(requests)) return result::kOk;
    // Reads that bring other packets do not hold the request open forever.
    if (received && clock().NowMs() - requested <= static_cast<uint64_t>(kUsbReplyDeadlineMs)) continue;
    if (const int32_t r = ChunkTimedOut(&timeouts, requests, percent); r != result::kOk) return r;
    requested = clock().NowMs();
  }
}

int32_t Link::WaitChunkSerial(ChunkRequests& requests, double percent) {
  int timeouts = 0;
  int32_t lastCount = serialRx_.count();
  uint64_t lastChange = clock().NowMs();
  uint64_t requested = lastChange;
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    if (received && IsWantedData(requests)) return result::kOk;
    const uint64_t now = clock().NowMs();
    if (serialRx_.count() != lastCount) {
      // Bytes came (or a new request emptied the buffer): the silence and the
      // count of time-outs start over.
      timeouts = 0;
      lastCount = serialRx_.count();
      lastChange = now;
    }
    // The silence is measured from the last change, not from a new request:
    // while the line stays silent each further pass counts another time-out.
    // A line that keeps bringing bytes without completing the reply is asked
    // again after a while, and given up after kMaxRequestsPerChunk requests.
    const bool silent = now - lastChange > static_cast<uint64_t>(kSerialSilenceMs);
    const bool overdue = now - requested > static_cast<uint64_t>(kSerialChunkDeadlineMs);
    if (received && !silent && !overdue) continue;
    if (static_cast<int>(requests.sequences.size()) >= kMaxRequestsPerChunk) {
      LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
      return result::kTransferTimeout;
    }
    if (const int32_t r = ChunkTimedOut(&timeouts, requests, percent); r != result::kOk) return r;
    requested = now;
  }
}

// --- Quiet line -------------------------------------------------------------------

int32_t Link::SettleChunk(ChunkRequests& requests, double percent) {
  const int due = static_cast<int>(requests.sequences.size()) - requests.repliesSeen;
  if (requests.latestAnswered || due <= 0) return result::kOk;
  if (log_.enabled())
    LogStep(kTransfer, Format("chunk at %d asked for %d times: waiting for up to %d more replies.",
                              requests.offset, static_cast<int>(requests.sequences.size()), due));
  return AwaitQuietLine(&requests, percent);
}

int32_t Link::AwaitQuietLine(ChunkRequests* requests, double percent) {
  // Reads and discards until the replies due to requests have all come or
  // nothing has come for kQuietLineMs; without requests, only the silence
  // ends the wait.
  const uint64_t start = clock().NowMs();
  uint64_t lastHeard = start;
  uint64_t lastNotify = start;
  uint64_t bytesSeen = bytesReceived_;
  for (;;) {
    if (requests &&
        (requests->latestAnswered || requests->repliesSeen >= static_cast<int>(requests->sequences.size())))
      break;
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    if (!received && readFault_) {
      LogStep(kTransfer, "exiting because WaitForCMD failed");
      return result::kTransferTimeout;
    }
    if (received && requests && CountsAsReply(*requests))
      LogStep(kTransfer, "late reply to a repeated request discarded.");
    const uint64_t now = clock().NowMs();
    if (bytesReceived_ != bytesSeen) {
      bytesSeen = bytesReceived_;
      lastHeard = now;
    }
    if (now - lastHeard >= static_cast<uint64_t>(kQuietLineMs)) break;
    if (now - start >= static_cast<uint64_t>(kQuietLineCapMs)) {
      LogStep(kTransfer, "exiting because the line does not fall silent.");
      return result::kTransferTimeout;
    }
    if (now - lastNotify >= static_cast<uint64_t>(kKeepAliveMs)) {
      Notify(comm_status::kProgress, percent);
      if (globalCancel_) return CancelExit();
      lastNotify = now;
    }
  }
  staleRepliesPossible_ = false;
  serialRx_.Clear();
  return result::kOk;
}

}  // namespace tolv
