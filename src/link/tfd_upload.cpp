// Sending a TFD image to the receiver, and restarting the receiver.

#include "link/tfd_upload.h"

#include "link/comm.h"
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
// callback nobody can cancel: the tries end after kUnattendedWaitMs.
int32_t ReachUploadMode(Link& link, const std::string& device, const CommCallback& callback) {
  LinkClock& clock = link.clock();
  const uint64_t start = clock.NowMs();
  for (;;) {
    link.Close();
    if (const int32_t opened = link.Open(device, callback); opened != result::kOk)
      return UploadOpenResult(opened);
    const int32_t mode = link.UploadMode();
    if (mode != result::kUploadModeTimeout) return mode;
    if (!callback && clock.NowMs() - start >= static_cast<uint64_t>(kUnattendedWaitMs)) return mode;
  }
}

}  // namespace

int32_t TFD_SaveImageToToppy(Link& link, const std::string& device, const CommCallback& callback,
                             const uint8_t* image, int32_t imageSize) {
  if (const int32_t opened = link.Open(device, callback); opened != result::kOk)
    return UploadOpenResult(opened);
  link.Reboot();
  const int32_t mode = ReachUploadMode(link, device, callback);
  if (mode == result::kTfdUploadOpenFailed || mode == result::kTfdUploadCanceled ||
      mode == result::kOpenUsbNotFound)
    return mode;  // nothing is open
  if (mode != result::kOk) {
    link.Close();
    return mode == result::kUploadModeCanceled ? result::kTfdUploadCanceled : mode;
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

int32_t TFD_SaveToToppy(const std::string& device, CommCallback callback, int32_t systemId) {
  int32_t built = result::kOk;
  const std::vector<uint8_t>& image = TFD_BuildImage(static_cast<uint16_t>(systemId), built);
  if (built != result::kOk) return built;
  return TFD_SaveImageToToppy(Comm_Link(), device, callback, image.data(),
                              static_cast<int32_t>(image.size()));
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
