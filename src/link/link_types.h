// What the link's parts share with its callers: the status callback and its
// statuses, the block types, the areas of a transfer and the link's clock.
#pragma once

#include <cstdint>
#include <functional>

#include "codec/firmware_sections.h"

namespace tolv {

// Status callback of the link: status 1..9 and a value (see comm_status).
using CommCallback = std::function<void(uint8_t status, double value)>;

// The statuses the link reports through the callback.
namespace comm_status {
inline constexpr uint8_t kWaitingForUsb = 1;  // before every poll for the USB receiver; value 0
inline constexpr uint8_t kDeviceOpened = 2;   // device open; again on every pass of a serial mode wait
inline constexpr uint8_t kDownloadMode = 3;   // download mode reached
inline constexpr uint8_t kUploadMode = 4;     // upload mode reached
inline constexpr uint8_t kBlockStarted = 5;   // value: the block type
inline constexpr uint8_t kProgress = 6;       // value: percent done, 0..100
inline constexpr uint8_t kSessionEnded = 7;
inline constexpr uint8_t kDeviceClosed = 8;
inline constexpr uint8_t kCancelRequested = 9;
}  // namespace comm_status

// Block types of receiver transfers (the component numbers).
inline constexpr uint8_t kBlockLoader = 0;
inline constexpr uint8_t kBlockFirmware = 1;
inline constexpr uint8_t kBlockFlash = 2;
inline constexpr uint8_t kBlockEeprom = 3;
inline constexpr uint8_t kBlockDefaults = 4;

// Size of the receiver information that follows the SystemID in a mode reply.
inline constexpr int32_t kReceiverInfoSize = 32;
// An upload is served from an area of this size (the TFD image buffer): the
// data offered, then zeros. A receiver may ask for fixed pieces that run past
// the end of the image.
inline constexpr int32_t kUploadAreaSize = 8388608;

// Without a callback nobody can cancel, so the waits that otherwise last
// until the receiver answers or the user cancels (the USB receiver wait, the
// serial mode waits, the upload-mode retries) give up after this long.
inline constexpr int kUnattendedWaitMs = 10000;

// Monotonic time for the link's time-outs and pauses. Tests substitute a clock
// that advances only when the fake device waits.
class LinkClock {
 public:
  virtual ~LinkClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(int ms) = 0;
};

// The steady clock of the machine.
LinkClock& SystemLinkClock();

enum class TransferDirection { Download, Upload };

}  // namespace tolv
