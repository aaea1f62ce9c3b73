// Session operations: reboot, the mode handshakes and the end of an exchange.
//
// The handshake differs by transport. On USB the program speaks first (03 for
// download, 01 for upload) and the receiver answers with command 2. On a
// serial line the receiver speaks first: after booting it announces itself
// with command 1, and the program answers with 03 or 02. Both replies carry
// the SystemID (BE16) and 32 bytes of receiver information.

#include <algorithm>

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
  DiscardWaitingInput();
  // A command that never left (a failed write, a cancel) must not pass for a
  // reboot: the caller tells the user.
  if (!SendCMD0B()) return result::kRebootNotSent;
  return result::kOk;
}

void Link::DiscardWaitingInput() {
  // The reboot starts a new session: what still waits on the line belongs to
  // an earlier one (an announcement of an earlier reboot that nobody read, a
  // late reply) and must not be taken for this session's. A serial port is
  // emptied; a USB pipe is read until a read finds nothing.
  int32_t discarded = 0;
  for (int i = 0; i < kMaxStaleUsbTransfers; ++i) {
    const IoResult read = useUsb_ ? transport_->Read(readBuffer_.data(), kUsbReadSize, kStaleUsbReadMs)
                                  : transport_->Read(readBuffer_.data(), kUsbReadSize, 0);
    if (read.status != IoResult::Status::Ok || (!useUsb_ && read.byteCount <= 0)) break;
    discarded += std::clamp(read.byteCount, 0, kUsbReadSize);
  }
  if (!useUsb_) transport_->Purge();
  serialRx_.Clear();
  bytesReceived_ += static_cast<uint64_t>(discarded);
  if (discarded > 0)
    LogStep("Comm_Reboot", Format("%d bytes left on the line from before discarded", discarded));
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
  const int32_t waited = useUsb_ ? ModeWaitUsb(upload) : ModeWaitSerial(upload);
  if (waited != result::kOk) return waited;
  // A new session, with a loader that has just started: no reply to an
  // earlier request can come, and how it numbers its replies is learnt anew.
  // A reply comes within the longest the link waits for one, or never.
  matcher_.StartSession(static_cast<uint64_t>(useUsb_ ? kUsbReplyDeadlineMs : kSerialChunkDeadlineMs));
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
  const bool sent = upload ? SendCMD02() : SendCMD03();
  // A send that failed because of a cancel is a cancel, not a time-out: the
  // callers retry time-outs with a new open, which would forget the cancel.
  if (!sent && globalCancel_) return canceledExit();
  if (!sent) {
    LogStep(texts.operation, texts.sendFailed);
    return texts.timeout;
  }
  const uint64_t start = clock().NowMs();
  for (;;) {
    const bool received = WaitForCMD();
    if (globalCancel_) return canceledExit();
    if (!received) {
      LogStep(texts.operation, texts.sendFailed);
      return texts.timeout;
    }
    if (rxPacket_.Command == kUsbModeReply) break;
    if (clock().NowMs() - start > static_cast<uint64_t>(kUsbReplyDeadlineMs)) {
      LogStep(texts.operation, texts.sendFailed);
      return texts.timeout;
    }
  }
  seqNo_ = rxPacket_.Sequence;
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
    const bool received = WaitForCMD();
    if (globalCancel_) {
      LogStep(texts.operation, "Exiting due to GlobalCancel");
      return texts.canceled;
    }
    if (!received) {
      LogStep(texts.operation, texts.waitFailed);
      return texts.timeout;
    }
    if (rxPacket_.Command == kSerialAnnouncement) break;
    const int limit = receiverWaitLimitMs_ > 0 ? receiverWaitLimitMs_ : kUnattendedWaitMs;
    if ((!callback_ || receiverWaitLimitMs_ > 0) && clock().NowMs() - start >= static_cast<uint64_t>(limit)) {
      LogStep(texts.operation, texts.waitFailed);
      return texts.timeout;
    }
  }
  TakeReceiverInfo();
  seqNo_ = rxPacket_.Sequence;
  if (upload) {
    SendCMD02();
  } else {
    SendCMD03();
  }
  return result::kOk;
}

int32_t Link::End() {
  LogStep("Comm_End", "called by main program");
  if (!isOpen()) return result::kEndNotOpened;
  SendCMD06();
  Notify(comm_status::kSessionEnded, 0);
  return result::kOk;
}

}  // namespace tolv
