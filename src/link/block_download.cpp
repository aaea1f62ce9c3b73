// The download of one block: the size exchange, the chunk loop and its
// waits, and the expansion of a firmware block.

#include "link/block_download.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "codec/crc16.h"
#include "codec/firmware_sections.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr uint8_t kDataReply = 0x05;
constexpr uint8_t kBlockSizeReply = 0x08;

}  // namespace

void BlockDownload::StartSession() {
  // A reply comes within the longest the link waits for one, or never.
  matcher_.StartSession(static_cast<uint64_t>(channel_.profile().replyDeadlineMs));
}

int32_t BlockDownload::Run(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size,
                           int32_t* transferSize) {
  *size = 0;
  const int32_t outcome = DownloadBlock(blockType, buffer, bufferCapacity, size, transferSize);
  // Requests of a block that did not finish may still be answered.
  if (outcome != result::kOk) matcher_.AbandonBlock();
  return outcome;
}

int32_t BlockDownload::DownloadBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity,
                                     int32_t* size, int32_t* transferSize) {
  if (matcher_.StaleRepliesPossible()) {
    if (const int32_t quiet = AwaitQuietLine(0); quiet != result::kOk) return quiet;
  }
  // A late or repeated size reply of the block before must not be taken for this one's.
  if (const int32_t waited =
          AwaitReplies(0, [&] { return matcher_.SizeRequestWaitMs(context_.clock.NowMs()) == 0; });
      waited != result::kOk)
    return waited;
  uint32_t blockSize = 0;
  if (const int32_t asked = RequestBlockSize(blockType, &blockSize); asked != result::kOk) return asked;
  if (context_.log.enabled())
    context_.LogStep(kTransferLower, Format("Reported size of the block=%u", blockSize));
  if (blockSize > static_cast<uint32_t>(bufferCapacity)) {
    context_.LogStep(
        kTransfer, Format("exiting because the block of %u bytes exceeds the buffer of %d bytes.", blockSize,
                          bufferCapacity));
    return result::kTransferBlockTooLarge;
  }
  const int32_t total = static_cast<int32_t>(blockSize);
  *transferSize = total;
  int32_t done = 0;
  int emptyReplies = 0;
  do {
    const double percent = Percent(done, total);
    context_.Notify(comm_status::kProgress, percent);
    if (channel_.canceled()) return context_.CancelExit();
    int32_t received = 0;
    if (const int32_t fetched = FetchChunk(buffer, done, total - done, &received, percent);
        fetched != result::kOk)
      return fetched;
    // Empty replies to a non-empty request make no progress: bounded like time-outs.
    emptyReplies = received == 0 && total > done ? emptyReplies + 1 : 0;
    if (emptyReplies >= kMaxTimeouts) {
      context_.LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
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
  return context_.FinishTransfer(*size);
}

int32_t BlockDownload::RequestBlockSize(uint8_t blockType, uint32_t* blockSize) {
  // Two size replies of one block give the same size, so a late reply to an
  // earlier 07 of this block is as good as the reply to the latest.
  for (int request = 1; request <= kBlockSizeRequests; ++request) {
    if (request > 1) channel_.ClearReceiveBuffer();
    channel_.SendCMD07(blockType);
    matcher_.SizeRequested(channel_.seqNo(), context_.clock.NowMs());
    bool taken = false;
    if (const int32_t r = WaitBlockSize(false, &taken); r != result::kOk) return r;
    // None in time: what is still on its way comes before the 07 is repeated.
    if (!taken) {
      if (const int32_t r = WaitBlockSize(true, &taken); r != result::kOk) return r;
    }
    if (taken) {
      // Block size: BE24; a shorter reply reads as zero bytes.
      *blockSize = ReadBE24(PayloadHead<3>(channel_.rxPacket()).data());
      return result::kOk;
    }
    context_.LogStep(kTransfer, Format("no block-size reply to request # %d.", request));
  }
  context_.LogStep(kTransfer, "exiting because WaitForCMD failed");
  return result::kTransferTimeout;
}

int32_t BlockDownload::WaitBlockSize(bool untilQuiet, bool* taken) {
  // Without untilQuiet: until a size reply of this block is taken, one comes
  // damaged, or kBlockSizeReplyMs have passed. With it: until one is taken or
  // nothing has come for kQuietLineMs. The callback is called meanwhile, so
  // that the wait can be cancelled on either transport.
  const uint64_t start = context_.clock.NowMs();
  uint64_t lastHeard = start;
  uint64_t lastNotify = start;
  uint64_t bytesSeen = channel_.bytesReceived();
  for (;;) {
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) return context_.CancelExit();
    if (!received && channel_.readFault()) {
      context_.LogStep(kTransfer, "exiting because WaitForCMD failed");
      return result::kTransferTimeout;
    }
    if (received && channel_.rxPacket().Command == kBlockSizeReply && OfferBlockSizeReply()) {
      *taken = true;
      return result::kOk;
    }
    const uint64_t now = context_.clock.NowMs();
    if (channel_.bytesReceived() != bytesSeen) {
      bytesSeen = channel_.bytesReceived();
      lastHeard = now;
    }
    if (untilQuiet) {
      if (now - lastHeard >= static_cast<uint64_t>(kQuietLineMs)) return result::kOk;
      if (now - start >= static_cast<uint64_t>(kQuietLineCapMs)) {
        context_.LogStep(kTransfer, "exiting because the line does not fall silent.");
        return result::kTransferTimeout;
      }
    } else {
      const bool damaged =
          received && channel_.rxPacket().Command == 0 && channel_.damagedCommand() == kBlockSizeReply;
      if (damaged || now - start >= static_cast<uint64_t>(kBlockSizeReplyMs)) return result::kOk;
    }
    if (now - lastNotify >= static_cast<uint64_t>(kKeepAliveMs)) {
      context_.Notify(comm_status::kProgress, 0);
      if (channel_.canceled()) return context_.CancelExit();
      lastNotify = now;
    }
  }
}

bool BlockDownload::OfferBlockSizeReply() {
  const ReplyMatcher::Numbering before = matcher_.sizeNumbering();
  const ReplyMatcher::Verdict verdict = matcher_.OnSizeReply(channel_.rxPacket().Sequence);
  LogLearnt(before, matcher_.sizeNumbering(), "block-size");
  if (verdict == ReplyMatcher::Verdict::Take) return true;
  context_.LogStep(kTransfer, Format("block-size reply numbered %d ignored: it answers an earlier request.",
                                     channel_.rxPacket().Sequence));
  return false;
}

void BlockDownload::LogLearnt(ReplyMatcher::Numbering before, ReplyMatcher::Numbering after,
                              const char* kind) {
  if (before != ReplyMatcher::Numbering::Unknown || after == ReplyMatcher::Numbering::Unknown) return;
  context_.LogStep(kTransfer, Format(after == ReplyMatcher::Numbering::Echoed
                                         ? "the receiver numbers its %s replies as their requests."
                                         : "the receiver numbers its %s replies its own way.",
                                     kind));
}

// --- Chunks -----------------------------------------------------------------------

int32_t BlockDownload::FetchChunk(uint8_t* buffer, int32_t offset, int32_t remaining, int32_t* received,
                                  double percent) {
  matcher_.BeginChunk(remaining, channel_.profile().chunkSize);
  // Replies still owed to earlier requests come first: the receiver is busy
  // with them, and asking while it is would only add to its queue. A line
  // quiet for kOwedReplyQuietMs has lost them (their counts stay taken while
  // they are live). And the chunk needs a count no live request may answer.
  uint64_t lastHeard = context_.clock.NowMs();
  uint64_t bytesSeen = channel_.bytesReceived();
  const auto ready = [&] {
    const uint64_t now = context_.clock.NowMs();
    if (channel_.bytesReceived() != bytesSeen) {
      bytesSeen = channel_.bytesReceived();
      lastHeard = now;
    }
    if (now - lastHeard >= static_cast<uint64_t>(kOwedReplyQuietMs)) matcher_.OwedRepliesLost();
    // Requests that no reply has named keep their counts past the window,
    // until the line has been quiet for kQuietLineMs (when no count is free).
    if (now - lastHeard >= static_cast<uint64_t>(kQuietLineMs)) matcher_.LateRepliesLost();
    return matcher_.AllRepliesIn(now) && matcher_.NextRequestCount(now) >= 0;
  };
  if (!ready()) {
    if (context_.log.enabled()) context_.LogStep(kTransfer, "waiting for replies to earlier requests.");
    if (const int32_t r = AwaitReplies(percent, ready); r != result::kOk) return r;
  }
  RequestChunk(offset);
  const int32_t waited =
      channel_.profile().usb ? WaitChunkUsb(offset, percent) : WaitChunkSerial(offset, percent);
  if (waited != result::kOk) return waited;
  // The matcher takes no reply longer than the chunk's requests asked for, so
  // it lies within the block and the buffer.
  *received = static_cast<int32_t>(matcher_.storeCount());
  if (*received > 0)
    std::memcpy(buffer + offset, channel_.rxPacket().Data.data(), static_cast<size_t>(*received));
  return result::kOk;
}

void BlockDownload::RequestChunk(int32_t offset) {
  const int32_t count = matcher_.NextRequestCount(context_.clock.NowMs());
  // No free count for a repeat now: the time-out that asked for it counts,
  // and the next one tries again.
  if (count < 0) return;
  if (count != matcher_.FullCount() && context_.log.enabled())
    context_.LogStep(
        kTransfer,
        Format("chunk at %d asked for as %d bytes: replies of other counts may still come.", offset, count));
  // Before every request the serial queues are emptied, so that bytes of an
  // earlier, late reply cannot be taken for this one.
  channel_.PurgeForRequest();
  channel_.SendCMD04(static_cast<uint32_t>(offset), count);
  matcher_.ChunkRequested(channel_.seqNo(), count, context_.clock.NowMs());
}

bool BlockDownload::IsDataPacket() const {
  // A data packet refused for its checksum is judged too; it is never taken.
  return channel_.rxPacket().Command == kDataReply ||
         (channel_.rxPacket().Command == 0 && channel_.damagedCommand() == kDataReply);
}

bool BlockDownload::OfferDataReply() {
  return IsDataPacket() && JudgeDataReply() == ReplyMatcher::Verdict::Take;
}

ReplyMatcher::Verdict BlockDownload::JudgeDataReply() {
  const bool damaged = channel_.rxPacket().Command == 0;
  const ReplyMatcher::Numbering before = matcher_.dataNumbering();
  const ReplyMatcher::Verdict verdict = matcher_.OnDataReply(
      channel_.rxPacket().Sequence, channel_.rxPacket().DataLength, damaged, context_.clock.NowMs());
  LogLearnt(before, matcher_.dataNumbering(), "data");
  switch (verdict) {
    case ReplyMatcher::Verdict::Take:
    case ReplyMatcher::Verdict::Damaged: break;
    case ReplyMatcher::Verdict::Duplicate:
      context_.LogStep(kTransfer, "late reply to a repeated request discarded.");
      break;
    case ReplyMatcher::Verdict::Ambiguous:
      context_.LogStep(kTransfer,
                       Format("data packet of %u bytes ignored: it may answer another chunk's request.",
                              channel_.rxPacket().DataLength));
      break;
    case ReplyMatcher::Verdict::EarlierRequest:
      context_.LogStep(kTransfer, Format("data packet numbered %d ignored: it answers an earlier request.",
                                         channel_.rxPacket().Sequence));
      break;
    case ReplyMatcher::Verdict::WrongLength:
      context_.LogStep(kTransfer, Format("data packet of %u bytes ignored: no request asked for that many.",
                                         channel_.rxPacket().DataLength));
      break;
  }
  return verdict;
}

int32_t BlockDownload::ChunkTimedOut(int* timeouts, int32_t offset, double percent) {
  ++*timeouts;
  context_.LogStep(kTransfer, Format("WaitForCMD has reported timeout # %d.", *timeouts));
  if (*timeouts >= kMaxTimeouts) {
    context_.LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
    return result::kTransferTimeout;
  }
  // A silent receiver gives the window its chance to take a cancel.
  context_.Notify(comm_status::kProgress, percent);
  if (channel_.canceled()) return context_.CancelExit();
  RequestChunk(offset);
  return result::kOk;
}

int32_t BlockDownload::WaitChunkUsb(int32_t offset, double percent) {
  int timeouts = 0;
  bool heard = false;  // a packet came since the latest request
  uint64_t requested = context_.clock.NowMs();
  for (;;) {
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) return context_.CancelExit();
    if (received && OfferDataReply()) return result::kOk;
    heard = heard || received;
    // Reads that bring other packets do not hold the request open forever.
    if (received &&
        context_.clock.NowMs() - requested <= static_cast<uint64_t>(channel_.profile().replyDeadlineMs))
      continue;
    // As on a serial line, only silence counts towards giving the block up: a
    // receiver that answers, if damaged or late, is asked again, at most
    // kMaxRequestsPerChunk times a chunk.
    if (heard) timeouts = 0;
    if (matcher_.chunkRequests() >= kMaxRequestsPerChunk) {
      context_.LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
      return result::kTransferTimeout;
    }
    if (const int32_t r = ChunkTimedOut(&timeouts, offset, percent); r != result::kOk) return r;
    requested = context_.clock.NowMs();
    heard = false;
  }
}

int32_t BlockDownload::WaitChunkSerial(int32_t offset, double percent) {
  int timeouts = 0;
  int32_t lastCount = channel_.serialRxCount();
  uint64_t lastChange = context_.clock.NowMs();
  uint64_t requested = lastChange;
  for (;;) {
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) return context_.CancelExit();
    if (received && OfferDataReply()) return result::kOk;
    const uint64_t now = context_.clock.NowMs();
    if (channel_.serialRxCount() != lastCount) {
      // Bytes came (or a new request emptied the buffer): the silence and the
      // count of time-outs start over.
      timeouts = 0;
      lastCount = channel_.serialRxCount();
      lastChange = now;
    }
    // The silence is measured from the last change, not from a new request:
    // while the line stays silent each further pass counts another time-out.
    // A line that keeps bringing bytes without completing the reply is asked
    // again after a while, and given up after kMaxRequestsPerChunk requests.
    const bool silent = now - lastChange > static_cast<uint64_t>(channel_.profile().silenceMs);
    const bool overdue = now - requested > static_cast<uint64_t>(channel_.profile().replyDeadlineMs);
    if (received && !silent && !overdue) continue;
    if (matcher_.chunkRequests() >= kMaxRequestsPerChunk) {
      context_.LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
      return result::kTransferTimeout;
    }
    if (const int32_t r = ChunkTimedOut(&timeouts, offset, percent); r != result::kOk) return r;
    requested = now;
  }
}

// --- Waits between requests -------------------------------------------------------

int32_t BlockDownload::AwaitReplies(double percent, const std::function<bool()>& done) {
  // Reads and judges what comes until done; the matcher's window bounds it.
  const uint64_t start = context_.clock.NowMs();
  uint64_t lastNotify = start;
  while (!done()) {
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) return context_.CancelExit();
    if (!received && channel_.readFault()) {
      context_.LogStep(kTransfer, "exiting because WaitForCMD failed");
      return result::kTransferTimeout;
    }
    if (received && IsDataPacket()) JudgeDataReply();
    const uint64_t now = context_.clock.NowMs();
    if (now - start >= static_cast<uint64_t>(kQuietLineCapMs)) {
      context_.LogStep(kTransfer, "exiting because the line does not fall silent.");
      return result::kTransferTimeout;
    }
    if (now - lastNotify >= static_cast<uint64_t>(kKeepAliveMs)) {
      context_.Notify(comm_status::kProgress, percent);
      if (channel_.canceled()) return context_.CancelExit();
      lastNotify = now;
    }
  }
  channel_.ClearReceiveBuffer();
  return result::kOk;
}

int32_t BlockDownload::AwaitQuietLine(double percent) {
  // After a block that failed, replies to its requests may come later than
  // the window: what comes is read and judged until nothing has come for
  // kQuietLineMs.
  if (context_.log.enabled()) context_.LogStep(kTransfer, "waiting for replies to earlier requests.");
  uint64_t lastHeard = context_.clock.NowMs();
  uint64_t bytesSeen = channel_.bytesReceived();
  const int32_t waited = AwaitReplies(percent, [&] {
    const uint64_t now = context_.clock.NowMs();
    if (channel_.bytesReceived() != bytesSeen) {
      bytesSeen = channel_.bytesReceived();
      lastHeard = now;
    }
    return now - lastHeard >= static_cast<uint64_t>(kQuietLineMs);
  });
  if (waited == result::kOk) matcher_.LineWentQuiet();
  return waited;
}

// --- Firmware sections ----------------------------------------------------------

int32_t BlockDownload::ExpandFirmware(uint8_t* buffer, int32_t blockSize, int32_t bufferCapacity,
                                      int32_t* expandedSize) {
  const int64_t limit = std::min(bufferCapacity, kFirmwareWorkAreaSize);
  std::vector<uint8_t> expanded;
  const SectionsExpansion result = FirmwareSections_Expand(buffer, blockSize, limit, &expanded);
  switch (result.fault) {
    case SectionsFault::None: break;
    case SectionsFault::NoEndMarker:
      context_.LogStep(kTransfer,
                       Format("exiting because the firmware sections end at byte %d without an end marker.",
                              result.position));
      return result::kTransferBadBlockData;
    case SectionsFault::PastBlock:
      context_.LogStep(
          kTransfer,
          Format("exiting because the firmware section at byte %d runs past the block.", result.position));
      return result::kTransferBadBlockData;
    case SectionsFault::TooLarge:
      context_.LogStep(kTransfer, Format("exiting because the expanded firmware exceeds %lld bytes.",
                                         static_cast<long long>(limit)));
      return result::kTransferBlockTooLarge;
    case SectionsFault::NotDecodable:
      context_.LogStep(
          kTransfer,
          Format("exiting because the firmware section at byte %d does not decompress.", result.position));
      return result::kTransferBadBlockData;
  }
  std::copy(expanded.begin(), expanded.end(), buffer);
  *expandedSize = static_cast<int32_t>(expanded.size());
  return result::kOk;
}

}  // namespace tolv
