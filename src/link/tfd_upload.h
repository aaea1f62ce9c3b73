// Complete receiver operations built from the session operations: sending
// the TFD block store to the receiver, and restarting the receiver.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/link.h"

namespace tolv {

// Asked once the receiver has answered the upload-mode request and before
// any byte of the image goes out, with the SystemID the receiver reported
// (0..65535): true sends the image; false ends the session (command 06) and
// closes without sending anything. It may ask the user; it must not use the
// link.
using ReceiverCheck = std::function<bool(int32_t reportedSystemId)>;

// The TFD image wildcard: an image made for this SystemID is taken by every
// receiver ("Wildcard (can be transferred to any Toppy)").
inline constexpr uint16_t kWildcardSystemId = 39321;

// True when an image made for imageSystemId (its low 16 bits, as a TFD header
// carries them) suits a receiver that reports reportedSystemId: the same
// model, or an image made for the wildcard.
bool TFD_ImageSuitsReceiver(int32_t imageSystemId, int32_t reportedSystemId);

// An upload that a fault stopped (the receiver silent past the time-out, a
// port that failed) is started again from the reboot at most this often.
inline constexpr int kUploadRestarts = 2;
// After a restart the receiver must be back in upload mode within this long
// (else the upload ends: a pulled cable that does not come back), also when a
// callback could cancel.
inline constexpr int kRestartReceiverWaitMs = 15000;

// Told before an upload starts again: which restart (1..kUploadRestarts) and
// the result that stopped the session before (kTfdUploadTimeout). It may tell
// the user; it must not use the link.
using UploadRestartNotice = std::function<void(int restart, int32_t cause)>;

// Worker: uploads the TFD image (imageSize bytes) through link to the
// receiver on device. Opens the device, reboots the receiver, then closes,
// reopens and asks for upload mode until the receiver answers (without a
// callback for at most kUnattendedWaitMs), asks check (when given) whether
// the image may go to this receiver, lets the receiver fetch the image
// (block type 2 is reported to the callback; it is not sent), ends the
// session and closes. No connection is left open on any path (an exception
// from check closes the link too).
// A cancel ends the operation in whichever phase it comes, after one request:
// the link forgets a cancel at its next Open, so no Open follows one.
// A session whose transfer timed out (the receiver stopped asking for
// kUploadRequestSilenceMs, or the port failed) is started again from the
// reboot, after the log line and restarting (when given), at most
// kUploadRestarts times; check is asked again only when the receiver then
// reports another SystemID. A receiver not back in upload mode within
// kRestartReceiverWaitMs ends it (kOpenUsbNotFound, 2387, or 2113 for a
// serial port gone).
// Results: 0; 2113 serial port cannot be opened; 2114 cancelled in any phase;
// 2115 the receiver stopped asking in time, also after the last restart; kTfdUploadWrongModel when check
// said no; any other failure of the link operations (for example
// kOpenUsbNotFound, kTransferBadRequest, 2387 after the unattended limit) is
// returned as it is, never as success.
int32_t TFD_SaveImageToToppy(Link& link, const std::string& device, const CommCallback& callback,
                             const uint8_t* image, int32_t imageSize, const ReceiverCheck& check = {},
                             const UploadRestartNotice& restarting = {});

// Wrapper: builds the image of the process-wide TFD store (tfd/tfd_store.h)
// for the low 16 bits of systemId and uploads it through the process-wide
// link. Without a check, a receiver that TFD_ImageSuitsReceiver rejects is
// not sent the image (kTfdUploadWrongModel). Also returns the store's build
// failure (kTfdTooManyBlocks) without opening anything.
int32_t TFD_SaveToToppy(const std::string& device, CommCallback callback, int32_t systemId,
                        ReceiverCheck check = {});

// Worker: opens device (callback may be empty: a USB wait then lasts at most
// kUnattendedWaitMs), and if that succeeded reboots the receiver and closes.
// Always 0.
int32_t Toppy_Reboot(Link& link, const std::string& device, const CommCallback& callback);

// Wrapper on the process-wide link.
int32_t Toppy_Reboot(const std::string& device, CommCallback callback = {});

}  // namespace tolv
