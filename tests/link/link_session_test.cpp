// Opening and closing the link, the mode handshakes, reboot, end and cancel.

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "results/result_codes.h"
#include "test_support.h"

namespace tolv {
namespace {

using test::LinkTest;

TEST_F(LinkTest, DeviceTextSelectsTheTransport) {
  for (const char* device : {"usb", "Usb", "USB", "uSB"}) {
    Make(false);
    ASSERT_EQ(link->Open(device, {}), 0) << device;
    EXPECT_TRUE(link->useUsb()) << device;
    EXPECT_EQ(line->usbPolls, 1) << device;
  }
  for (const char* device : {"COM1", "/dev/ttyS0", "usb0", "US B"}) {
    Make(false);
    ASSERT_EQ(link->Open(device, {}), 0) << device;
    EXPECT_FALSE(link->useUsb()) << device;
    EXPECT_EQ(line->usbPolls, 0) << device;
  }
}

TEST_F(LinkTest, ClosedLinkRefusesEveryOperation) {
  Make(false);
  line->serialOpenFails = true;
  EXPECT_EQ(link->Open("/dev/ttyNONE", Recorder()), result::kOpenSerialFailed);
  EXPECT_TRUE(statuses.empty());  // a failed serial open makes no callback call
  EXPECT_FALSE(link->isOpen());

  uint8_t buffer[16];
  int32_t size = 5;
  EXPECT_EQ(link->Reboot(), result::kRebootNotOpened);
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeNotOpened);
  EXPECT_EQ(link->UploadMode(), result::kUploadModeNotOpened);
  EXPECT_EQ(link->TransferBlock(3, buffer, sizeof buffer, &size), result::kTransferNotOpened);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(link->End(), result::kEndNotOpened);
  EXPECT_TRUE(statuses.empty());  // not even End calls back
  EXPECT_TRUE(line->writes.empty());

  // Close on a closed link: status 8 each time, nothing else.
  EXPECT_EQ(link->Close(), 0);
  EXPECT_EQ(link->Close(), 0);
  EXPECT_EQ(StatusCodes(), (std::vector<uint8_t>{8, 8}));
}

TEST_F(LinkTest, OpenClosesAConnectionLeftOpen) {
  Make(false);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", {}), 0);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", {}), 0);
  EXPECT_EQ(line->openTransports, 1);
  link->Close();
  EXPECT_EQ(line->openTransports, 0);
}

TEST_F(LinkTest, UsbWaitPollsQuicklyThenEasesOff) {
  // A loader may listen only some 20 ms after it appears: the polls follow
  // each other within a few milliseconds, and only a long wait eases off.
  Make(true);
  line->usbPollsUntilPresent = 3;
  ASSERT_EQ(link->Open("USB", Recorder()), 0);
  EXPECT_EQ(StatusCodes(), (std::vector<uint8_t>{1, 1, 1, 1, 2}));
  EXPECT_EQ(line->usbPolls, 4);
  EXPECT_EQ(clock.slept, 6u);
  Make(true);
  line->usbPollsUntilPresent = 1000000;
  onStatus = [&](uint8_t status, double) {
    if (status == 1 && clock.now >= 1000 + 60000) link->Cancel();
  };
  EXPECT_EQ(link->Open("USB", Recorder()), result::kOpenUsbCanceled);
  // 10 s at 2 ms, then 50 s at 10 ms.
  EXPECT_NEAR(line->usbPolls, 5000 + 5000, 10);
}

TEST_F(LinkTest, UsbWaitEndsOnCancelFromTheCallback) {
  Make(true);
  line->usbPollsUntilPresent = 1000000;
  link->SetLogFile("");
  onStatus = [&](uint8_t status, double) {
    if (status == 1 && CountStatus(1) == 5) link->Cancel();
  };
  EXPECT_EQ(link->Open("USB", Recorder()), result::kOpenUsbCanceled);
  EXPECT_EQ(StatusCodes(), (std::vector<uint8_t>{1, 1, 1, 1, 1, 9}));
  EXPECT_EQ(line->usbPolls, 4);
  EXPECT_FALSE(link->isOpen());
}

TEST_F(LinkTest, UsbWaitWithoutCallbackIsBounded) {
  Make(true);
  line->usbPollsUntilPresent = 1000000;
  const uint64_t start = clock.now;
  EXPECT_EQ(link->Open("USB", {}), result::kOpenUsbNotFound);
  EXPECT_GE(clock.now - start, static_cast<uint64_t>(kUnattendedWaitMs));
  EXPECT_LE(line->usbPolls, kUnattendedWaitMs / 2 + 2);
}

TEST_F(LinkTest, UnusableUsbReceiverIsLoggedOnceAndReported) {
  test::TempDir dir;
  Make(true);
  link->SetLogFile(dir.File("TolvPack.log"));
  line->usbPollsUntilPresent = 1000000;
  line->usbDiagnostic = "no permission to use the receiver on USB bus 001 device 004";
  onStatus = [&](uint8_t status, double) {
    if (status == 1 && CountStatus(1) == 4) link->Cancel();
  };
  EXPECT_EQ(link->Open("USB", Recorder()), result::kOpenUsbCanceled);
  EXPECT_EQ(link->usbDiagnostic(), line->usbDiagnostic);
  const std::string log = test::ReadText(dir.File("TolvPack.log"));
  const std::string line1 =
      "Comm_Open         : Topfield USB device found but not usable: " + line->usbDiagnostic;
  EXPECT_NE(log.find(line1), std::string::npos);
  EXPECT_EQ(log.find(line1), log.rfind(line1));
  EXPECT_NE(log.find("Comm_Open         : Exiting due to GlobalCancel\r\n"), std::string::npos);
}

TEST_F(LinkTest, UsbModeHandshakes) {
  Make(true);
  receiver->replySequence = 0x33;
  receiver->systemId = 1416;
  ASSERT_EQ(link->Open("USB", Recorder()), 0);
  ASSERT_EQ(link->DownloadMode(), 0);
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0].command, 0x03);
  EXPECT_EQ(line->writes[0].size(), 512u);
  int32_t systemId = 0;
  uint8_t info[kReceiverInfoSize] = {};
  link->GetReceiverInfo(&systemId, info);
  EXPECT_EQ(systemId, 1416);
  EXPECT_EQ(std::vector<uint8_t>(info, info + 32), receiver->info);
  EXPECT_EQ(link->channel().seqNo(), 0x33);
  EXPECT_EQ(statuses.back().first, 3);
  EXPECT_EQ(link->transferDirection(), TransferDirection::Download);

  // Upload mode asks with command code 1 on USB.
  receiver->uploadSize = 0;
  ASSERT_EQ(link->UploadMode(), 0);
  EXPECT_EQ(Written()[1].command, 0x01);
  EXPECT_EQ(statuses.back().first, 4);
  EXPECT_EQ(link->transferDirection(), TransferDirection::Upload);
}

TEST_F(LinkTest, UsbModeHandshakeTimesOutAfterOneRead) {
  Make(true);
  receiver->silent = true;
  ASSERT_EQ(link->Open("USB", Recorder()), 0);
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeTimeout);
  EXPECT_EQ(line->reads, 1);
  EXPECT_EQ(link->UploadMode(), result::kUploadModeTimeout);
  EXPECT_EQ(line->reads, 2);
}

TEST_F(LinkTest, UsbModeHandshakeAfterCancelIsACancelNotATimeout) {
  Make(true);
  ASSERT_EQ(link->Open("USB", Recorder()), 0);
  link->Cancel();
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeCanceled);
  EXPECT_EQ(link->UploadMode(), result::kUploadModeCanceled);
  EXPECT_TRUE(line->writes.empty());
  // The next open clears the cancel.
  ASSERT_EQ(link->Open("USB", Recorder()), 0);
  EXPECT_EQ(link->DownloadMode(), 0);
}

TEST_F(LinkTest, SerialDownloadModeWaitsForTheAnnouncement) {
  Make(false);
  receiver->replySequence = 0x7E;
  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  // The loader's boot: stray bytes, a text packet, then the announcement.
  line->Send({0x00, 0xFF, 'T', 'o', 0x0D, 0x0A}, 200);
  line->Send(test::FramePacket(false, 0x01, 0xFF, {'B', 'o', 'o', 't'}), 50);
  receiver->Announce(300);
  ASSERT_EQ(link->DownloadMode(), 0);
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0].command, 0x03);
  EXPECT_EQ(Written()[0].sequence, 0x7E);  // the announcement's sequence
  int32_t systemId = 0;
  link->GetReceiverInfo(&systemId, nullptr);
  EXPECT_EQ(systemId, 406);
  EXPECT_GT(CountStatus(2), 10);  // every pass of the wait
  EXPECT_EQ(statuses.back().first, 3);
}

TEST_F(LinkTest, SerialUploadModeWaitCallsBackAndCancels) {
  Make(false);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  onStatus = [&](uint8_t status, double) {
    if (status == 2 && CountStatus(2) == 20) link->Cancel();
  };
  EXPECT_EQ(link->UploadMode(), result::kUploadModeCanceled);
  EXPECT_EQ(CountStatus(2), 20);
  EXPECT_EQ(statuses.back().first, 9);

  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  statuses.clear();
  onStatus = [&](uint8_t status, double) {
    if (status == 2 && CountStatus(2) == 3) link->Cancel();
  };
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeCanceled);
}

TEST_F(LinkTest, SerialModeWaitWithoutCallbackIsBounded) {
  Make(false);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", {}), 0);
  const uint64_t start = clock.now;
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeTimeout);
  EXPECT_GE(clock.now - start, static_cast<uint64_t>(kUnattendedWaitMs));
  EXPECT_EQ(link->UploadMode(), result::kUploadModeTimeout);
}

TEST_F(LinkTest, ShortModeReplyReadsMissingBytesAsZero) {
  Make(false);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  receiver->Announce(5);  // a full announcement first: its info must not linger
  ASSERT_EQ(link->DownloadMode(), 0);
  line->Send(test::FramePacket(false, 0x02, 0x01, {0x01}), 5);
  ASSERT_EQ(link->DownloadMode(), 0);
  int32_t systemId = -1;
  uint8_t info[kReceiverInfoSize];
  std::fill(std::begin(info), std::end(info), uint8_t{0x77});
  link->GetReceiverInfo(&systemId, info);
  EXPECT_EQ(systemId, 0x0100);
  EXPECT_EQ(std::vector<uint8_t>(info, info + 32), std::vector<uint8_t>(32, 0));
}

TEST_F(LinkTest, RebootDiscardsWhatWaitedButKeepsWhatFollows) {
  // A mode reply or announcement left from an earlier session (SystemID
  // 0x9999) waits on the line; the receiver's answer after the reboot counts.
  for (const bool usb : {true, false}) {
    Make(usb);
    line->Send(test::FramePacket(usb, 0x55, usb ? 0x02 : 0x01, {0x99, 0x99}));
    ASSERT_EQ(link->Open(usb ? "USB" : "/dev/ttyFAKE", {}), 0);
    receiver->announceAfterRebootMs = 100;
    ASSERT_EQ(link->Reboot(), 0);
    ASSERT_EQ(link->DownloadMode(), 0);
    int32_t systemId = 0;
    link->GetReceiverInfo(&systemId, nullptr);
    EXPECT_EQ(systemId, 406) << usb;
  }
}

TEST_F(LinkTest, RebootEndAndCancel) {
  Make(false);
  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  statuses.clear();
  EXPECT_EQ(link->Reboot(), 0);
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0].command, 0x0B);
  EXPECT_EQ(Written()[0].sequence, 0);
  EXPECT_EQ(clock.slept, 600u);

  EXPECT_EQ(link->End(), 0);
  EXPECT_EQ(Written()[1].command, 0x06);
  EXPECT_EQ(Written()[1].sequence, 1);  // 06 counts the sequence up first
  EXPECT_EQ(StatusCodes(), (std::vector<uint8_t>{7}));

  EXPECT_EQ(link->Cancel(), 0);
  EXPECT_TRUE(link->canceled());
  EXPECT_EQ(Written().size(), 2u);  // a cancel sends nothing
  EXPECT_EQ(StatusCodes(), (std::vector<uint8_t>{7, 9}));
}

}  // namespace
}  // namespace tolv
