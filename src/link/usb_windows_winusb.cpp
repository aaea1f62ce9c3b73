// The receiver on USB through WinUSB, for a receiver bound to it (when its
// own driver is not installed).
//
// The receiver is the USB device 11DB:1000, found among the present USB
// device interfaces by the vendor and product in its path. Its interface 0
// carries two bulk pipes: the first bulk OUT pipe to the receiver, the first
// bulk IN pipe from it. Transfers are overlapped; each pipe also gets the
// transfer's time-out as its PIPE_TRANSFER_TIMEOUT, and a transfer that is
// still open after it (and a grace period) is ended with WinUsb_AbortPipe.

#include <algorithm>
#include <cwctype>

#include "common/windows_text.h"
#include "link/win32_usb_api.h"

namespace tolv::win32 {

namespace {

// GUID_DEVINTERFACE_USB_DEVICE: every USB device offers it, whatever driver
// it is bound to.
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr const wchar_t* kReceiverIds = L"vid_11db&pid_1000";
// Past the pipe's own time-out, the wait for its completion lasts this much
// longer before the transfer is aborted.
constexpr DWORD kAbortGraceMs = 500;

bool IsReceiverPath(std::wstring path) {
  std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return std::towlower(c); });
  return path.find(kReceiverIds) != std::wstring::npos;
}

class WinUsbPipe : public OverlappedPipe {
 public:
  WinUsbPipe(UsbApi& api, HANDLE event, WINUSB_INTERFACE_HANDLE usb, UCHAR pipe)
      : OverlappedPipe(api, event), usb_(usb), pipe_(pipe) {}

  // The pipe's own time-out follows the transfer's; set only when it changes.
  IoResult Move(uint8_t* data, int32_t byteCount, int timeoutMs) {
    const ULONG ms = static_cast<ULONG>(timeoutMs > 0 ? timeoutMs : 1);
    if (ms != timeoutMs_ && api_.WinUsbSetPipeTimeout(usb_, pipe_, ms)) timeoutMs_ = ms;
    return Transfer(data, byteCount, ms + kAbortGraceMs);
  }

 protected:
  bool Start(uint8_t* data, DWORD byteCount, OVERLAPPED* overlapped) override {
    return IsRead() ? api_.WinUsbStartRead(usb_, pipe_, data, byteCount, overlapped)
                    : api_.WinUsbStartWrite(usb_, pipe_, data, byteCount, overlapped);
  }
  bool Finish(OVERLAPPED* overlapped, DWORD* byteCount, bool wait) override {
    return api_.WinUsbResult(usb_, overlapped, byteCount, wait);
  }
  void Abort(OVERLAPPED*) override { api_.WinUsbAbortPipe(usb_, pipe_); }
  bool IsRead() const override { return (pipe_ & 0x80) != 0; }

 private:
  WINUSB_INTERFACE_HANDLE usb_;
  UCHAR pipe_;
  ULONG timeoutMs_ = 0;
};

struct BulkPipes {
  UCHAR out = 0;
  UCHAR in = 0;
};

// The first bulk OUT and the first bulk IN pipe of interface 0's first
// setting; false when it lacks either.
bool FindBulkPipes(UsbApi& api, WINUSB_INTERFACE_HANDLE usb, BulkPipes* pipes) {
  USB_INTERFACE_DESCRIPTOR setting{};
  if (!api.WinUsbQueryInterface(usb, &setting)) return false;
  for (UCHAR i = 0; i < setting.bNumEndpoints; ++i) {
    WINUSB_PIPE_INFORMATION pipe{};
    if (!api.WinUsbQueryPipe(usb, i, &pipe) || pipe.PipeType != UsbdPipeTypeBulk) continue;
    UCHAR& slot = (pipe.PipeId & 0x80) ? pipes->in : pipes->out;
    if (slot == 0) slot = pipe.PipeId;
  }
  return pipes->in != 0 && pipes->out != 0;
}

class WinUsbReceiver : public Transport {
 public:
  WinUsbReceiver(UsbApi& api, HANDLE device, WINUSB_INTERFACE_HANDLE usb, HANDLE event, BulkPipes pipes,
                 std::string path)
      : api_(api),
        device_(device),
        usb_(usb),
        event_(event),
        path_(std::move(path)),
        out_(api, event, usb, pipes.out),
        in_(api, event, usb, pipes.in) {}
  ~WinUsbReceiver() override {
    api_.WinUsbFree(usb_);
    api_.Close(device_);
    api_.Close(event_);
  }

  IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) override {
    if (Failed()) return {IoResult::Status::Fault, 0};
    return out_.Move(const_cast<uint8_t*>(data), byteCount, timeoutMs);
  }
  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    if (Failed()) return {IoResult::Status::Fault, 0};
    return in_.Move(dst, dstCapacity, timeoutMs);
  }
  void Purge() override {}
  std::string Description() const override { return path_; }

 private:
  // A transfer given up on may still signal the event both pipes share: the
  // receiver is no longer usable through them.
  bool Failed() const { return out_.Failed() || in_.Failed(); }

  UsbApi& api_;
  HANDLE device_;
  WINUSB_INTERFACE_HANDLE usb_;
  HANDLE event_;
  std::string path_;
  WinUsbPipe out_;
  WinUsbPipe in_;
};

// Opens one device path through WinUSB; nullptr with the reason otherwise.
std::unique_ptr<Transport> OpenPath(UsbApi& api, const std::wstring& path, std::string* diagnostic) {
  const std::string where = WideToUtf8(path);
  const HANDLE device = api.Open(path, true);
  if (device == INVALID_HANDLE_VALUE) {
    *diagnostic = "the receiver " + where + " cannot be opened: " + WindowsErrorText(api.LastError());
    return nullptr;
  }
  WINUSB_INTERFACE_HANDLE usb = nullptr;
  if (!api.WinUsbInitialize(device, &usb)) {
    *diagnostic = "the receiver " + where + " is bound neither to its own driver nor to WinUSB (" +
                  WindowsErrorText(api.LastError()) + ")";
    api.Close(device);
    return nullptr;
  }
  BulkPipes pipes;
  HANDLE event = nullptr;
  if (!FindBulkPipes(api, usb, &pipes) || !(event = api.NewEvent())) {
    *diagnostic = "the receiver " + where + ": its interface 0 has no bulk IN and OUT pipes";
    api.WinUsbFree(usb);
    api.Close(device);
    return nullptr;
  }
  return std::make_unique<WinUsbReceiver>(api, device, usb, event, pipes, where);
}

}  // namespace

std::unique_ptr<Transport> WinUsb_OpenReceiver(UsbApi& api, std::string* diagnostic) {
  for (const std::wstring& path : api.InterfacePaths(kUsbDeviceInterface)) {
    if (!IsReceiverPath(path)) continue;
    if (std::unique_ptr<Transport> receiver = OpenPath(api, path, diagnostic)) {
      diagnostic->clear();
      return receiver;
    }
  }
  return nullptr;
}

}  // namespace tolv::win32
