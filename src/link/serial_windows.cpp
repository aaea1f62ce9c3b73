// Serial ports on Windows (COM1, COM2, ...).

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "common/windows_text.h"
#include "link/read_ahead.h"
#include "link/transport.h"

namespace tolv {

namespace {

// A read that has bytes returns once the line has been quiet this long.
// (The "return at once" form, an interval of MAXDWORD with zero totals, is
// not honoured everywhere: Wine waits for a byte.) Reads ask for what has
// arrived, or for one byte, so this rarely matters.
constexpr DWORD kReadIntervalMs = 10;
// The closing drain of the output queue waits at most this long.
constexpr DWORD kDrainMs = 500;
constexpr DWORD kQueueSize = 4096;

void SetDiagnostic(std::string* diagnostic, const std::string& text) {
  if (diagnostic) *diagnostic = text;
}

// "COM10" must be opened as "\\.\COM10"; so may any other device name. A
// name that already has a prefix is left alone.
std::wstring DevicePath(const std::string& name) {
  const std::wstring wide = Utf8ToWide(name);
  if (wide.rfind(L"\\\\", 0) == 0) return wide;
  return L"\\\\.\\" + wide;
}

// Why a port could not be opened (GetLastError's error), said so that the
// user knows what helps. A port opens for one program at a time: access
// denied means another one has it.
std::string OpenFailureText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return "no such port (\"tolv ports\" lists the serial ports of this machine)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return "in use by another program; close it, or wait until it is done";
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE: return "no device behind it (is the USB serial adapter plugged in?)";
    default: return WindowsErrorText(error);
  }
}

// Opens name for reading and writing, shared with no one (a port that
// another program holds fails to open), for synchronous I/O.
HANDLE OpenExclusive(const std::string& name, std::string* diagnostic) {
  const HANDLE port = CreateFileW(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) SetDiagnostic(diagnostic, name + ": " + OpenFailureText(GetLastError()));
  return port;
}

// 8 data bits at 115200 baud, binary. Parity, stop bits and hardware flow
// control stay as the port had them; software flow control, which would
// swallow the bytes 0x11 and 0x13 of binary packets, is turned off, and so
// is everything else that would change or drop bytes.
bool Configure(HANDLE port, const std::string& name, std::string* diagnostic) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) {
    SetDiagnostic(diagnostic, name + ": not a serial port (" + WindowsErrorText(GetLastError()) + ")");
    return false;
  }
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(port, &dcb)) {
    SetDiagnostic(diagnostic, name + ": cannot set up the port: " + WindowsErrorText(GetLastError()));
    return false;
  }
  SetupComm(port, kQueueSize, kQueueSize);
  return true;
}

class SerialPort : public Transport {
 public:
  SerialPort(HANDLE port, std::string name) : port_(port), name_(std::move(name)) {}
  ~SerialPort() override;
  IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) override;
  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override;
  void Purge() override;
  std::string Description() const override { return name_; }

 private:
  bool ApplyTimeouts(const COMMTIMEOUTS& wanted);

  HANDLE port_;
  std::string name_;
  // The time-outs last given to the port; set again only when they change.
  COMMTIMEOUTS timeouts_{kReadIntervalMs, 0, 50, 0, 1000};
  bool haveTimeouts_ = false;
  ReadAhead<kQueueSize> pending_;
};

SerialPort::~SerialPort() {
  // Let the last bytes (an end or reboot command) leave, but never wait long
  // for a line held up by flow control.
  const ULONGLONG deadline = GetTickCount64() + kDrainMs;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_, &errors, &status) || status.cbOutQue == 0 || GetTickCount64() >= deadline)
      break;
    Sleep(5);
  }
  PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
  CloseHandle(port_);
}

// Gives the port the time-outs wanted unless it has them already: reads wait
// up to ReadTotalTimeoutConstant in all and return once the line has been
// quiet for kReadIntervalMs after a byte; writes may take
// WriteTotalTimeoutConstant in all.
bool SerialPort::ApplyTimeouts(const COMMTIMEOUTS& wanted) {
  if (haveTimeouts_ && std::memcmp(&wanted, &timeouts_, sizeof wanted) == 0) return true;
  COMMTIMEOUTS copy = wanted;
  if (!SetCommTimeouts(port_, &copy)) return false;
  timeouts_ = wanted;
  haveTimeouts_ = true;
  return true;
}

IoResult SerialPort::Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) {
  if (dstCapacity <= 0) return {};
  if (!pending_.Empty()) return {IoResult::Status::Ok, pending_.Take(dst, dstCapacity)};
  COMMTIMEOUTS wanted = timeouts_;
  wanted.ReadTotalTimeoutConstant = static_cast<DWORD>(std::max(timeoutMs, 1));
  if (!ApplyTimeouts(wanted)) return {IoResult::Status::Fault, 0};
  // What has arrived is taken at once; with nothing there, one byte is
  // waited for, so the read returns as soon as the line speaks.
  DWORD errors = 0;
  COMSTAT status{};
  DWORD want = 1;
  if (ClearCommError(port_, &errors, &status) && status.cbInQue > 0)
    want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(pending_.Capacity()));
  DWORD got = 0;
  if (!ReadFile(port_, pending_.Space(), want, &got, nullptr)) return {IoResult::Status::Fault, 0};
  pending_.Filled(got);
  return {IoResult::Status::Ok, pending_.Take(dst, dstCapacity)};
}

IoResult SerialPort::Write(const uint8_t* data, int32_t byteCount, int timeoutMs) {
  if (byteCount <= 0) return {};
  COMMTIMEOUTS wanted = timeouts_;
  wanted.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(timeoutMs, 1));
  if (!ApplyTimeouts(wanted)) return {IoResult::Status::Fault, 0};
  DWORD written = 0;
  if (!WriteFile(port_, data, static_cast<DWORD>(byteCount), &written, nullptr))
    return {IoResult::Status::Fault, static_cast<int32_t>(written)};
  const int32_t moved = static_cast<int32_t>(written);
  return {moved == byteCount ? IoResult::Status::Ok : IoResult::Status::Timeout, moved};
}

void SerialPort::Purge() {
  PurgeComm(port_, PURGE_TXCLEAR | PURGE_RXCLEAR);
  pending_.Clear();
}

// The names of the serial ports the system knows: the values under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("COM1", ...).
std::vector<std::string> RegisteredPortNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD valueNameLength = 256;
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);  // room for a terminating zero
    DWORD type = 0;
    const LONG rc = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string name = WideToUtf8(std::wstring(data, wcsnlen(data, dataSize / sizeof(wchar_t))));
    if (!name.empty()) names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

}  // namespace

std::unique_ptr<Transport> Serial_Open(const std::string& name, std::string* diagnostic) {
  const HANDLE port = OpenExclusive(name, diagnostic);
  if (port == INVALID_HANDLE_VALUE) return nullptr;
  if (!Configure(port, name, diagnostic)) {
    CloseHandle(port);
    return nullptr;
  }
  // Not purged: bytes that arrived since the port opened may be the start of
  // the receiver's announcement.
  return std::make_unique<SerialPort>(port, name);
}

bool IsDeviceAvailable(const std::string& name) {
  // The same open as the link's, without changing the port's settings.
  const HANDLE port = OpenExclusive(name, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  CloseHandle(port);
  return true;
}

std::vector<std::string> Serial_ListPorts() {
  return Serial_AvailablePorts(RegisteredPortNames(), IsDeviceAvailable);
}

}  // namespace tolv
