// The Win32 calls of the two Windows USB back-ends, behind an interface so
// that tests stand in for the system and the receiver (SystemUsbApi is the
// real one). Each method is one system call or a fixed group of them, with
// the system's own conventions: handles, BOOL-like results and LastError.
#pragma once

#include <windows.h>
#include <winusb.h>

#include <memory>
#include <string>
#include <vector>

#include "link/transport.h"

namespace tolv::win32 {

class UsbApi {
 public:
  virtual ~UsbApi() = default;

  // The device paths of the present device interfaces of interfaceClass, in
  // the system's order (SetupDiGetClassDevsW with DIGCF_PRESENT |
  // DIGCF_DEVICEINTERFACE, SetupDiEnumDeviceInterfaces,
  // SetupDiGetDeviceInterfaceDetailW). Empty when there is none.
  virtual std::vector<std::wstring> InterfacePaths(const GUID& interfaceClass) = 0;

  // CreateFileW for reading and writing, shared with no one, an existing
  // device only; overlapped selects FILE_FLAG_OVERLAPPED.
  // INVALID_HANDLE_VALUE on failure.
  virtual HANDLE Open(const std::wstring& path, bool overlapped) = 0;
  virtual void Close(HANDLE handle) = 0;
  // GetLastError of the last failed call.
  virtual DWORD LastError() = 0;

  // DeviceIoControl without overlapped completion.
  virtual bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) = 0;

  // A manual-reset event for overlapped I/O (null on failure), its reset,
  // and WaitForSingleObject.
  virtual HANDLE NewEvent() = 0;
  virtual void ResetEvent(HANDLE event) = 0;
  virtual DWORD Wait(HANDLE event, DWORD ms) = 0;

  // Overlapped ReadFile and WriteFile: true when the transfer completed at
  // once, false with LastError ERROR_IO_PENDING while it runs, else failed.
  virtual bool StartRead(HANDLE pipe, void* data, DWORD byteCount, OVERLAPPED* overlapped) = 0;
  virtual bool StartWrite(HANDLE pipe, const void* data, DWORD byteCount, OVERLAPPED* overlapped) = 0;
  // GetOverlappedResult; wait blocks until the transfer has finished.
  virtual bool Result(HANDLE pipe, OVERLAPPED* overlapped, DWORD* byteCount, bool wait) = 0;
  // CancelIoEx of that one transfer.
  virtual void Cancel(HANDLE pipe, OVERLAPPED* overlapped) = 0;

  // WinUSB: WinUsb_Initialize and WinUsb_Free, the first setting of
  // interface 0 (WinUsb_QueryInterfaceSettings) and its pipes
  // (WinUsb_QueryPipe).
  virtual bool WinUsbInitialize(HANDLE device, WINUSB_INTERFACE_HANDLE* usb) = 0;
  virtual void WinUsbFree(WINUSB_INTERFACE_HANDLE usb) = 0;
  virtual bool WinUsbQueryInterface(WINUSB_INTERFACE_HANDLE usb, USB_INTERFACE_DESCRIPTOR* descriptor) = 0;
  virtual bool WinUsbQueryPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR index, WINUSB_PIPE_INFORMATION* pipe) = 0;
  // WinUsb_SetPipePolicy with PIPE_TRANSFER_TIMEOUT (milliseconds, 0 = none).
  virtual bool WinUsbSetPipeTimeout(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG ms) = 0;
  // WinUsb_ReadPipe and WinUsb_WritePipe with overlapped completion (results
  // as for StartRead), WinUsb_GetOverlappedResult and WinUsb_AbortPipe.
  virtual bool WinUsbStartRead(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, void* data, ULONG byteCount,
                               OVERLAPPED* overlapped) = 0;
  virtual bool WinUsbStartWrite(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, const void* data, ULONG byteCount,
                                OVERLAPPED* overlapped) = 0;
  virtual bool WinUsbResult(WINUSB_INTERFACE_HANDLE usb, OVERLAPPED* overlapped, DWORD* byteCount,
                            bool wait) = 0;
  virtual void WinUsbAbortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) = 0;
};

// The system's own calls.
UsbApi& SystemUsbApi();

// "{FD8F99A2-0278-4E06-9AB6-80497C4C99C5}": a GUID in its registry form,
// upper-case hexadecimal digits.
std::string GuidText(const GUID& guid);

// The device interface class of the receiver's own Windows driver.
extern const GUID kReceiverDriverInterface;  // {FD8F99A2-0278-4E06-9AB6-80497C4C99C5}

// One driver request of the set-up sequence that the receiver's driver
// expects right after its handles are opened.
struct DriverRequest {
  DWORD code;                  // DeviceIoControl code
  std::vector<uint8_t> input;  // the request's input bytes
  DWORD outputSize;            // room given for the output (not looked at)
};

// The ten requests of the set-up sequence, in order.
const std::vector<DriverRequest>& Driver_SetupSequence();

// Back-end (a): the receiver through its own driver. Takes the first present
// interface of kReceiverDriverInterface, opens the device and its two pipes
// (path + "\INTERFACE_0x00\PIPE_0x00" to the receiver, "...PIPE_0x01" from
// it) and sends the set-up sequence. nullptr with an empty diagnostic when
// no such interface is present, with the reason when it cannot be opened.
std::unique_ptr<Transport> Driver_OpenReceiver(UsbApi& api, std::string* diagnostic);

// Back-end (b): the receiver (USB device 11DB:1000) bound to WinUSB. Its
// interface 0's first bulk OUT pipe goes to the receiver, the first bulk IN
// pipe comes from it. nullptr with an empty diagnostic when no such device
// is present, with the reason when it is present but not usable (bound to
// another driver, no bulk pipes).
std::unique_ptr<Transport> WinUsb_OpenReceiver(UsbApi& api, std::string* diagnostic);

// One poll for the receiver: its own driver first, then WinUSB. The
// diagnostic names why a receiver that is present cannot be used.
std::unique_ptr<Transport> Usb_OpenReceiverWith(UsbApi& api, std::string* diagnostic);

// How long a transfer that was cancelled (CancelIoEx, WinUsb_AbortPipe) may
// take to end. A driver ends a cancelled request at once; one that does not
// within this time may never end it, and the transfer is given up.
inline constexpr DWORD kCancelledTransferWaitMs = 1000;

// A transfer in one direction on a pipe that completes through an event
// (OVERLAPPED). Subclasses give the three calls of their kind of pipe.
//
// The OVERLAPPED record and the bytes a transfer moves are the pipe's own,
// on the heap: the system writes into both until the transfer has ended,
// which for a transfer given up on may be after the caller's buffer, the pipe
// and the transport are gone. Those of a transfer given up on are kept for
// the rest of the process.
class OverlappedPipe {
 public:
  OverlappedPipe(UsbApi& api, HANDLE event);
  virtual ~OverlappedPipe();
  OverlappedPipe(const OverlappedPipe&) = delete;
  OverlappedPipe& operator=(const OverlappedPipe&) = delete;

  // Moves byteCount bytes, waiting waitMs for the transfer to complete. One
  // that does not complete in time is aborted, and its end awaited for at
  // most kCancelledTransferWaitMs, before this returns: data is free again
  // either way. A read that ends with bytes (also when aborted) is Ok with
  // them; Timeout when no read completed, or when a write was cut short;
  // Fault for any other failure of the system. A transfer that has not ended
  // after its cancel is given up: Fault, and every later transfer of the pipe
  // is Fault at once, without a system call (Failed()).
  IoResult Transfer(uint8_t* data, int32_t byteCount, DWORD waitMs);

  // True once a transfer was given up on: the pipe is unusable, and so is
  // the transport that owns it (its pipes share one event, which the
  // transfer given up on may still signal).
  bool Failed() const { return request_ == nullptr; }

  // One transfer's OVERLAPPED record and bytes.
  struct Request;

 protected:
  virtual bool Start(uint8_t* data, DWORD byteCount, OVERLAPPED* overlapped) = 0;
  virtual bool Finish(OVERLAPPED* overlapped, DWORD* byteCount, bool wait) = 0;
  virtual void Abort(OVERLAPPED* overlapped) = 0;
  virtual bool IsRead() const = 0;
  UsbApi& api_;

 private:
  IoResult Run(Request& request, DWORD byteCount, DWORD waitMs);
  IoResult EndLate(Request& request);
  IoResult Ended(bool ok, DWORD moved);
  HANDLE event_;
  std::unique_ptr<Request> request_;  // null once given up on
};

// Transfers given up on in this process so far (their records are kept).
size_t OverlappedPipe_AbandonedCount();

}  // namespace tolv::win32
