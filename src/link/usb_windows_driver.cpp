// The receiver on USB through its own Windows driver.
//
// The driver offers a device interface of class
// {FD8F99A2-0278-4E06-9AB6-80497C4C99C5}. Its device path opens the device
// itself; the path followed by "\INTERFACE_0x00\PIPE_0x00" opens the pipe to
// the receiver, "\INTERFACE_0x00\PIPE_0x01" the pipe from it. Right after
// opening, the driver expects ten requests on the device handle (below); the
// pipes then carry the packets, with overlapped reads and writes.

#include <cctype>

#include "common/windows_text.h"
#include "link/win32_usb_api.h"

namespace tolv::win32 {

const GUID kReceiverDriverInterface = {
    0xFD8F99A2, 0x0278, 0x4E06, {0x9A, 0xB6, 0x80, 0x49, 0x7C, 0x4C, 0x99, 0xC5}};

namespace {

constexpr const wchar_t* kWritePipeSuffix = L"\\INTERFACE_0x00\\PIPE_0x00";
constexpr const wchar_t* kReadPipeSuffix = L"\\INTERFACE_0x00\\PIPE_0x01";

// "80 06 00 01" -> {0x80, 0x06, 0x00, 0x01}: pairs of hexadecimal digits
// separated by spaces.
std::vector<uint8_t> HexBytes(const char* text) {
  const auto digit = [](char c) {
    return std::isdigit(static_cast<unsigned char>(c))
               ? c - '0'
               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
  };
  std::vector<uint8_t> bytes;
  for (const char* p = text; p[0] && p[1]; p += (p[2] == ' ' ? 3 : 2))
    bytes.push_back(static_cast<uint8_t>(digit(p[0]) * 16 + digit(p[1])));
  return bytes;
}

// The driver's requests: GET_DESCRIPTOR set-up packets (device descriptor,
// 18 bytes; configuration descriptor, 9 and 32 bytes) alternating with
// descriptor bytes, then three requests of the driver's own. They are sent
// exactly so, whether or not the bytes form valid descriptors.
std::vector<DriverRequest> MakeSetupSequence() {
  return {
      {0x222100, HexBytes("80 06 00 01 00 00 12 00"), 8},
      {0x222104, HexBytes("12 01 00 02 FF 00 00 40 DB 11 00 10 00 01 01 02 00 01"), 18},
      {0x222100, HexBytes("80 06 00 02 00 00 09 00"), 8},
      {0x222104, HexBytes("00 00 00 00 01 01 00 C0 00"), 9},
      {0x222100, HexBytes("80 06 00 02 00 00 20 00"), 8},
      {0x222104,
       HexBytes(
           "09 02 20 00 01 01 00 C0 00 6A 65 63 74 73 5C 42 00 00 00 00 00 00 00 00 00 00 00 00 02 00 02 00"),
       32},
      {0x222100, HexBytes("80 06 00 02 00 00 09 00"), 8},
      {0x220018, HexBytes("01 00 00 00"), 4},
      {0x220000, {}, 4},
      {0x220014, {}, 4},
  };
}

class DriverPipe : public OverlappedPipe {
 public:
  DriverPipe(UsbApi& api, HANDLE event, HANDLE pipe, bool read)
      : OverlappedPipe(api, event), pipe_(pipe), read_(read) {}

 protected:
  bool Start(uint8_t* data, DWORD byteCount, OVERLAPPED* overlapped) override {
    return read_ ? api_.StartRead(pipe_, data, byteCount, overlapped)
                 : api_.StartWrite(pipe_, data, byteCount, overlapped);
  }
  bool Finish(OVERLAPPED* overlapped, DWORD* byteCount, bool wait) override {
    return api_.Result(pipe_, overlapped, byteCount, wait);
  }
  void Abort(OVERLAPPED* overlapped) override { api_.Cancel(pipe_, overlapped); }
  bool IsRead() const override { return read_; }

 private:
  HANDLE pipe_;
  bool read_;
};

struct DriverHandles {
  HANDLE device = INVALID_HANDLE_VALUE;
  HANDLE writePipe = INVALID_HANDLE_VALUE;
  HANDLE readPipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

void CloseAll(UsbApi& api, const DriverHandles& handles) {
  for (HANDLE h : {handles.readPipe, handles.writePipe, handles.device})
    if (h != INVALID_HANDLE_VALUE) api.Close(h);
  if (handles.event) api.Close(handles.event);
}

class DriverReceiver : public Transport {
 public:
  DriverReceiver(UsbApi& api, DriverHandles handles, std::string path)
      : api_(api),
        handles_(handles),
        path_(std::move(path)),
        write_(api, handles.event, handles.writePipe, false),
        read_(api, handles.event, handles.readPipe, true) {}
  ~DriverReceiver() override { CloseAll(api_, handles_); }

  IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) override {
    if (Failed()) return {IoResult::Status::Fault, 0};
    return write_.Transfer(const_cast<uint8_t*>(data), byteCount,
                           static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1));
  }
  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    if (Failed()) return {IoResult::Status::Fault, 0};
    return read_.Transfer(dst, dstCapacity, static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1));
  }
  void Purge() override {}
  std::string Description() const override { return path_; }

 private:
  // A transfer given up on may still signal the event both pipes share: the
  // receiver is no longer usable through them.
  bool Failed() const { return write_.Failed() || read_.Failed(); }

  UsbApi& api_;
  DriverHandles handles_;
  std::string path_;
  DriverPipe write_;
  DriverPipe read_;
};

// Sends the set-up sequence on the device handle. The answers go into a
// scratch buffer and are not looked at; failures show up later as failing
// transfers.
void SendSetupSequence(UsbApi& api, HANDLE device) {
  uint8_t answer[64];
  for (const DriverRequest& request : Driver_SetupSequence()) {
    DWORD returned = 0;
    api.Control(device, request.code, request.input.empty() ? nullptr : request.input.data(),
                static_cast<DWORD>(request.input.size()), answer, request.outputSize, &returned);
  }
}

}  // namespace

const std::vector<DriverRequest>& Driver_SetupSequence() {
  static const std::vector<DriverRequest> sequence = MakeSetupSequence();
  return sequence;
}

std::unique_ptr<Transport> Driver_OpenReceiver(UsbApi& api, std::string* diagnostic) {
  const std::vector<std::wstring> paths = api.InterfacePaths(kReceiverDriverInterface);
  if (paths.empty()) return nullptr;
  // The first interface only, as the driver numbers them.
  const std::wstring& path = paths.front();
  const std::string where = WideToUtf8(path);
  DriverHandles handles;
  const auto fail = [&](const std::string& what) {
    *diagnostic =
        "the receiver's driver interface " + where + ": " + what + ": " + WindowsErrorText(api.LastError());
    CloseAll(api, handles);
    return nullptr;
  };
  handles.device = api.Open(path, false);
  if (handles.device == INVALID_HANDLE_VALUE) return fail("cannot open the device");
  handles.writePipe = api.Open(path + kWritePipeSuffix, true);
  if (handles.writePipe == INVALID_HANDLE_VALUE) return fail("cannot open the pipe to the receiver");
  handles.readPipe = api.Open(path + kReadPipeSuffix, true);
  if (handles.readPipe == INVALID_HANDLE_VALUE) return fail("cannot open the pipe from the receiver");
  handles.event = api.NewEvent();
  if (!handles.event) return fail("cannot make an event");
  SendSetupSequence(api, handles.device);
  return std::make_unique<DriverReceiver>(api, handles, where);
}

}  // namespace tolv::win32
