// Sending a TFD image to the receiver, and restarting the receiver.

#include "link/tfd_upload.h"

#include <optional>

#include "link/comm.h"
#include "link/link_internal.h"
#include "results/result_codes.h"
#include "tfd/tfd_store.h"

namespace tolv {

namespace {

// The outcomes of an open, as the upload reports them.
int32_t UploadOpenResult(int32_t openResult) {
  if (openResult == result::kOpenSerialFailed) return result::kTfdUploadOpenFailed;
  if (openResult == result::kOpenUsbCanceled) return result::kTfdUploadCanceled;
  return openResult;
}

// Reopens and asks for upload mode until the receiver answers. Without a
// callback nobody can cancel: the tries end after kUnattendedWaitMs. A cancel
// that came in meanwhile (in the callback of the close, say) ends the tries
// before the next open, which would forget it.
// After a restart the tries end after kRestartReceiverWaitMs also with a
// callback: a receiver that does not come back (a pulled cable) ends the upload.
int32_t ReachUploadMode(Link& link, const std::string& device, const CommCallback& callback, bool restart) {
  LinkClock& clock = link.clock();
  const uint64_t start = clock.NowMs();
  const int limit = restart ? kRestartReceiverWaitMs : kUnattendedWaitMs;
  for (;;) {
    link.Close();
    if (link.canceled()) return result::kTfdUploadCanceled;
    if (const int32_t opened = link.Open(device, callback); opened != result::kOk)
      return UploadOpenResult(opened);
    const int32_t mode = link.UploadMode();
    if (mode != result::kUploadModeTimeout) return mode;
    if ((!callback || restart) && clock.NowMs() - start >= static_cast<uint64_t>(limit)) return mode;
  }
}

// Lets check decide on the receiver that answered, before anything is sent.
// On a no the session is ended and the link closed. kOk to go on.
int32_t CheckReceiver(Link& link, const ReceiverCheck& check) {
  if (!check) return result::kOk;
  int32_t reported = 0;
  link.GetReceiverInfo(&reported, nullptr);
  bool go = false;
  try {
    go = check(reported);
  } catch (...) {
    link.Close();
    throw;
  }
  if (go) return result::kOk;
  if (link.log().enabled())
    link.Log(LinkLog_StepLine("TFD_SaveToToppy",
                              "not sent to the receiver with SystemID=" + std::to_string(reported)));
  link.End();
  link.Close();
  return result::kTfdUploadWrongModel;
}

}  // namespace

bool TFD_ImageSuitsReceiver(int32_t imageSystemId, int32_t reportedSystemId) {
  const uint16_t image = static_cast<uint16_t>(imageSystemId);
  return image == kWildcardSystemId || image == static_cast<uint16_t>(reportedSystemId);
}

namespace {

// One session from the reboot on: reboot, upload mode, the check (asked
// only for a receiver it has not yet approved), the whole image, the end.
// The link is left closed on every path.
int32_t UploadSession(Link& link, const std::string& device, const CommCallback& callback,
                      const uint8_t* image, int32_t imageSize, const ReceiverCheck& check, bool restart,
                      std::optional<int32_t>& approved) {
  link.Reboot();
  link.SetReceiverWaitLimit(restart ? kRestartReceiverWaitMs : 0);
  const int32_t mode = ReachUploadMode(link, device, callback, restart);
  link.SetReceiverWaitLimit(0);
  if (mode == result::kTfdUploadOpenFailed || mode == result::kTfdUploadCanceled ||
      mode == result::kOpenUsbNotFound)
    return mode;  // nothing is open
  if (mode == result::kOk && link.canceled()) {
    // Cancelled as the receiver answered: nothing goes out, nothing is asked.
    link.Close();
    return result::kTfdUploadCanceled;
  }
  if (mode != result::kOk) {
    link.Close();
    return mode == result::kUploadModeCanceled ? result::kTfdUploadCanceled : mode;
  }
  int32_t reported = 0;
  link.GetReceiverInfo(&reported, nullptr);
  if (approved != reported) {
    if (const int32_t checked = CheckReceiver(link, check); checked != result::kOk) return checked;
    approved = reported;
  }
  // The receiver fetches the image piece by piece; the block type is only
  // reported, never sent.
  int32_t size = imageSize;
  const int32_t sent = link.TransferBlock(kBlockFlash, const_cast<uint8_t*>(image), imageSize, &size);
  if (sent != result::kOk) {
    link.Close();
    if (sent == result::kTransferCanceled) return result::kTfdUploadCanceled;
    if (sent == result::kTransferTimeout) return result::kTfdUploadTimeout;
    return sent;
  }
  link.End();
  link.Close();
  return result::kOk;
}

}  // namespace

int32_t TFD_SaveImageToToppy(Link& link, const std::string& device, const CommCallback& callback,
                             const uint8_t* image, int32_t imageSize, const ReceiverCheck& check,
                             const UploadRestartNotice& restarting) {
  if (const int32_t opened = link.Open(device, callback); opened != result::kOk)
    return UploadOpenResult(opened);
  std::optional<int32_t> approved;
  for (int session = 1;; ++session) {
    const int32_t sent =
        UploadSession(link, device, callback, image, imageSize, check, session > 1, approved);
    // Only a session the receiver stopped (a time-out, a failed port) goes
    // again; the receiver takes an image only whole, so nothing half-taken
    // can be in the way. A cancel that came as the session ended is kept.
    if (sent != result::kTfdUploadTimeout || session > kUploadRestarts || link.canceled()) return sent;
    link.Log(LinkLog_StepLine("TFD_SaveToToppy",
                              link_detail::Format("upload stopped by a fault (%d); starting again from the "
                                                  "reboot, restart %d of %d",
                                                  sent, session, kUploadRestarts)));
    // Session n ended by a fault: restart n.
    if (restarting) restarting(session, sent);
    link.SetReceiverWaitLimit(kRestartReceiverWaitMs);
    const int32_t opened = link.Open(device, callback);
    link.SetReceiverWaitLimit(0);
    if (opened != result::kOk) return UploadOpenResult(opened);
  }
}

int32_t TFD_SaveToToppy(const std::string& device, CommCallback callback, int32_t systemId,
                        ReceiverCheck check) {
  int32_t built = result::kOk;
  const std::vector<uint8_t>& image = TFD_BuildImage(static_cast<uint16_t>(systemId), built);
  if (built != result::kOk) return built;
  if (!check) check = [systemId](int32_t reported) { return TFD_ImageSuitsReceiver(systemId, reported); };
  return TFD_SaveImageToToppy(Comm_Link(), device, callback, image.data(), static_cast<int32_t>(image.size()),
                              check);
}

int32_t Toppy_Reboot(Link& link, const std::string& device, const CommCallback& callback) {
  if (link.Open(device, callback) == result::kOk) {
    link.Reboot();
    link.Close();
  }
  return result::kOk;
}

int32_t Toppy_Reboot(const std::string& device, CommCallback callback) {
  return Toppy_Reboot(Comm_Link(), device, callback);
}

}  // namespace tolv
