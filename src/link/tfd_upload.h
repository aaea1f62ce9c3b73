// Complete receiver operations built from the session operations: sending
// the TFD block store to the receiver, and restarting the receiver.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"

namespace tolv {

// Worker: uploads the TFD image (imageSize bytes) through link to the
// receiver on device. Opens the device, reboots the receiver, then closes,
// reopens and asks for upload mode until the receiver answers (without a
// callback for at most kUnattendedWaitMs), lets the receiver fetch the image
// (block type 2 is reported to the callback; it is not sent), ends the
// session and closes. No connection is left open on any path.
// Results: 0; 2113 serial port cannot be opened; 2114 cancelled in any phase;
// 2115 the receiver stopped asking in time; any other failure of the link
// operations (for example kOpenUsbNotFound, kTransferBadRequest, 2387 after
// the unattended limit) is returned as it is, never as success.
int32_t TFD_SaveImageToToppy(Link& link, const std::string& device, const CommCallback& callback,
                             const uint8_t* image, int32_t imageSize);

// Wrapper: builds the image of the process-wide TFD store (tfd/tfd_store.h)
// for the low 16 bits of systemId and uploads it through the process-wide
// link. Also returns the store's build failure (kTfdTooManyBlocks) without
// opening anything.
int32_t TFD_SaveToToppy(const std::string& device, CommCallback callback, int32_t systemId);

// Worker: opens device (callback may be empty: a USB wait then lasts at most
// kUnattendedWaitMs), and if that succeeded reboots the receiver and closes.
// Always 0.
int32_t Toppy_Reboot(Link& link, const std::string& device, const CommCallback& callback);

// Wrapper on the process-wide link.
int32_t Toppy_Reboot(const std::string& device, CommCallback callback = {});

}  // namespace tolv
