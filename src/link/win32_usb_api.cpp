// The system's own USB calls.

#include "link/win32_usb_api.h"

#include <setupapi.h>

#include <cstdio>

namespace tolv::win32 {

namespace {

// The first present device interfaces of a class, in the system's order.
std::vector<std::wstring> EnumerateInterfaces(const GUID& interfaceClass) {
  std::vector<std::wstring> paths;
  const HDEVINFO list =
      SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &interfaceClass, index, &data)) break;
    // First the size of the detail record, then the record itself, whose
    // size field holds the size of its fixed part.
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<uint8_t> record(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr)) continue;
    const size_t chars = (size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    paths.emplace_back(detail->DevicePath, wcsnlen(detail->DevicePath, chars));
  }
  SetupDiDestroyDeviceInfoList(list);
  return paths;
}

class SystemApi : public UsbApi {
 public:
  std::vector<std::wstring> InterfacePaths(const GUID& interfaceClass) override {
    return EnumerateInterfaces(interfaceClass);
  }
  HANDLE Open(const std::wstring& path, bool overlapped) override {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  }
  void Close(HANDLE handle) override { CloseHandle(handle); }
  DWORD LastError() override { return GetLastError(); }
  bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) override {
    return DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr) != 0;
  }
  HANDLE NewEvent() override { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  void ResetEvent(HANDLE event) override { ::ResetEvent(event); }
  DWORD Wait(HANDLE event, DWORD ms) override { return WaitForSingleObject(event, ms); }
  bool StartRead(HANDLE pipe, void* data, DWORD byteCount, OVERLAPPED* overlapped) override {
    return ReadFile(pipe, data, byteCount, nullptr, overlapped) != 0;
  }
  bool StartWrite(HANDLE pipe, const void* data, DWORD byteCount, OVERLAPPED* overlapped) override {
    return WriteFile(pipe, data, byteCount, nullptr, overlapped) != 0;
  }
  bool Result(HANDLE pipe, OVERLAPPED* overlapped, DWORD* byteCount, bool wait) override {
    return GetOverlappedResult(pipe, overlapped, byteCount, wait) != 0;
  }
  void Cancel(HANDLE pipe, OVERLAPPED* overlapped) override { CancelIoEx(pipe, overlapped); }

  bool WinUsbInitialize(HANDLE device, WINUSB_INTERFACE_HANDLE* usb) override {
    return WinUsb_Initialize(device, usb) != 0;
  }
  void WinUsbFree(WINUSB_INTERFACE_HANDLE usb) override { WinUsb_Free(usb); }
  bool WinUsbQueryInterface(WINUSB_INTERFACE_HANDLE usb, USB_INTERFACE_DESCRIPTOR* descriptor) override {
    return WinUsb_QueryInterfaceSettings(usb, 0, descriptor) != 0;
  }
  bool WinUsbQueryPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR index, WINUSB_PIPE_INFORMATION* pipe) override {
    return WinUsb_QueryPipe(usb, 0, index, pipe) != 0;
  }
  bool WinUsbSetPipeTimeout(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG ms) override {
    return WinUsb_SetPipePolicy(usb, pipe, PIPE_TRANSFER_TIMEOUT, sizeof ms, &ms) != 0;
  }
  bool WinUsbStartRead(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, void* data, ULONG byteCount,
                       OVERLAPPED* overlapped) override {
    return WinUsb_ReadPipe(usb, pipe, static_cast<PUCHAR>(data), byteCount, nullptr, overlapped) != 0;
  }
  bool WinUsbStartWrite(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, const void* data, ULONG byteCount,
                        OVERLAPPED* overlapped) override {
    return WinUsb_WritePipe(usb, pipe, static_cast<PUCHAR>(const_cast<void*>(data)), byteCount, nullptr,
                            overlapped) != 0;
  }
  bool WinUsbResult(WINUSB_INTERFACE_HANDLE usb, OVERLAPPED* overlapped, DWORD* byteCount,
                    bool wait) override {
    return WinUsb_GetOverlappedResult(usb, overlapped, byteCount, wait) != 0;
  }
  void WinUsbAbortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) override { WinUsb_AbortPipe(usb, pipe); }
};

}  // namespace

UsbApi& SystemUsbApi() {
  static SystemApi api;
  return api;
}

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace tolv::win32
