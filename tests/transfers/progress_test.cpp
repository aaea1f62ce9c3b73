// What the window shows for each link status, and the one-line summaries.
#include <gtest/gtest.h>

#include <clocale>

#include "results/result_codes.h"
#include "workspace/transfers.h"

namespace tolv {
namespace {

TEST(TransferProgress, StatusLineTextsAndBar) {
  const struct {
    uint8_t status;
    double value;
    const char* text;
    int bar;
  } cases[] = {
      {1, 0, "Waiting for USB interface", 0},
      {2, 0, "Device opened", 0},
      {3, 0, "Set to download mode", 0},
      {4, 0, "Set to upload mode", 0},
      {5, 2, "Transfer of block 2 started", 2},
      {6, 42.5, "42.5% done\r", 42},
      {6, 99.99, "100.0% done\r", 99},
      {6, 0, "0.0% done\r", 0},
      {7, 0, "End of communication", 0},
      {8, 0, "Device closed", 0},
      {9, 0, "Communication has been canceled", 0},
  };
  for (const auto& c : cases) {
    const TransferProgressView view = Transfer_Progress(c.status, c.value, ".");
    ASSERT_TRUE(view.statusText) << int(c.status);
    EXPECT_EQ(c.text, *view.statusText);
    EXPECT_EQ(c.bar, view.barPosition);
    EXPECT_EQ(c.status == 9, view.restoreFromToppyCaption);
  }
  // Statuses outside 1..9 leave the line; the bar still follows the value.
  EXPECT_FALSE(Transfer_Progress(0, 17.9, ".").statusText);
  EXPECT_EQ(17, Transfer_Progress(0, 17.9, ".").barPosition);
  EXPECT_FALSE(Transfer_Progress(10, 0, ".").statusText);
  EXPECT_EQ(100, Transfer_Progress(6, 250, ".").barPosition);
  EXPECT_EQ(0, Transfer_Progress(6, -3, ".").barPosition);
}

TEST(TransferProgress, PercentUsesTheLocalesDecimalSeparator) {
  EXPECT_EQ("42,5% done\r", *Transfer_Progress(6, 42.5, ",").statusText);
  // Without an explicit separator, the C library's numeric locale decides.
  EXPECT_EQ("42.5% done\r", *Transfer_Progress(6, 42.5).statusText);
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name)) {
      EXPECT_EQ("42,5% done\r", *Transfer_Progress(6, 42.5).statusText);
      break;
    }
  }
  std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(TransferProgress, BlockLabels) {
  EXPECT_STREQ("Loader:", Transfer_BlockLabel(ComponentKind::Loader));
  EXPECT_STREQ("Firmware:", Transfer_BlockLabel(ComponentKind::Firmware));
  EXPECT_STREQ("Flash:", Transfer_BlockLabel(ComponentKind::Flash));
  EXPECT_STREQ("EEPROM:", Transfer_BlockLabel(ComponentKind::Eeprom));
  EXPECT_STREQ("Default:", Transfer_BlockLabel(ComponentKind::Defaults));
}

TEST(TransferSummary, SaysWhatArrivedAndWhatFailedWithTheResultText) {
  DownloadReport report;
  report.systemId = 406;
  report.blocks.push_back({ComponentKind::Loader, 0, 65536, true, "", "its note"});
  report.blocks.push_back(
      {ComponentKind::Eeprom, result::kTransferTimeout, 0, false, Result_Text(result::kTransferTimeout), ""});
  EXPECT_EQ(
      "SystemID 406. Received: Loader (65536 bytes; its note). Not received: EEPROM (Comm_TransferBlock: "
      "Timeout while waiting or a response).",
      Transfer_Summary(report));
  EXPECT_FALSE(report.AllStored());
  EXPECT_TRUE(report.AnyNote());

  DownloadReport unreachable;
  unreachable.openResult = result::kOpenSerialFailed;
  unreachable.modeResult = result::kDownloadModeNotOpened;
  EXPECT_EQ("Nothing received: Comm_Open: Failed to open serial port", Transfer_Summary(unreachable));

  UploadReport upload;
  upload.systemId = 406;
  upload.started = true;
  upload.sent = {ComponentKind::Loader, ComponentKind::Flash};
  upload.imageSize = 12345;
  EXPECT_EQ("Sent for SystemID 406: Loader, Flash (12345 bytes).", Transfer_Summary(upload));
  EXPECT_TRUE(upload.Succeeded());
  upload.receiverSystemId = 1416;  // sent on the user's Yes all the same
  EXPECT_EQ(
      "Sent for SystemID 406: Loader, Flash (12345 bytes). The receiver reports SystemID 1416, another "
      "model.",
      Transfer_Summary(upload));
  upload.result = result::kTfdUploadWrongModel;
  EXPECT_EQ("Nothing sent: the receiver reports SystemID 1416; the image is for SystemID 406.",
            Transfer_Summary(upload));
  upload.result = result::kTfdUploadOpenFailed;
  EXPECT_EQ("Upload of Loader, Flash not completed: TFD_SaveToToppy: Failed to open serial port",
            Transfer_Summary(upload));
}

}  // namespace
}  // namespace tolv
