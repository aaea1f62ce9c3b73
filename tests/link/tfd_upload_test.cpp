// The TFD upload and the stand-alone reboot: whole dialogues, every way out.

#include "link/tfd_upload.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "link/comm.h"
#include "link_fixture.h"
#include "results/result_codes.h"
#include "test_support.h"
#include "tfd/tfd_store.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

class UploadTest : public test::LinkTest {
 protected:
  int32_t Upload(const std::string& device, const Bytes& image, bool withCallback = true) {
    return TFD_SaveImageToToppy(*link, device, withCallback ? Recorder() : CommCallback{}, image.data(),
                                static_cast<int32_t>(image.size()));
  }
  std::vector<uint8_t> CommandsReceived() const {
    std::vector<uint8_t> commands;
    for (const auto& p : receiver->received) commands.push_back(p.command);
    return commands;
  }
};

TEST_F(UploadTest, SerialUploadFromRebootToEnd) {
  const Bytes image = test::RandomBytes(21, 3000);
  Make(false);
  receiver->announceAfterRebootMs = 1500;
  receiver->uploadSize = 3000;
  EXPECT_EQ(Upload("/dev/ttyFAKE", image), 0);
  EXPECT_EQ(receiver->uploaded, image);
  const auto commands = CommandsReceived();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands.front(), 0x0B);
  EXPECT_EQ(commands[1], 0x02);
  EXPECT_EQ(commands.back(), 0x06);
  EXPECT_EQ(line->openTransports, 0);
  // Status 5 reports block type 2; the block type is never sent.
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), std::make_pair(uint8_t{5}, 2.0)), statuses.end());
  EXPECT_EQ(std::count(commands.begin(), commands.end(), 0x07), 0);
}

TEST_F(UploadTest, UsbRetriesTheHandshakeWithAReopen) {
  const Bytes image = test::RandomBytes(22, 70000);
  Make(true);
  receiver->ignoreModeRequests = 2;
  receiver->uploadSize = 70000;
  receiver->uploadPiece = 30000;
  EXPECT_EQ(Upload("USB", image), 0);
  EXPECT_EQ(receiver->uploaded, image);
  EXPECT_EQ(line->opens, 4);  // the first open, then one per handshake
  EXPECT_EQ(line->openTransports, 0);
}

TEST_F(UploadTest, EveryCancelIsReportedAsCancelAndLeavesNothingOpen) {
  const Bytes image(1000, 7);
  // In the USB wait of the first open.
  Make(true);
  line->usbPollsUntilPresent = 1000000;
  onStatus = [&](uint8_t status, double) {
    if (status == 1 && CountStatus(1) == 3) link->Cancel();
  };
  EXPECT_EQ(Upload("USB", image), result::kTfdUploadCanceled);
  EXPECT_EQ(line->openTransports, 0);
  // In the serial mode wait.
  Make(false);
  statuses.clear();
  onStatus = [&](uint8_t status, double) {
    if (status == 2 && CountStatus(2) == 30) link->Cancel();
  };
  EXPECT_EQ(Upload("/dev/ttyFAKE", image), result::kTfdUploadCanceled);
  EXPECT_EQ(line->openTransports, 0);
  // During the transfer.
  Make(true);
  statuses.clear();
  receiver->uploadSize = 1000;
  receiver->uploadPiece = 100;
  onStatus = [&](uint8_t status, double) {
    if (status == 6 && CountStatus(6) == 4) link->Cancel();
  };
  EXPECT_EQ(Upload("USB", image), result::kTfdUploadCanceled);
  EXPECT_EQ(line->openTransports, 0);
  EXPECT_LT(receiver->uploaded.size(), 1000u);
  // In the close between two USB handshakes: the open after it would clear
  // the cancel, so none follows.
  Make(true);
  statuses.clear();
  receiver->ignoreModeRequests = 1000000;
  onStatus = [&](uint8_t status, double) {
    if (status == 8 && CountStatus(8) == 3) link->Cancel();
  };
  EXPECT_EQ(Upload("USB", image), result::kTfdUploadCanceled);
  EXPECT_EQ(line->opens, 3);
  EXPECT_EQ(line->openTransports, 0);
}

TEST_F(UploadTest, AReceiverOfAnotherModelIsAskedAboutBeforeAnythingGoes) {
  const Bytes image = test::RandomBytes(24, 1000);
  for (bool go : {false, true}) {
    Make(true);
    receiver->systemId = 1416;
    receiver->uploadSize = 1000;
    std::vector<int32_t> asked;
    const int32_t result = TFD_SaveImageToToppy(*link, "USB", Recorder(), image.data(),
                                                static_cast<int32_t>(image.size()), [&](int32_t reported) {
                                                  asked.push_back(reported);
                                                  return go;
                                                });
    EXPECT_EQ(asked, std::vector<int32_t>{1416});
    EXPECT_EQ(line->openTransports, 0);
    if (go) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(receiver->uploaded, image);
      continue;
    }
    // No: the session is ended (06) and not a byte of the image went out.
    EXPECT_EQ(result, result::kTfdUploadWrongModel);
    EXPECT_TRUE(receiver->uploaded.empty());
    EXPECT_EQ(CommandsReceived(), (std::vector<uint8_t>{0x0B, 0x01, 0x06}));
  }
  EXPECT_TRUE(TFD_ImageSuitsReceiver(406 + 0x10000, 406));
  EXPECT_TRUE(TFD_ImageSuitsReceiver(kWildcardSystemId, 1416));
  EXPECT_FALSE(TFD_ImageSuitsReceiver(406, 1416));
}

TEST_F(UploadTest, FailuresAreNeverReportedAsSuccess) {
  const Bytes image(1000, 7);
  // The receiver stops asking in every session: time-out, after the restarts.
  Make(true);
  receiver->uploadSize = 1000;
  receiver->uploadPiece = 100;
  receiver->uploadStopsAfter = {3, 3, 3};
  EXPECT_EQ(Upload("USB", image), result::kTfdUploadTimeout);
  EXPECT_EQ(line->openTransports, 0);
  // A request beyond the 8 MiB image area.
  Make(true);
  onStatus = nullptr;
  receiver->uploadSize = 1000;
  receiver->extraUploadRequests = {{kUploadAreaSize - 1, 2}};
  EXPECT_EQ(Upload("USB", image), result::kTransferBadRequest);
  EXPECT_EQ(line->openTransports, 0);
  // A serial port that cannot be opened.
  Make(false);
  line->serialOpenFails = true;
  EXPECT_EQ(Upload("/dev/ttyNONE", image), result::kTfdUploadOpenFailed);
  EXPECT_TRUE(line->writes.empty());
  // No callback and a receiver that never answers: bounded.
  Make(true);
  receiver->silent = true;
  const uint64_t start = clock.now;
  EXPECT_EQ(Upload("USB", image, false), result::kUploadModeTimeout);
  EXPECT_GE(clock.now - start, static_cast<uint64_t>(kUnattendedWaitMs));
  EXPECT_EQ(line->openTransports, 0);
}

TEST_F(UploadTest, AnUploadTheReceiverStoppedStartsAgainAtMostTwice) {
  // Each session reboots the receiver and sends the whole image; the model
  // check is asked once; each restart is told and logged.
  struct Case {
    std::deque<int> stops;  // answers after which each session's receiver gives up
    int32_t result;
    std::vector<int> restarts;
  };
  const Case cases[] = {
      {{}, 0, {}},
      {{4}, 0, {1}},
      {{0, 7}, 0, {1, 2}},
      {{2, 2, 2}, result::kTfdUploadTimeout, {1, 2}},
  };
  const Bytes image = test::RandomBytes(25, 1000);
  test::TempDir dir;
  for (const bool usb : {true, false}) {
    for (const Case& c : cases) {
      Make(usb);
      link->SetLogFile(dir.File("TolvPack.log"));
      receiver->announceAfterRebootMs = 200;
      receiver->uploadSize = 1000;
      receiver->uploadPiece = 100;
      receiver->uploadStopsAfter = c.stops;
      int checks = 0;
      std::vector<int> restarts;
      const int32_t result = TFD_SaveImageToToppy(
          *link, usb ? "USB" : "/dev/ttyFAKE", Recorder(), image.data(), static_cast<int32_t>(image.size()),
          [&](int32_t) { return ++checks > 0; },
          [&](int restart, int32_t cause) {
            EXPECT_EQ(cause, result::kTfdUploadTimeout);
            restarts.push_back(restart);
          });
      link->SetLogFile("");
      EXPECT_EQ(result, c.result) << usb << c.stops.size();
      EXPECT_EQ(restarts, c.restarts) << usb << c.stops.size();
      EXPECT_EQ(checks, 1) << usb;
      const auto commands = CommandsReceived();
      EXPECT_EQ(std::count(commands.begin(), commands.end(), 0x0B), static_cast<long>(c.restarts.size()) + 1);
      if (c.result == 0) {
        EXPECT_EQ(receiver->uploaded, image) << usb << c.stops.size();
      }
      EXPECT_EQ(line->openTransports, 0);
      const std::string log = test::ReadText(dir.File("TolvPack.log"));
      EXPECT_EQ(
          log.find("TFD_SaveToToppy   : upload stopped by a fault (2115); starting again from the reboot, "
                   "restart 1 of 2") != std::string::npos,
          !c.restarts.empty());
      std::filesystem::remove(dir.File("TolvPack.log"));
    }
  }
}

TEST_F(UploadTest, AReceiverThatDoesNotComeBackEndsTheRestart) {
  // The cable pulled for good: after the restart the receiver never answers
  // again, and the wait for it ends by itself although a callback could cancel.
  const Bytes image(1000, 9);
  for (const bool usb : {true, false}) {
    Make(usb);
    receiver->announceAfterRebootMs = 200;
    receiver->uploadSize = 1000;
    receiver->uploadStopsAfter = {1};
    std::vector<int> restarts;
    const int32_t result =
        TFD_SaveImageToToppy(*link, usb ? "USB" : "/dev/ttyFAKE", Recorder(), image.data(),
                             static_cast<int32_t>(image.size()), {}, [&](int restart, int32_t) {
                               restarts.push_back(restart);
                               line->usbPollsUntilPresent = line->usbPolls + 100000000;
                               receiver->silent = true;
                             });
    EXPECT_EQ(result, usb ? result::kOpenUsbNotFound : result::kUploadModeTimeout) << usb;
    EXPECT_EQ(restarts, std::vector<int>{1}) << usb;
    EXPECT_EQ(line->openTransports, 0) << usb;
  }
}

TEST_F(UploadTest, EmptyImageIsOffered) {
  // An empty store still gives a header-only image, which the receiver fetches.
  TfdStore store;
  std::vector<uint8_t> image;
  ASSERT_EQ(TFD_BuildImage(store, 406, image), 0);
  ASSERT_EQ(image.size(), 10u);
  Make(true);
  receiver->uploadSize = 10;
  EXPECT_EQ(Upload("USB", image), 0);
  EXPECT_EQ(receiver->uploaded, image);
}

TEST_F(UploadTest, RebootOpensRebootsAndCloses) {
  Make(false);
  line->serialOpenFails = true;
  EXPECT_EQ(Toppy_Reboot(*link, "/dev/ttyNONE", {}), 0);
  EXPECT_TRUE(line->writes.empty());

  Make(false);
  EXPECT_EQ(Toppy_Reboot(*link, "/dev/ttyFAKE", {}), 0);
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0].command, 0x0B);
  EXPECT_EQ(line->openTransports, 0);

  // Without a callback the USB wait ends by itself.
  Make(true);
  line->usbPollsUntilPresent = 1000000;
  EXPECT_EQ(Toppy_Reboot(*link, "USB", {}), 0);
  EXPECT_TRUE(line->writes.empty());

  // A command the port did not take is no reboot (tolv reboot says so).
  Make(false);
  line->writeFault = true;
  ASSERT_EQ(link->Open("/dev/ttyFAKE", {}), 0);
  EXPECT_EQ(link->Reboot(), result::kRebootNotSent);
  link->Close();
}

TEST_F(UploadTest, ProcessWideUploadSendsTheStoresImageToItsModelOnly) {
  Make(true);
  receiver->systemId = 1416;
  Link_SetUsbProvider(
      [line = line](std::string* diagnostic) { return MakeDevices(line).pollUsb(diagnostic); });
  TFD_Clear();
  const Bytes eeprom = test::RandomBytes(23, 256);
  TFD_SetBlock(3, eeprom.data(), eeprom.size());
  int32_t built = 0;
  const Bytes image = TFD_BuildImage(1416, built);
  ASSERT_EQ(built, 0);
  receiver->uploadSize = static_cast<int32_t>(image.size());
  receiver->uploadPiece = 30000;
  const int32_t result = TFD_SaveToToppy("USB", Recorder(), 1416 + 0x10000);  // only the low 16 bits count
  const Bytes uploaded = receiver->uploaded;
  // A receiver of another model is not sent the image.
  receiver->systemId = 406;
  receiver->uploaded.clear();
  const int32_t refused = TFD_SaveToToppy("USB", Recorder(), 1416);
  Link_SetUsbProvider({});
  TFD_Clear();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(uploaded, image);
  EXPECT_EQ(refused, result::kTfdUploadWrongModel);
  EXPECT_TRUE(receiver->uploaded.empty());
  EXPECT_FALSE(Comm_Link().isOpen());
}

}  // namespace
}  // namespace tolv
