// To Toppy end to end: the workspace goes out as one TFD image, the emulated
// receiver fetches it piece by piece, checks it and takes its blocks.
#include <gtest/gtest.h>

#include "flash/model_list.h"
#include "flash/packing.h"
#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

Workspace FullWorkspace(int32_t systemId, size_t firmwareSize) {
  Workspace workspace;
  workspace.systemId = systemId;
  workspace.Image(ComponentKind::Loader) = RandomBytes(31, kLoaderImageSize);
  workspace.Image(ComponentKind::Firmware) = Text(firmwareSize);
  workspace.Image(ComponentKind::Flash) = DvbSSettings(32);
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(33, kEepromImageSize);
  std::vector<uint8_t>& defaults = workspace.Image(ComponentKind::Defaults);
  const std::vector<uint8_t> text = Text(30000);
  std::copy(text.begin(), text.end(), defaults.begin() + 100);
  workspace.Image(ComponentKind::Background) = RandomBytes(34, kBackgroundImageSize);
  for (ComponentKind kind : kAllComponents) workspace.Present(kind) = true;
  return workspace;
}

std::vector<uint8_t> PackedFlashOf(const Workspace& workspace) {
  std::vector<uint8_t> packed(kPackedBlockSize, 0);
  EXPECT_TRUE(PackFlashData(static_cast<uint16_t>(workspace.systemId),
                            workspace.Image(ComponentKind::Flash).data(), packed.data()));
  return packed;
}

std::vector<uint8_t> PackedDefaultsOf(const Workspace& workspace) {
  const auto& defaults = workspace.Image(ComponentKind::Defaults);
  std::vector<uint8_t> packed(kPackedBlockSize, 0);
  EXPECT_TRUE(PackDefaultsData(static_cast<uint16_t>(workspace.systemId), defaults.data(),
                               defaults.data() + kDefaultsEepromOffset, packed.data()));
  return packed;
}

struct Sent {
  UploadReport report;
  std::vector<std::string> shown;
  ProgressWatcher watcher;
};

std::unique_ptr<Sent> Upload(SimRig& rig, Workspace& workspace, ComponentSelection selection,
                             ScriptedInteraction& ui, std::function<bool(uint8_t, double)> cancelWhen = {}) {
  auto sent = std::make_unique<Sent>();
  TfdStore store;
  sent->watcher.link = &rig.link();
  sent->watcher.cancelWhen = std::move(cancelWhen);
  sent->report =
      Transfer_ToToppy(rig.link(), store, workspace, ui, MakeUpload(rig, selection), sent->watcher.Hooks());
  sent->shown = ui.Texts();
  return sent;
}

TEST(UploadOverUsb, TheReceiverHoldsEveryComponentAfterwards) {
  auto rig = SimRig::Usb(TestMemory(1000));
  Workspace workspace = FullWorkspace(406, 3 * 1024 * 1024);
  ScriptedInteraction ui;
  const auto sent = Upload(*rig, workspace, AllComponents(), ui);
  EXPECT_TRUE(sent->report.Succeeded()) << Transfer_Summary(sent->report);
  EXPECT_EQ(6u, sent->report.sent.size());
  ASSERT_TRUE(rig->receiver().WaitForEvent("upload: image accepted: blocks 0 1 2 3 4 5", 5000));
  const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
  EXPECT_EQ(workspace.Image(ComponentKind::Loader), memory.loader);
  EXPECT_EQ(workspace.Image(ComponentKind::Firmware), memory.firmware);
  EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), memory.eeprom);
  EXPECT_EQ(workspace.Image(ComponentKind::Background), memory.background);
  EXPECT_EQ(PackedFlashOf(workspace), memory.packedFlash);
  EXPECT_EQ(PackedDefaultsOf(workspace), memory.packedDefaults);
  EXPECT_EQ(1, sent->watcher.Count(comm_status::kUploadMode));
  EXPECT_EQ((std::vector<std::string>{"Reboot the Toppy?"}), sent->shown);
  EXPECT_FALSE(rig->link().isOpen());
}

TEST(UploadOverSerial, OnlyTheCheckedPresentComponentsGo) {
  auto rig = SimRig::Serial(TestMemory(1000));
  const sim::ReceiverMemory before = rig->receiver().MemorySnapshot();
  Workspace workspace = FullWorkspace(406, 1000);
  workspace.Present(ComponentKind::Loader) = false;  // checked but absent
  ScriptedInteraction ui;
  const auto sent =
      Upload(*rig, workspace, Only({ComponentKind::Loader, ComponentKind::Flash, ComponentKind::Eeprom}), ui);
  EXPECT_TRUE(sent->report.Succeeded()) << Transfer_Summary(sent->report);
  EXPECT_EQ((std::vector<ComponentKind>{ComponentKind::Flash, ComponentKind::Eeprom}), sent->report.sent);
  ASSERT_TRUE(rig->receiver().WaitForEvent("upload: image accepted: blocks 2 3", 5000));
  const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
  EXPECT_EQ(PackedFlashOf(workspace), memory.packedFlash);
  EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), memory.eeprom);
  EXPECT_EQ(before.loader, memory.loader);
  EXPECT_EQ(before.firmware, memory.firmware);
}

TEST(UploadPieces, AReceiverAskingForFixedPiecesPastTheImageEndGetsZerosThere) {
  // 32,768 bytes at offset 0 of an EEPROM-only image of 274 bytes.
  for (bool usb : {true, false}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.uploadPiece = usb ? 32768 : 255;
    auto rig = usb ? SimRig::Usb(TestMemory(1000), options) : SimRig::Serial(TestMemory(1000), options);
    Workspace workspace = FullWorkspace(406, 1000);
    ScriptedInteraction ui;
    const auto sent = Upload(*rig, workspace, Only({ComponentKind::Eeprom}), ui);
    EXPECT_TRUE(sent->report.Succeeded()) << Transfer_Summary(sent->report);
    ASSERT_TRUE(rig->receiver().WaitForEvent("upload: image accepted: blocks 3", 5000)) << usb;
    EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), rig->receiver().MemorySnapshot().eeprom);
  }
}

TEST(UploadSystemId, ZeroAsksForOneAndSendsNothingWithout) {
  auto rig = SimRig::Usb(TestMemory(1000));
  Workspace workspace = FullWorkspace(0, 1000);
  ScriptedInteraction ui;  // the SystemID box is cancelled
  const auto refused = Upload(*rig, workspace, AllComponents(), ui);
  EXPECT_FALSE(refused->report.started);
  EXPECT_EQ((std::vector<std::string>{"Enter the targets SystemID.", "Please enter a valid system ID"}),
            refused->shown);
  EXPECT_TRUE(refused->watcher.statuses.empty());
  EXPECT_EQ(0, rig->receiver().Stats().reboots);

  ScriptedInteraction answered;
  answered.AnswerInput("406");
  const auto sent = Upload(*rig, workspace, Only({ComponentKind::Eeprom}), answered);
  EXPECT_TRUE(sent->report.Succeeded()) << Transfer_Summary(sent->report);
  EXPECT_EQ(406, workspace.systemId);
  EXPECT_TRUE(rig->receiver().WaitForEvent("upload: image accepted: blocks 3", 5000));
}

TEST(UploadPacking, AFlashThatDoesNotPackIsLeftOutAndTheRestStillGoes) {
  sim::ReceiverMemory memory = TestMemory(1000);
  memory.systemId = 416;
  auto rig = SimRig::Usb(memory);
  Workspace workspace = FullWorkspace(416, 1000);  // a model without a header template
  ScriptedInteraction ui;
  const auto sent = Upload(*rig, workspace, Only({ComponentKind::Flash, ComponentKind::Eeprom}), ui);
  EXPECT_EQ((std::vector<std::string>{"PackFlashData failed to pack the flash block", "Reboot the Toppy?"}),
            sent->shown);
  EXPECT_EQ(result::kOk, sent->report.result);
  EXPECT_FALSE(sent->report.Succeeded());
  EXPECT_EQ((std::vector<ComponentKind>{ComponentKind::Eeprom}), sent->report.sent);
  EXPECT_TRUE(rig->receiver().WaitForEvent("upload: image accepted: blocks 3", 5000));
}

TEST(UploadModel, AReceiverOfAnotherModelGetsNothingWithoutAYes) {
  // Over USB here; the window and tolv show the same on a serial line.
  auto rig = SimRig::Usb(TestMemory(1000));
  const sim::ReceiverMemory before = rig->receiver().MemorySnapshot();
  Workspace workspace = FullWorkspace(4502, 1000);
  ScriptedInteraction ui;  // No
  const auto refused = Upload(*rig, workspace, Only({ComponentKind::Loader}), ui);
  EXPECT_EQ(result::kTfdUploadWrongModel, refused->report.result);
  EXPECT_EQ(406, refused->report.receiverSystemId);
  EXPECT_FALSE(refused->report.Succeeded());
  EXPECT_EQ(
      (std::vector<std::string>{"The receiver reports SystemID 406 (" + std::string(Model_GetName(406)) +
                                    "); the image is for SystemID 4502 (" + std::string(Model_GetName(4502)) +
                                    "). Send it anyway?",
                                "Reboot the Toppy?"}),
      refused->shown);
  EXPECT_EQ(0, refused->watcher.Count(comm_status::kBlockStarted));  // no request was answered
  EXPECT_FALSE(rig->link().isOpen());
  EXPECT_EQ(before, rig->receiver().MemorySnapshot());
}

TEST(UploadRefusals, AnEmptyFirmwareIsRefusedBeforeTheReceiverIsTouched) {
  auto rig = SimRig::Usb(TestMemory(1000));
  Workspace workspace = FullWorkspace(406, 1000);
  workspace.Image(ComponentKind::Firmware).clear();
  ScriptedInteraction ui;
  const auto refused = Upload(*rig, workspace, AllComponents(), ui);
  EXPECT_FALSE(refused->report.started);
  EXPECT_EQ("Nothing sent: the Firmware is empty (0 bytes).", Transfer_Summary(refused->report));
  EXPECT_EQ(
      (std::vector<std::string>{"The Firmware is empty (0 bytes): no receiver takes it. Nothing was sent."}),
      refused->shown);  // and no reboot question: the port was never opened
  EXPECT_TRUE(refused->watcher.statuses.empty());
  EXPECT_EQ(0, rig->receiver().Stats().reboots);
}

TEST(UploadCancel, MidImageLeavesTheReceiverAsItWas) {
  auto rig = SimRig::Usb(TestMemory(1000));
  const sim::ReceiverMemory before = rig->receiver().MemorySnapshot();
  Workspace workspace = FullWorkspace(406, 3 * 1024 * 1024);
  ScriptedInteraction ui;
  const auto sent = Upload(*rig, workspace, AllComponents(), ui, [](uint8_t status, double value) {
    return status == comm_status::kProgress && value > 20;
  });
  EXPECT_TRUE(sent->report.canceled);
  EXPECT_EQ(result::kTfdUploadCanceled, sent->report.result);
  EXPECT_EQ((std::vector<std::string>{"Reboot the Toppy?"}), sent->shown);  // no failure message for a cancel
  EXPECT_TRUE(rig->receiver().WaitForEvent("upload: the image did not come", 5000));
  EXPECT_EQ(before, rig->receiver().MemorySnapshot());
  EXPECT_FALSE(rig->link().isOpen());
}

TEST(UploadFailure, AReceiverThatStopsAskingIsReportedNotHidden) {
  // The receiver does not hear the data it asked for, asks again and gives up.
  sim::ReceiverOptions options = FastOptions();
  options.faults.ignoredCommands.set(0x05);
  auto rig = SimRig::Usb(TestMemory(1000), options);
  Workspace workspace = FullWorkspace(406, 1000);
  ScriptedInteraction ui;
  TfdStore store;
  ProgressWatcher watcher;
  UploadRequest request = MakeUpload(*rig, Only({ComponentKind::Eeprom}));
  request.reportFailures = true;
  const UploadReport report = Transfer_ToToppy(rig->link(), store, workspace, ui, request, watcher.Hooks());
  EXPECT_EQ(result::kTfdUploadTimeout, report.result);
  EXPECT_EQ(
      (std::vector<std::string>{"Upload of EEPROM not completed: TFD_SaveToToppy: Timeout while waiting or a "
                                "response",
                                "Reboot the Toppy?"}),
      ui.Texts());
}

}  // namespace
}  // namespace tolv::test
