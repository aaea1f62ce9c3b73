// Faults the link rides out, end to end against the emulator: block sizes,
// data replies and upload requests lost, damaged or late on either transport,
// and an upload that the receiver gave up, started again.
#include <gtest/gtest.h>

#include "random_faults.h"
#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

std::unique_ptr<SimRig> Rig(bool usb, const sim::ReceiverOptions& options) {
  return usb ? SimRig::Usb(TestMemory(20000), options) : SimRig::Serial(TestMemory(20000), options);
}

TEST(RideOut, LostDamagedAndLateRepliesOfEveryKindStillGiveExactData) {
  for (const bool usb : {true, false}) {
    sim::ReceiverOptions options = FastOptions();
    // Dense on USB, whose transfers have few packets; late within the
    // link's patience for a chunk (about 500 ms on a serial line).
    options.faults.randomFaults =
        sim::ParseRandomFaults(usb ? "drop:15,corrupt:15,late:15" : "drop:1,corrupt:1,late:1");
    options.faults.lateMs = 420;
    options.faults.faultSeed = 7;
    auto rig = Rig(usb, options);
    Workspace workspace;
    ScriptedInteraction ui;
    ProgressWatcher watcher;
    const DownloadReport report = Transfer_FromToppy(
        rig->link(), workspace, ui,
        MakeDownload(*rig, Only({ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Eeprom})),
        watcher.Hooks());
    EXPECT_TRUE(report.AllStored()) << usb << Transfer_Summary(report);
    const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
    EXPECT_EQ(memory.loader, workspace.Image(ComponentKind::Loader)) << usb;
    EXPECT_EQ(memory.firmware, workspace.Image(ComponentKind::Firmware)) << usb;
    EXPECT_EQ(memory.eeprom, workspace.Image(ComponentKind::Eeprom)) << usb;
    const sim::ReceiverStats stats = rig->receiver().Stats();
    EXPECT_GT(stats.droppedReplies + stats.corruptedReplies + stats.lateReplies, 0) << usb;
    // On USB, where the faults are dense, a size reply was asked for again.
    if (usb) {
      EXPECT_GT(stats.blockRequests, 3);
    }
  }
}

TEST(RideOut, AnUploadTheReceiverGaveUpIsStartedAgainAndSaysSo) {
  // The receiver asks for each piece once and gives up when its request is
  // lost; the link notices the silence and starts the upload again.
  sim::ReceiverOptions options = FastOptions();
  options.timing.uploadRequestTries = 1;
  options.faults.randomFaults = sim::ParseRandomFaults("drop:30");
  options.faults.faultSeed = 11;  // loses a request of the first session only
  auto rig = Rig(true, options);
  Workspace workspace;
  workspace.systemId = 406;
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(6, 256);
  workspace.Present(ComponentKind::Eeprom) = true;
  ScriptedInteraction ui;
  TfdStore store;
  ProgressWatcher watcher;
  const UploadReport report = Transfer_ToToppy(
      rig->link(), store, workspace, ui, MakeUpload(*rig, Only({ComponentKind::Eeprom})), watcher.Hooks());
  // The receiver takes the image after it has said it is complete.
  EXPECT_TRUE(rig->receiver().WaitForEvent("image accepted", 5000));
  const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
  EXPECT_EQ(report.result, result::kOk) << Transfer_Summary(report);
  EXPECT_EQ(report.restarts, 1);
  EXPECT_EQ(watcher.statusLines,
            std::vector<std::string>{"Upload stopped (TFD_SaveToToppy: Timeout while waiting or a response); "
                                     "starting again from the reboot (1 of 2)."});
  EXPECT_EQ(memory.eeprom, workspace.Image(ComponentKind::Eeprom));
  EXPECT_EQ(rig->receiver().Stats().reboots, 2);
}

}  // namespace
}  // namespace tolv::test
