// Block transfers: the common start and finish, the expansion of a
// downloaded firmware, and the upload. (The download's chunk loop is in
// link_download.cpp.)
//
// Upload: the receiver asks for pieces of the block (04: count and BE24
// offset), each answered with the data (05), and reports the block complete
// with 06.

#include <algorithm>
#include <cstring>

#include "codec/crc16.h"
#include "codec/firmware_sections.h"
#include "link/link.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr uint8_t kDataRequest = 0x04;
constexpr uint8_t kBlockComplete = 0x06;

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

// --- Firmware sections ----------------------------------------------------------

int32_t Link::ExpandFirmware(uint8_t* buffer, int32_t blockSize, int32_t bufferCapacity,
                             int32_t* expandedSize) {
  const int64_t limit = std::min(bufferCapacity, kFirmwareWorkAreaSize);
  std::vector<uint8_t> expanded;
  const SectionsExpansion result = FirmwareSections_Expand(buffer, blockSize, limit, &expanded);
  switch (result.fault) {
    case SectionsFault::None: break;
    case SectionsFault::NoEndMarker:
      LogStep(kTransfer, Format("exiting because the firmware sections end at byte %d without an end marker.",
                                result.position));
      return result::kTransferBadBlockData;
    case SectionsFault::PastBlock:
      LogStep(kTransfer, Format("exiting because the firmware section at byte %d runs past the block.",
                                result.position));
      return result::kTransferBadBlockData;
    case SectionsFault::TooLarge:
      LogStep(kTransfer, Format("exiting because the expanded firmware exceeds %lld bytes.",
                                static_cast<long long>(limit)));
      return result::kTransferBlockTooLarge;
    case SectionsFault::NotDecodable:
      LogStep(kTransfer, Format("exiting because the firmware section at byte %d does not decompress.",
                                result.position));
      return result::kTransferBadBlockData;
  }
  std::copy(expanded.begin(), expanded.end(), buffer);
  *expandedSize = static_cast<int32_t>(expanded.size());
  return result::kOk;
}

// --- Upload -------------------------------------------------------------------

int32_t Link::Upload(const uint8_t* data, int32_t dataSize) {
  int32_t requestedOffset = 0;
  uint64_t lastRequest = clock().NowMs();
  for (;;) {
    // Called on every pass (a USB read of 200 ms at most): the wait for the
    // next request can be cancelled on either transport.
    Notify(comm_status::kProgress, Percent(requestedOffset, dataSize));
    const bool received = WaitForCMD();
    if (globalCancel_) return CancelExit();
    const uint64_t now = clock().NowMs();
    if (!received && readFault_) {
      LogStep(kTransfer, "exiting because WaitForCMD in data transfer loop failed.");
      return result::kTransferTimeout;
    }
    if (received && rxPacket_.Command == kBlockComplete) break;
    if (received && rxPacket_.Command == kDataRequest) {
      seqNo_ = rxPacket_.Sequence;
      if (const int32_t r = AnswerUploadRequest(data, dataSize, &requestedOffset); r != result::kOk) return r;
      lastRequest = now;
      continue;
    }
    // A request that is late is waited for (a USB read that timed out is no
    // failure); a receiver silent for kUploadRequestSilenceMs has given up.
    if (now - lastRequest > static_cast<uint64_t>(kUploadRequestSilenceMs)) {
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
