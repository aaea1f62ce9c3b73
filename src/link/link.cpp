// The link object: connection, callback, cancel flag and receiver information.

#include "link/link.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "codec/crc16.h"
#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

namespace link_detail {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

}  // namespace link_detail

namespace {

class SteadyLinkClock : public LinkClock {
 public:
  uint64_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

bool IsUsbDeviceName(const std::string& device) {
  std::string upper(device);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper == "USB";
}

}  // namespace

LinkClock& SystemLinkClock() {
  static SteadyLinkClock clock;
  return clock;
}

Link::Link(LinkDevices devices)
    : devices_(std::move(devices)),
      clock_(devices_.clock ? devices_.clock : &SystemLinkClock()),
      log_(devices_.nowText),
      channel_(*clock_, log_),
      download_(TransferContext{channel_, *clock_, log_, callback_}) {
  if (!devices_.openSerial) devices_.openSerial = Serial_Open;
  if (!devices_.pollUsb) devices_.pollUsb = Link_PollUsb;
}

Link::~Link() = default;

void Link::Notify(uint8_t status, double value) {
  // A copy, so that the callback may replace the link's callback re-entrantly.
  const CommCallback callback = callback_;
  if (callback) callback(status, value);
}

void Link::LogStep(std::string_view operation, std::string_view message) {
  if (log_.enabled()) log_.Log(LinkLog_StepLine(operation, message));
}

int32_t Link::Open(const std::string& device, CommCallback callback) {
  if (log_.enabled()) LogStep("Comm_Open", "called by main program: Device=" + device);
  // A connection left open would keep the port or the interface claimed.
  const bool usb = IsUsbDeviceName(device);
  channel_.Reset(usb ? kUsbProfile : kSerialProfile);
  callback_ = std::move(callback);
  usbDiagnostic_.clear();
  openDiagnostic_.clear();
  return usb ? OpenUsb() : OpenSerial(device);
}

int32_t Link::OpenUsb() {
  const uint64_t start = clock().NowMs();
  std::string lastLogged;
  for (;;) {
    Notify(comm_status::kWaitingForUsb, 0);
    if (channel_.canceled()) {
      LogStep("Comm_Open", "Exiting due to GlobalCancel");
      return result::kOpenUsbCanceled;
    }
    std::string diagnostic;
    std::unique_ptr<Transport> found = devices_.pollUsb(&diagnostic);
    if (found) {
      channel_.Attach(std::move(found));
      break;
    }
    usbDiagnostic_ = diagnostic;
    if (!diagnostic.empty() && diagnostic != lastLogged) {
      LogStep("Comm_Open", "Topfield USB device found but not usable: " + diagnostic);
      lastLogged = diagnostic;
    }
    const int limit = receiverWaitLimitMs_ > 0 ? receiverWaitLimitMs_ : kUnattendedWaitMs;
    if ((!callback_ || receiverWaitLimitMs_ > 0) && clock().NowMs() - start >= static_cast<uint64_t>(limit)) {
      LogStep("Comm_Open", Format("No Topfield USB interface found within %d seconds", limit / 1000));
      return result::kOpenUsbNotFound;
    }
    const uint64_t waited = clock().NowMs() - start;
    clock().SleepMs(waited < static_cast<uint64_t>(kUsbFastPollPhaseMs) ? kUsbFastPollMs : kUsbSlowPollMs);
  }
  usbDiagnostic_.clear();
  LogStep("Comm_Open", "Topfield USB interface enumerated as " + channel_.Description());
  Notify(comm_status::kDeviceOpened, 0);
  return result::kOk;
}

int32_t Link::OpenSerial(const std::string& device) {
  std::string diagnostic;
  std::unique_ptr<Transport> port = devices_.openSerial(device, &diagnostic);
  if (!port) {
    LogStep("Comm_Open", "Failed to open serial port: " + diagnostic);
    openDiagnostic_ = diagnostic;
    return result::kOpenSerialFailed;
  }
  channel_.Attach(std::move(port));
  Notify(comm_status::kDeviceOpened, 0);
  return result::kOk;
}

int32_t Link::Close() {
  LogStep("Comm_Close", "called by main program");
  channel_.Close();
  Notify(comm_status::kDeviceClosed, 0);
  return result::kOk;
}

int32_t Link::Cancel() {
  LogStep("Comm_Cancel", "called by main program");
  channel_.Cancel();
  LogStep("Comm_Cancel", "Called by main program");
  Notify(comm_status::kCancelRequested, 0);
  return result::kOk;
}

void Link::GetReceiverInfo(int32_t* systemId, uint8_t* info) const {
  if (systemId) *systemId = reportedSystemId_;
  if (info) std::copy(reportedInfo_.begin(), reportedInfo_.end(), info);
}

void Link::TakeReceiverInfo() {
  // Mode reply: SystemID (BE16), then 32 bytes of receiver information. A
  // shorter reply leaves the missing bytes zero.
  const auto payload = PayloadHead<2 + kReceiverInfoSize>(channel_.rxPacket());
  reportedSystemId_ = static_cast<int32_t>(ReadBE16(payload.data()));
  std::copy(payload.begin() + 2, payload.end(), reportedInfo_.begin());
}

}  // namespace tolv
