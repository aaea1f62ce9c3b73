// The two Windows USB back-ends over a fake of the Win32 calls: which
// interface and pipes they open, the driver's set-up sequence, pipe
// selection, time-outs, the abort of a late transfer and a driver that never
// ends a cancelled one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "common/windows_text.h"
#include "fake_line.h"
#include "link/link.h"
#include "link/win32_usb_api.h"
#include "results/result_codes.h"

namespace tolv::win32 {
namespace {

const std::wstring kDriverPath =
    L"\\\\?\\usb#vid_11db&pid_1000#5&1f&0&2#{fd8f99a2-0278-4e06-9ab6-80497c4c99c5}";
const std::wstring kUsbPath = L"\\\\?\\USB#VID_11DB&PID_1000#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const std::string kUsbDeviceClass = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

// How one transfer goes, in the order the back-end starts them.
struct Step {
  // kNeverEnds: ends only when cancelled; kIgnoresCancel: not even then.
  enum Kind { kAtOnce, kSignalled, kNeverEnds, kIgnoresCancel, kFailsAtStart, kEndsWithError } kind;
  std::vector<uint8_t> data;  // bytes that arrive (read) or count moved (write: size only)
  DWORD error = 0;
};

class FakeApi : public UsbApi {
 public:
  std::map<std::string, std::vector<std::wstring>> interfaces;  // by GuidText of the class
  std::set<std::wstring> unopenable;
  bool winUsbBound = true;
  std::vector<WINUSB_PIPE_INFORMATION> pipes;
  std::deque<Step> steps;
  std::vector<std::string> calls;
  std::set<HANDLE> open;
  std::map<HANDLE, std::wstring> paths;

  std::vector<std::wstring> InterfacePaths(const GUID& c) override { return interfaces[GuidText(c)]; }
  HANDLE Open(const std::wstring& path, bool overlapped) override {
    calls.push_back("Open " + WideToUtf8(path) + (overlapped ? " overlapped" : ""));
    if (unopenable.count(path)) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    return Keep(path);
  }
  void Close(HANDLE h) override { EXPECT_EQ(open.erase(h), 1u) << "closed twice or never opened"; }
  DWORD LastError() override { return lastError_; }
  bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void*, DWORD outSize,
               DWORD*) override {
    const auto* bytes = static_cast<const uint8_t*>(in);
    controls.push_back({code, std::vector<uint8_t>(bytes, bytes + inSize), outSize});
    EXPECT_EQ(paths[device], kDriverPath) << "driver requests go to the device handle";
    return true;
  }
  HANDLE NewEvent() override { return Keep(L"event"); }
  void ResetEvent(HANDLE) override {}
  DWORD Wait(HANDLE, DWORD ms) override {
    calls.push_back("Wait " + std::to_string(ms));
    if (current_.kind == Step::kIgnoresCancel) return WAIT_TIMEOUT;
    return current_.kind == Step::kNeverEnds && !aborted_ ? WAIT_TIMEOUT : WAIT_OBJECT_0;
  }
  bool StartRead(HANDLE pipe, void* data, DWORD n, OVERLAPPED*) override {
    return Start("Read " + WideToUtf8(paths[pipe]), data, n);
  }
  bool StartWrite(HANDLE pipe, const void*, DWORD n, OVERLAPPED*) override {
    return Start("Write " + WideToUtf8(paths[pipe]), nullptr, n);
  }
  // The bytes of the read under way: the system writes there until it ends.
  uint8_t* ReadBuffer() const { return buffer_; }
  bool Result(HANDLE, OVERLAPPED*, DWORD* n, bool wait) override { return Finish(n, wait); }
  void Cancel(HANDLE, OVERLAPPED*) override { Abort("Cancel"); }

  bool WinUsbInitialize(HANDLE device, WINUSB_INTERFACE_HANDLE* usb) override {
    if (!winUsbBound) return Fail(ERROR_NOT_SUPPORTED), false;
    *usb = reinterpret_cast<WINUSB_INTERFACE_HANDLE>(Keep(L"winusb of " + paths[device]));
    return true;
  }
  void WinUsbFree(WINUSB_INTERFACE_HANDLE usb) override { Close(usb); }
  bool WinUsbQueryInterface(WINUSB_INTERFACE_HANDLE, USB_INTERFACE_DESCRIPTOR* d) override {
    d->bNumEndpoints = static_cast<UCHAR>(pipes.size());
    return true;
  }
  bool WinUsbQueryPipe(WINUSB_INTERFACE_HANDLE, UCHAR index, WINUSB_PIPE_INFORMATION* pipe) override {
    *pipe = pipes.at(index);
    return true;
  }
  bool WinUsbSetPipeTimeout(WINUSB_INTERFACE_HANDLE, UCHAR pipe, ULONG ms) override {
    calls.push_back("Timeout " + Hex(pipe) + " " + std::to_string(ms));
    return true;
  }
  bool WinUsbStartRead(WINUSB_INTERFACE_HANDLE, UCHAR pipe, void* data, ULONG n, OVERLAPPED*) override {
    return Start("Read " + Hex(pipe), data, n);
  }
  bool WinUsbStartWrite(WINUSB_INTERFACE_HANDLE, UCHAR pipe, const void*, ULONG n, OVERLAPPED*) override {
    return Start("Write " + Hex(pipe), nullptr, n);
  }
  bool WinUsbResult(WINUSB_INTERFACE_HANDLE, OVERLAPPED*, DWORD* n, bool wait) override {
    return Finish(n, wait);
  }
  void WinUsbAbortPipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe) override { Abort("Abort " + Hex(pipe)); }

  std::vector<DriverRequest> controls;

 private:
  static std::string Hex(UCHAR pipe) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", pipe);
    return text;
  }
  void Fail(DWORD error) { lastError_ = error; }
  HANDLE Keep(const std::wstring& path) {
    const HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100 + next_++));
    open.insert(h);
    paths[h] = path;
    return h;
  }
  bool Start(const std::string& what, void* data, DWORD n) {
    calls.push_back(what + " " + std::to_string(n));
    EXPECT_FALSE(steps.empty()) << "unplanned transfer";
    current_ = steps.empty() ? Step{Step::kNeverEnds, {}} : steps.front();
    if (!steps.empty()) steps.pop_front();
    buffer_ = static_cast<uint8_t*>(data);
    aborted_ = false;
    if (current_.kind == Step::kFailsAtStart) return Fail(current_.error), false;
    if (current_.kind == Step::kAtOnce) return true;
    return Fail(ERROR_IO_PENDING), false;
  }
  void Abort(const std::string& what) {
    calls.push_back(what);
    aborted_ = true;
  }
  bool Finish(DWORD* n, bool wait) {
    calls.push_back(wait ? "Result waited" : "Result");
    // A transfer that never ends by itself would block this wait for ever.
    EXPECT_TRUE(current_.kind != Step::kNeverEnds || aborted_)
        << "waited for a transfer that was not aborted";
    if (current_.kind == Step::kIgnoresCancel) {
      EXPECT_FALSE(wait) << "waited for a transfer the driver never ends: the program hangs";
      return Fail(ERROR_IO_INCOMPLETE), false;
    }
    *n = static_cast<DWORD>(current_.data.size());
    if (buffer_ && !current_.data.empty()) std::memcpy(buffer_, current_.data.data(), current_.data.size());
    if (current_.kind == Step::kNeverEnds) return Fail(ERROR_OPERATION_ABORTED), false;
    if (current_.kind == Step::kEndsWithError) return Fail(current_.error), false;
    return true;
  }

  DWORD lastError_ = 0;
  int next_ = 0;
  Step current_{Step::kNeverEnds, {}};
  uint8_t* buffer_ = nullptr;
  bool aborted_ = false;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

TEST(WindowsUsbDriver, ClassGuidAndSetupSequenceAreExactlyTheDriversOwn) {
  EXPECT_EQ(GuidText(kReceiverDriverInterface), "{FD8F99A2-0278-4E06-9AB6-80497C4C99C5}");
  const std::vector<DriverRequest> expected = {
      {0x222100, Bytes({0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00}), 8},
      {0x222104,
       Bytes({0x12, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x40, 0xDB, 0x11, 0x00, 0x10, 0x00, 0x01, 0x01, 0x02,
              0x00, 0x01}),
       18},
      {0x222100, Bytes({0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x09, 0x00}), 8},
      {0x222104, Bytes({0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x00}), 9},
      {0x222100, Bytes({0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x20, 0x00}), 8},
      {0x222104, Bytes({0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x00, 0x6A, 0x65,
                        0x63, 0x74, 0x73, 0x5C, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00}),
       32},
      {0x222100, Bytes({0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x09, 0x00}), 8},
      {0x220018, Bytes({0x01, 0x00, 0x00, 0x00}), 4},
      {0x220000, {}, 4},
      {0x220014, {}, 4},
  };
  FakeApi api;
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath};
  std::string why;
  ASSERT_TRUE(Driver_OpenReceiver(api, &why));
  ASSERT_EQ(api.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(api.controls[i].code, expected[i].code) << "request " << i + 1;
    EXPECT_EQ(api.controls[i].input, expected[i].input) << "request " << i + 1;
    EXPECT_EQ(api.controls[i].outputSize, expected[i].outputSize) << "request " << i + 1;
  }
}

TEST(WindowsUsbDriver, OpensTheFirstInterfaceWithItsTwoPipesAndClosesAll) {
  FakeApi api;
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath, L"\\\\?\\second"};
  std::string why;
  std::unique_ptr<Transport> receiver = Driver_OpenReceiver(api, &why);
  ASSERT_TRUE(receiver);
  const std::string path = WideToUtf8(kDriverPath);
  EXPECT_EQ(receiver->Description(), path);
  ASSERT_GE(api.calls.size(), 3u);
  EXPECT_EQ(api.calls[0], "Open " + path);
  EXPECT_EQ(api.calls[1], "Open " + path + "\\INTERFACE_0x00\\PIPE_0x00 overlapped");
  EXPECT_EQ(api.calls[2], "Open " + path + "\\INTERFACE_0x00\\PIPE_0x01 overlapped");

  api.calls.clear();
  api.steps = {{Step::kSignalled, std::vector<uint8_t>(512)},
               {Step::kSignalled, Bytes({'T', 'o', 'F', 'i'})}};
  uint8_t packet[512] = {};
  EXPECT_EQ(receiver->Write(packet, 512, 100).status, IoResult::Status::Ok);
  uint8_t reply[30208] = {};
  const IoResult read = receiver->Read(reply, sizeof reply, 200);
  EXPECT_EQ(read.status, IoResult::Status::Ok);
  EXPECT_EQ(read.byteCount, 4);
  EXPECT_EQ(std::memcmp(reply, "ToFi", 4), 0);
  EXPECT_EQ(api.calls,
            (std::vector<std::string>{"Write " + path + "\\INTERFACE_0x00\\PIPE_0x00 512", "Wait 100",
                                      "Result waited", "Read " + path + "\\INTERFACE_0x00\\PIPE_0x01 30208",
                                      "Wait 200", "Result waited"}));
  receiver.reset();
  EXPECT_TRUE(api.open.empty());
}

TEST(WindowsUsbDriver, NoInterfaceIsNoReceiverAndAPipeThatWillNotOpenIsNamed) {
  FakeApi api;
  std::string why = "old";
  EXPECT_FALSE(Driver_OpenReceiver(api, &why));
  EXPECT_EQ(why, "old");  // untouched: nothing to report
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath};
  api.unopenable = {kDriverPath + L"\\INTERFACE_0x00\\PIPE_0x01"};
  EXPECT_FALSE(Driver_OpenReceiver(api, &why));
  EXPECT_NE(why.find("cannot open the pipe from the receiver"), std::string::npos) << why;
  EXPECT_TRUE(api.controls.empty());
  EXPECT_TRUE(api.open.empty());
}

TEST(WindowsUsbTransfer, LateTransfersAreAbortedAndFinishedBeforeReturning) {
  FakeApi api;
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath};
  std::string why;
  std::unique_ptr<Transport> receiver = Driver_OpenReceiver(api, &why);
  ASSERT_TRUE(receiver);
  uint8_t buffer[1024] = {};
  struct Case {
    Step step;
    bool read;
    IoResult::Status status;
    int32_t count;
  };
  const Case cases[] = {
      {{Step::kNeverEnds, {}}, true, IoResult::Status::Timeout, 0},
      // A reply that filled whole packets and stayed open: what came is it.
      {{Step::kNeverEnds, std::vector<uint8_t>(512, 7)}, true, IoResult::Status::Ok, 512},
      {{Step::kNeverEnds, std::vector<uint8_t>(100)}, false, IoResult::Status::Timeout, 100},
      {{Step::kAtOnce, {}}, true, IoResult::Status::Ok, 0},  // a zero-length packet
      {{Step::kEndsWithError, {}, ERROR_DEVICE_NOT_CONNECTED}, true, IoResult::Status::Fault, 0},
      {{Step::kEndsWithError, {}, ERROR_SEM_TIMEOUT}, true, IoResult::Status::Timeout, 0},
      {{Step::kFailsAtStart, {}, ERROR_BAD_COMMAND}, false, IoResult::Status::Fault, 0},
  };
  for (const Case& c : cases) {
    api.calls.clear();
    api.steps = {c.step};
    const IoResult result =
        c.read ? receiver->Read(buffer, sizeof buffer, 200) : receiver->Write(buffer, 512, 100);
    EXPECT_EQ(result.status, c.status) << api.calls.front();
    EXPECT_EQ(result.byteCount, c.count) << api.calls.front();
    const auto cancel = std::find(api.calls.begin(), api.calls.end(), "Cancel");
    if (c.step.kind == Step::kNeverEnds) {
      // Aborted, then its end awaited: the buffer is free when we return.
      ASSERT_NE(cancel, api.calls.end());
      EXPECT_EQ(api.calls.back(), "Result waited");
    } else {
      EXPECT_EQ(cancel, api.calls.end());
    }
  }
}

// A driver that never ends a cancelled read: the wait for its end is
// bounded, the read's record and bytes outlive the receiver, and the receiver
// fails from then on, through the link too.
TEST(WindowsUsbTransfer, ADriverThatNeverEndsACancelledReadFailsTheReceiverInBoundedTime) {
  FakeApi api;
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath};
  test::FakeClock clock;
  LinkDevices devices;
  devices.pollUsb = [&api](std::string* why) { return Usb_OpenReceiverWith(api, why); };
  devices.clock = &clock;
  Link link(devices);
  ASSERT_EQ(link.Open("USB", [](uint8_t, double) {}), 0);
  const size_t abandoned = OverlappedPipe_AbandonedCount();
  api.calls.clear();
  api.steps = {{Step::kSignalled, std::vector<uint8_t>(512)}, {Step::kIgnoresCancel, {}}};
  EXPECT_EQ(link.DownloadMode(), result::kDownloadModeTimeout);
  const std::string pipe = WideToUtf8(kDriverPath) + "\\INTERFACE_0x00\\PIPE_0x0";
  EXPECT_EQ(api.calls,
            (std::vector<std::string>{"Write " + pipe + "0 512", "Wait 100", "Result waited",
                                      "Read " + pipe + "1 30208", "Wait 200", "Cancel", "Wait 1000"}));
  EXPECT_EQ(OverlappedPipe_AbandonedCount(), abandoned + 1);
  uint8_t* const lateBytes = api.ReadBuffer();
  // Nothing more goes to a receiver whose driver holds a request.
  api.calls.clear();
  link.End();
  EXPECT_TRUE(api.calls.empty());
  link.Close();
  EXPECT_TRUE(api.open.empty());
  // The driver ends the request at last: its bytes are still the program's.
  std::fill_n(lateBytes, 30208, uint8_t{0x55});
}

class WindowsWinUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    api.interfaces[kUsbDeviceClass] = {
        L"\\\\?\\usb#vid_046d&pid_c52b#6&2f#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", kUsbPath};
    // An interrupt pipe first, then two bulk pairs: the first of each
    // direction is taken.
    api.pipes = {{UsbdPipeTypeInterrupt, 0x83, 8, 1},
                 {UsbdPipeTypeBulk, 0x02, 512, 0},
                 {UsbdPipeTypeBulk, 0x81, 512, 0},
                 {UsbdPipeTypeBulk, 0x04, 512, 0},
                 {UsbdPipeTypeBulk, 0x85, 512, 0}};
  }
  FakeApi api;
};

TEST_F(WindowsWinUsb, FindsTheReceiverByItsIdsAndUsesTheFirstBulkPipes) {
  std::string why;
  std::unique_ptr<Transport> receiver = WinUsb_OpenReceiver(api, &why);
  ASSERT_TRUE(receiver) << why;
  EXPECT_EQ(receiver->Description(), WideToUtf8(kUsbPath));
  EXPECT_EQ(api.calls, (std::vector<std::string>{"Open " + WideToUtf8(kUsbPath) + " overlapped"}));

  api.calls.clear();
  api.steps = {{Step::kSignalled, std::vector<uint8_t>(512)},
               {Step::kSignalled, std::vector<uint8_t>(512)},
               {Step::kNeverEnds, {}}};
  uint8_t buffer[30208] = {};
  EXPECT_EQ(receiver->Write(buffer, 512, 100).status, IoResult::Status::Ok);
  EXPECT_EQ(receiver->Write(buffer, 512, 100).status, IoResult::Status::Ok);
  EXPECT_EQ(receiver->Read(buffer, sizeof buffer, 200).status, IoResult::Status::Timeout);
  // The pipe's own time-out is set when it changes; a transfer still open
  // past it and the grace period is aborted on its pipe.
  EXPECT_EQ(api.calls, (std::vector<std::string>{"Timeout 02 100", "Write 02 512", "Wait 600",
                                                 "Result waited", "Write 02 512", "Wait 600", "Result waited",
                                                 "Timeout 81 200", "Read 81 30208", "Wait 700", "Abort 81",
                                                 "Wait 1000", "Result waited"}));
  receiver.reset();
  EXPECT_TRUE(api.open.empty());
}

TEST_F(WindowsWinUsb, AReadThatOutlivesItsAbortFailsTheReceiver) {
  std::string why;
  std::unique_ptr<Transport> receiver = WinUsb_OpenReceiver(api, &why);
  ASSERT_TRUE(receiver) << why;
  api.steps = {{Step::kIgnoresCancel, {}}};
  uint8_t buffer[512] = {};
  EXPECT_EQ(receiver->Read(buffer, sizeof buffer, 200).status, IoResult::Status::Fault);
  EXPECT_EQ(std::vector<std::string>(api.calls.end() - 3, api.calls.end()),
            (std::vector<std::string>{"Wait 700", "Abort 81", "Wait 1000"}));
  api.calls.clear();
  EXPECT_EQ(receiver->Write(buffer, sizeof buffer, 100).status, IoResult::Status::Fault);
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(WindowsWinUsb, AReceiverWithoutWinUsbOrBulkPipesIsNamedWithTheReason) {
  std::string why;
  api.winUsbBound = false;
  EXPECT_FALSE(WinUsb_OpenReceiver(api, &why));
  EXPECT_NE(why.find("bound neither to its own driver nor to WinUSB"), std::string::npos) << why;
  api.winUsbBound = true;
  api.pipes.resize(2);  // no bulk IN
  EXPECT_FALSE(WinUsb_OpenReceiver(api, &why));
  EXPECT_NE(why.find("no bulk IN and OUT pipes"), std::string::npos) << why;
  EXPECT_TRUE(api.open.empty());
  api.interfaces[kUsbDeviceClass].pop_back();
  why.clear();
  EXPECT_FALSE(WinUsb_OpenReceiver(api, &why));
  EXPECT_EQ(why, "");
}

TEST_F(WindowsWinUsb, TheReceiversOwnDriverIsTriedFirst) {
  std::string why;
  EXPECT_EQ(Usb_OpenReceiverWith(api, &why)->Description(), WideToUtf8(kUsbPath));
  api.interfaces[GuidText(kReceiverDriverInterface)] = {kDriverPath};
  EXPECT_EQ(Usb_OpenReceiverWith(api, &why)->Description(), WideToUtf8(kDriverPath));
  // Its driver there but failing, the device not bound to WinUSB: the
  // driver's reason is the one given.
  api.unopenable = {kDriverPath};
  api.winUsbBound = false;
  EXPECT_FALSE(Usb_OpenReceiverWith(api, &why));
  EXPECT_NE(why.find("cannot open the device"), std::string::npos) << why;
}

}  // namespace
}  // namespace tolv::win32
