// The upload of one block.

#include "link/block_upload.h"

#include <algorithm>

#include "codec/crc16.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

constexpr uint8_t kDataRequest = 0x04;
constexpr uint8_t kBlockComplete = 0x06;

int32_t AnswerRequest(const TransferContext& context, const uint8_t* data, int32_t dataSize,
                      int32_t* requestedOffset) {
  PacketChannel& channel = context.channel;
  const LinkProfile& profile = channel.profile();
  // Request: count (BE16 on USB, one byte on a serial line), then offset BE24.
  const auto request = PayloadHead<5>(channel.rxPacket());
  const uint32_t count = profile.requestCountBytes == 2 ? ReadBE16(request.data()) : request[0];
  const uint32_t offset = ReadBE24(request.data() + profile.requestCountBytes);
  const uint32_t packetLimit = profile.maxPayload;
  // The receiver may ask for fixed pieces that run past the end of the data:
  // it is served from an image area whose bytes after the data are zeros.
  const uint32_t area = static_cast<uint32_t>(std::max(dataSize, kUploadAreaSize));
  if (offset > area || count > area - offset || count > packetLimit) {
    context.LogStep(kTransfer, Format("exiting because the receiver asked for %u bytes at offset %u of %d.",
                                      count, offset, dataSize));
    return result::kTransferBadRequest;
  }
  *requestedOffset = static_cast<int32_t>(std::min(offset, static_cast<uint32_t>(dataSize)));
  const int64_t available = std::clamp<int64_t>(static_cast<int64_t>(dataSize) - offset, 0, count);
  channel.SendCMD05Padded(data + std::min(offset, static_cast<uint32_t>(dataSize)),
                          static_cast<int32_t>(available), static_cast<int32_t>(count));
  return result::kOk;
}

}  // namespace

int32_t Upload_Block(const TransferContext& context, const uint8_t* data, int32_t dataSize) {
  PacketChannel& channel = context.channel;
  int32_t requestedOffset = 0;
  uint64_t lastRequest = context.clock.NowMs();
  for (;;) {
    // Called on every pass (a USB read of 200 ms at most): the wait for the
    // next request can be cancelled on either transport.
    context.Notify(comm_status::kProgress, Percent(requestedOffset, dataSize));
    const bool received = channel.WaitForCMD();
    if (channel.canceled()) return context.CancelExit();
    const uint64_t now = context.clock.NowMs();
    if (!received && channel.readFault()) {
      context.LogStep(kTransfer, "exiting because WaitForCMD in data transfer loop failed.");
      return result::kTransferTimeout;
    }
    if (received && channel.rxPacket().Command == kBlockComplete) break;
    if (received && channel.rxPacket().Command == kDataRequest) {
      channel.SetSeqNo(channel.rxPacket().Sequence);
      if (const int32_t r = AnswerRequest(context, data, dataSize, &requestedOffset); r != result::kOk)
        return r;
      lastRequest = now;
      continue;
    }
    // A request that is late is waited for (a USB read that timed out is no
    // failure); a receiver silent for kUploadRequestSilenceMs has given up.
    if (now - lastRequest > static_cast<uint64_t>(kUploadRequestSilenceMs)) {
      context.LogStep(kTransfer, "exiting because WaitForCMD in data transfer loop failed.");
      return result::kTransferTimeout;
    }
  }
  return context.FinishTransfer(dataSize);
}

}  // namespace tolv
