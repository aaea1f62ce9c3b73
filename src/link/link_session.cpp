// Session operations: reboot, the mode handshakes, the block transfer and the
// end of an exchange.
//
// The handshake differs by transport. On USB the program speaks first (03 for
// download, 01 for upload) and the receiver answers with command 2. On a
// serial line the receiver speaks first: after booting it announces itself
// with command 1, and the program answers with 03 or 02. Both replies carry
// the SystemID (BE16) and 32 bytes of receiver information.

#include <algorithm>

#include "link/block_upload.h"
#include "link/link.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace {

struct ModeTexts {
  const char* operation;
  const char* sendFailed;  // USB send or wait failure
  const char* waitFailed;  // serial wait failure
  int32_t notOpened, canceled, timeout;
  uint8_t reachedStatus;
};

const ModeTexts kDownloadTexts = {"Comm_DownloadMode",           "exiting because CMD03 failed",
                                  "WaitForCMD failed",           result::kDownloadModeNotOpened,
                                  result::kDownloadModeCanceled, result::kDownloadModeTimeout,
                                  comm_status::kDownloadMode};
const ModeTexts kUploadTexts = {"Comm_UploadMode",
                                "exiting because CMD02 failed",
                                "exiting because WaitForCMD failed",
                                result::kUploadModeNotOpened,
                                result::kUploadModeCanceled,
                                result::kUploadModeTimeout,
                                comm_status::kUploadMode};

constexpr uint8_t kUsbModeReply = 0x02;
constexpr uint8_t kSerialAnnouncement = 0x01;

}  // namespace

int32_t Link::Reboot() {
  LogStep("Comm_Reboot", "called by main program");
  if (!isOpen()) return result::kRebootNotOpened;
  // The reboot starts a new session: what still waits on the line belongs to
  // an earlier one (an announcement of an earlier reboot that nobody read, a
  // late reply) and must not be taken for this session's.
  if (const int32_t discarded = channel_.DiscardWaitingInput(); discarded > 0)
    LogStep("Comm_Reboot", Format("%d bytes left on the line from before discarded", discarded));
  // A command that never left (a failed write, a cancel) must not pass for a
  // reboot: the caller tells the user.
  if (!channel_.SendCMD0B()) return result::kRebootNotSent;
  return result::kOk;
}

int32_t Link::DownloadMode() { return ModeHandshake(false); }

int32_t Link::UploadMode() { return ModeHandshake(true); }

int32_t Link::ModeHandshake(bool upload) {
  const ModeTexts& texts = upload ? kUploadTexts : kDownloadTexts;
  LogStep(texts.operation, "called by main program");
  if (!isOpen()) {
    LogStep(texts.operation, "exiting because hDevice=0");
    return texts.notOpened;
  }
  const int32_t waited = channel_.profile().usb ? ModeWaitUsb(upload) : ModeWaitSerial(upload);
  if (waited != result::kOk) return waited;
  download_.StartSession();
  LogStep(texts.operation, Format("reported SystemID=%d", reportedSystemId_));
  Notify(texts.reachedStatus, 0);
  transferDirection_ = upload ? TransferDirection::Upload : TransferDirection::Download;
  return result::kOk;
}

int32_t Link::ModeWaitUsb(bool upload) {
  const ModeTexts& texts = upload ? kUploadTexts : kDownloadTexts;
  const auto canceledExit = [&] {
    LogStep(texts.operation, "Exiting due to GlobalCancel");
    return texts.canceled;
  };
  const bool sent = upload ? channel_.SendCMD02() : channel_.SendCMD03();
  // A send that failed because of a cancel is a cancel, not a time-out: the
  // callers retry time-outs with a new open, which would forget the cancel.
  if (!sent && channel_.canceled()) return canceledExit();
  if (!sent) {
    LogStep(texts.operation, texts.sendFailed);
    return texts.timeout;
  }
  const uint64_t start = clock().NowMs();
  for (;;) {
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) return canceledExit();
    if (!received) {
      LogStep(texts.operation, texts.sendFailed);
      return texts.timeout;
    }
    if (channel_.rxPacket().Command == kUsbModeReply) break;
    if (clock().NowMs() - start > static_cast<uint64_t>(channel_.profile().replyDeadlineMs)) {
      LogStep(texts.operation, texts.sendFailed);
      return texts.timeout;
    }
  }
  channel_.SetSeqNo(channel_.rxPacket().Sequence);
  TakeReceiverInfo();
  if (upload) LogStep(texts.operation, Format("reported SystemID=%d", reportedSystemId_));
  return result::kOk;
}

int32_t Link::ModeWaitSerial(bool upload) {
  const ModeTexts& texts = upload ? kUploadTexts : kDownloadTexts;
  const uint64_t start = clock().NowMs();
  for (;;) {
    // Every pass reports status 2, which is where the window takes a cancel.
    Notify(comm_status::kDeviceOpened, 0);
    const bool received = channel_.WaitForCMD();
    if (channel_.canceled()) {
      LogStep(texts.operation, "Exiting due to GlobalCancel");
      return texts.canceled;
    }
    if (!received) {
      LogStep(texts.operation, texts.waitFailed);
      return texts.timeout;
    }
    if (channel_.rxPacket().Command == kSerialAnnouncement) break;
    const int limit = receiverWaitLimitMs_ > 0 ? receiverWaitLimitMs_ : kUnattendedWaitMs;
    if ((!callback_ || receiverWaitLimitMs_ > 0) && clock().NowMs() - start >= static_cast<uint64_t>(limit)) {
      LogStep(texts.operation, texts.waitFailed);
      return texts.timeout;
    }
  }
  TakeReceiverInfo();
  channel_.SetSeqNo(channel_.rxPacket().Sequence);
  if (upload) {
    channel_.SendCMD02();
  } else {
    channel_.SendCMD03();
  }
  return result::kOk;
}

int32_t Link::TransferBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  if (log_.enabled()) LogStep(kTransfer, Format("called by main program: BlockType=%d", blockType));
  if (!isOpen()) {
    LogStep(kTransfer, "exiting because hDevice=0");
    return result::kTransferNotOpened;
  }
  transferSize_ = 0;
  Notify(comm_status::kBlockStarted, blockType);
  const int32_t capacity = buffer ? std::max(bufferCapacity, 0) : 0;
  if (transferDirection_ == TransferDirection::Download)
    return download_.Run(blockType, buffer, capacity, size, &transferSize_);
  if (*size < 0 || *size > capacity) {
    LogStep(kTransfer,
            Format("exiting because the data size %d exceeds the buffer of %d bytes.", *size, capacity));
    return result::kTransferBlockTooLarge;
  }
  transferSize_ = *size;
  return Upload_Block(TransferContext{channel_, *clock_, log_, callback_}, buffer, *size);
}

int32_t Link::End() {
  LogStep("Comm_End", "called by main program");
  if (!isOpen()) return result::kEndNotOpened;
  channel_.SendCMD06();
  Notify(comm_status::kSessionEnded, 0);
  return result::kOk;
}

}  // namespace tolv
