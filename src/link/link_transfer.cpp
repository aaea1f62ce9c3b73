// Block transfers in both directions.
//
// Download: the program selects the block (07), the receiver answers with its
// size (08, BE24), and the program asks for it chunk by chunk (04: count and
// BE24 offset), each answered by a data packet (05). Upload: the receiver asks
// for pieces of the block (04: count and BE24 offset), each answered with the
// data (05), and reports the block complete with 06.

#include <algorithm>
#include <cstring>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "link/link.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr const char* kTransfer = "Comm_TransferBlock";
// The receiver's own spelling in two of the lines.
constexpr const char* kTransferLower = "Comm_Transferblock";

constexpr uint8_t kDataRequest = 0x04;
constexpr uint8_t kDataReply = 0x05;
constexpr uint8_t kBlockComplete = 0x06;
constexpr uint8_t kBlockSizeReply = 0x08;

double Percent(int64_t done, int64_t total) {
  return total > 0 ? static_cast<double>(done) / total * 100.0 : 0;
}

}  // namespace

int32_t Link::TransferBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  if (log_.enabled()) LogStep(kTransfer, Format("called by main program: BlockType=%d", blockType));
  if (!isOpen()) {
    LogStep(kTransfer, "exiting because hDevice=0");
    return result::kTransferNotOpened;
  }
  transferSize_ = 0;
  Notify(comm_status::kBlockStarted, blockType);
  const int32_t capacity = buffer ? std::max(bufferCapacity, 0) : 0;
  if (transferDirection_ == TransferDirection::Download) return Download(blockType, buffer, capacity, size);
  if (*size < 0 || *size > capacity) {
    LogStep(kTransfer,
            Format("exiting because the data size %d exceeds the buffer of %d bytes.", *size, capacity));
    return result::kTransferBlockTooLarge;
  }
  transferSize_ = *size;
  return Upload(buffer, *size);
}

int32_t Link::CancelExit() {
  LogStep(kTransferLower, "Exiting due to GlobalCancel");
  return result::kTransferCanceled;
}

int32_t Link::FinishTransfer(int32_t size) {
  LogStep(kTransfer, Format("transfer finished with %d bytes", size));
  Notify(comm_status::kProgress, 100);
  return result::kOk;
}

// --- Download -----------------------------------------------------------------

int32_t Link::Download(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  *size = 0;
  SendCMD07(blockType);
  uint32_t blockSize = 0;
  if (const int32_t waited = WaitBlockSize(&blockSize); waited != result::kOk) return waited;
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
  do {
    const double percent = Percent(done, total);
    Notify(comm_status::kProgress, percent);
    if (globalCancel_) return CancelExit();
    const int32_t chunk = std::min(total - done, chunkLimit);
    int32_t received = 0;
    if (const int32_t fetched = FetchChunk(buffer, done, chunk, &received, percent); fetched != result::kOk)
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

int32_t Link::WaitBlockSize(uint32_t* blockSize) {
  const uint64_t start = clock().NowMs();
  uint64_t lastNotify = start;
  const uint64_t limit = useUsb_ ? kUsbReplyDeadlineMs : kSerialBlockSizeDeadlineMs;
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    const uint64_t now = clock().NowMs();
    if (received && rxPacket_.Command == kBlockSizeReply) break;
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

int32_t Link::FetchChunk(uint8_t* buffer, int32_t offset, int32_t chunk, int32_t* received, double percent) {
  RequestChunk(offset, chunk);
  const int32_t waited =
      useUsb_ ? WaitChunkUsb(offset, chunk, percent) : WaitChunkSerial(offset, chunk, percent);
  if (waited != result::kOk) return waited;
  // IsWantedData checked that the reply is no longer than the chunk, so it
  // lies within the block and the buffer.
  *received = static_cast<int32_t>(rxPacket_.DataLength);
  if (*received > 0) std::memcpy(buffer + offset, rxPacket_.Data.data(), static_cast<size_t>(*received));
  return result::kOk;
}

void Link::RequestChunk(int32_t offset, int32_t chunk) {
  // Before every request the serial queues are emptied, so that bytes of an
  // earlier, late reply cannot be taken for this one.
  if (!useUsb_ && transport_) transport_->Purge();
  serialRx_.Clear();
  SendCMD04(static_cast<uint32_t>(offset), chunk);
}

bool Link::IsWantedData(int32_t chunk) {
  if (rxPacket_.Command != kDataReply) return false;
  if (rxPacket_.DataLength <= static_cast<uint32_t>(chunk)) return true;
  LogStep(kTransfer,
          Format("data packet of %u bytes ignored, %d were requested.", rxPacket_.DataLength, chunk));
  return false;
}

int32_t Link::ChunkTimedOut(int* timeouts, int32_t offset, int32_t chunk, double percent) {
  ++*timeouts;
  LogStep(kTransfer, Format("WaitForCMD has reported timeout # %d.", *timeouts));
  if (*timeouts >= kMaxTimeouts) {
    LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
    return result::kTransferTimeout;
  }
  // A silent receiver gives the window its chance to take a cancel.
  Notify(comm_status::kProgress, percent);
  if (globalCancel_) return CancelExit();
  RequestChunk(offset, chunk);
  return result::kOk;
}

int32_t Link::WaitChunkUsb(int32_t offset, int32_t chunk, double percent) {
  int timeouts = 0;
  uint64_t requested = clock().NowMs();
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    if (received && IsWantedData(chunk)) return result::kOk;
    // Reads that bring other packets do not hold the request open forever.
    if (received && clock().NowMs() - requested <= static_cast<uint64_t>(kUsbReplyDeadlineMs)) continue;
    if (const int32_t r = ChunkTimedOut(&timeouts, offset, chunk, percent); r != result::kOk) return r;
    requested = clock().NowMs();
  }
}

int32_t Link::WaitChunkSerial(int32_t offset, int32_t chunk, double percent) {
  int timeouts = 0;
  int requests = 1;
  int32_t lastCount = serialRx_.count();
  uint64_t lastChange = clock().NowMs();
  uint64_t requested = lastChange;
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    if (received && IsWantedData(chunk)) return result::kOk;
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
    if (++requests > kMaxRequestsPerChunk) {
      LogStep(kTransfer, "exiting because WaitForCMD failed in the data transfer loop.");
      return result::kTransferTimeout;
    }
    if (const int32_t r = ChunkTimedOut(&timeouts, offset, chunk, percent); r != result::kOk) return r;
    requested = now;
  }
}

// --- Firmware sections ----------------------------------------------------------

int32_t Link::ExpandFirmware(uint8_t* buffer, int32_t blockSize, int32_t bufferCapacity,
                             int32_t* expandedSize) {
  // A firmware block is a series of sections, each a 6-byte header
  //   0 expanded length L (BE16) | 2 stored length P (BE16) | 4 end marker
  // and P bytes: L raw bytes when P = L, else a compressed stream of L bytes.
  // The last header has the end marker 0xFFFF and no data.
  const int64_t limit = std::min(bufferCapacity, kFirmwareWorkAreaSize);
  int64_t expanded = 0;
  int32_t pos = 0;
  // First pass: every section lies within the block and the total fits.
  for (;;) {
    if (blockSize - pos < 6) {
      LogStep(kTransfer,
              Format("exiting because the firmware sections end at byte %d without an end marker.", pos));
      return result::kTransferBadBlockData;
    }
    const uint32_t storedLength = ReadBE16(buffer + pos + 2);
    if (ReadBE16(buffer + pos + 4) == 0xFFFF) break;
    if (storedLength > static_cast<uint32_t>(blockSize - pos - 6)) {
      LogStep(kTransfer, Format("exiting because the firmware section at byte %d runs past the block.", pos));
      return result::kTransferBadBlockData;
    }
    expanded += ReadBE16(buffer + pos);
    if (expanded > limit) {
      LogStep(kTransfer, Format("exiting because the expanded firmware exceeds %lld bytes.",
                                static_cast<long long>(limit)));
      return result::kTransferBlockTooLarge;
    }
    pos += 6 + static_cast<int32_t>(storedLength);
  }
  return ExpandSections(buffer, static_cast<int32_t>(expanded), expandedSize);
}

int32_t Link::ExpandSections(uint8_t* buffer, int32_t expandedTotal, int32_t* expandedSize) {
  std::vector<uint8_t> work(static_cast<size_t>(expandedTotal));
  int32_t out = 0;
  for (int32_t pos = 0; ReadBE16(buffer + pos + 4) != 0xFFFF;) {
    const int32_t length = static_cast<int32_t>(ReadBE16(buffer + pos));
    const int32_t stored = static_cast<int32_t>(ReadBE16(buffer + pos + 2));
    const uint8_t* section = buffer + pos + 6;
    if (stored == length) {
      std::memcpy(work.data() + out, section, static_cast<size_t>(length));
    } else if (Block_Decompress(section, stored, work.data() + out, length) == 0) {
      LogStep(kTransfer, Format("exiting because the firmware section at byte %d does not decompress.", pos));
      return result::kTransferBadBlockData;
    }
    out += length;
    pos += 6 + stored;
  }
  std::copy(work.begin(), work.end(), buffer);
  *expandedSize = out;
  return result::kOk;
}

// --- Upload -------------------------------------------------------------------

int32_t Link::Upload(const uint8_t* data, int32_t dataSize) {
  int32_t requestedOffset = 0;
  uint64_t lastRequest = clock().NowMs();
  const uint64_t limit = useUsb_ ? kUsbReplyDeadlineMs : kSerialUploadSilenceMs;
  for (;;) {
    Notify(comm_status::kProgress, Percent(requestedOffset, dataSize));
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    const uint64_t now = clock().NowMs();
    if (received && rxPacket_.Command == kBlockComplete) break;
    if (received && rxPacket_.Command == kDataRequest) {
      seqNo_ = rxPacket_.Sequence;
      if (const int32_t r = AnswerUploadRequest(data, dataSize, &requestedOffset); r != result::kOk) return r;
      lastRequest = now;
      continue;
    }
    if (!received || now - lastRequest > limit) {
      LogStep(kTransfer, "exiting because WaitForCMD in data transfer loop failed.");
      return result::kTransferTimeout;
    }
  }
  return FinishTransfer(dataSize);
}

int32_t Link::AnswerUploadRequest(const uint8_t* data, int32_t dataSize, int32_t* requestedOffset) {
  // Request: count (BE16 on USB, one byte on a serial line), then offset BE24.
  const auto request = PayloadHead<5>(rxPacket_);
  const uint32_t count = useUsb_ ? ReadBE16(request.data()) : request[0];
  const uint32_t offset = ReadBE24(request.data() + (useUsb_ ? 2 : 1));
  const uint32_t packetLimit = useUsb_ ? kUsbMaxPayload : kSerialMaxPayload;
  // The receiver may ask for fixed pieces that run past the end of the data:
  // it is served from an image area whose bytes after the data are zeros.
  const uint32_t area = static_cast<uint32_t>(std::max(dataSize, kUploadAreaSize));
  if (offset > area || count > area - offset || count > packetLimit) {
    LogStep(kTransfer, Format("exiting because the receiver asked for %u bytes at offset %u of %d.", count,
                              offset, dataSize));
    return result::kTransferBadRequest;
  }
  *requestedOffset = static_cast<int32_t>(std::min(offset, static_cast<uint32_t>(dataSize)));
  const int64_t available = std::clamp<int64_t>(static_cast<int64_t>(dataSize) - offset, 0, count);
  SendCMD05Padded(data + std::min(offset, static_cast<uint32_t>(dataSize)), static_cast<int32_t>(available),
                  static_cast<int32_t>(count));
  return result::kOk;
}

}  // namespace tolv
