// Cancelling a transfer in each of its phases, as the window's "Cancel
// transfer" press does: from inside the progress callback.
#include <gtest/gtest.h>

#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

struct Cancelled {
  DownloadReport report;
  Workspace workspace;
  ProgressWatcher watcher;
  std::vector<std::string> shown;
};

// Runs From Toppy with the link cancelled at the first status for which
// cancelWhen says yes; the workspace starts with a Firmware of its own.
std::unique_ptr<Cancelled> DownloadCancelledWhen(SimRig& rig, ComponentSelection selection,
                                                 std::function<bool(uint8_t, double)> cancelWhen) {
  auto run = std::make_unique<Cancelled>();
  run->workspace.Image(ComponentKind::Firmware) = RandomBytes(7, 5000);
  run->workspace.Present(ComponentKind::Firmware) = true;
  run->watcher.link = &rig.link();
  run->watcher.cancelWhen = std::move(cancelWhen);
  ScriptedInteraction ui;
  DownloadRequest request = MakeDownload(rig, selection);
  request.reportFailures = true;  // a cancel is not a failure to report
  run->report = Transfer_FromToppy(rig.link(), run->workspace, ui, request, run->watcher.Hooks());
  run->shown = ui.Texts();
  return run;
}

// portOpened: the port was opened before the cancel, so the reboot question
// comes; a receiver that was never reached is not offered a reboot.
void ExpectCleanEnd(const Cancelled& run, SimRig& rig, bool portOpened = true) {
  EXPECT_TRUE(run.report.outcome.IsCancelled());
  EXPECT_EQ(portOpened, run.report.opened);
  EXPECT_EQ(portOpened ? std::vector<std::string>{"Reboot the Toppy?"} : std::vector<std::string>{},
            run.shown);
  EXPECT_EQ(RandomBytes(7, 5000), run.workspace.Image(ComponentKind::Firmware));
  EXPECT_FALSE(rig.link().isOpen());
}

TEST(CancelDownload, WhileWaitingForTheUsbReceiver) {
  auto rig = SimRig::Usb(TestMemory(1000));
  rig->port().Disconnect();  // no receiver on the bus
  int polls = 0;
  auto run = DownloadCancelledWhen(*rig, AllComponents(), [&](uint8_t status, double) {
    return status == comm_status::kWaitingForUsb && ++polls == 3;
  });
  ExpectCleanEnd(*run, *rig, false);
  EXPECT_NE(result::kOk, run->report.modeResult);
  EXPECT_EQ(result::kOpenUsbCanceled, run->report.openResult);
  EXPECT_EQ("Cancelled; nothing received: " + Result_Text(result::kOpenUsbCanceled),
            Transfer_Summary(run->report));
  EXPECT_EQ(3, run->watcher.Count(comm_status::kWaitingForUsb));  // no second wait after the cancel
  EXPECT_EQ(0, run->watcher.Count(comm_status::kDeviceOpened));
}

TEST(CancelDownload, WhileWaitingForDownloadMode) {
  {
    // USB: the receiver never answers the mode request; the handshake is retried.
    sim::ReceiverOptions options = FastOptions();
    options.faults.ignoredCommands.set(0x03);
    auto rig = SimRig::Usb(TestMemory(1000), options);
    int opens = 0;
    auto run = DownloadCancelledWhen(*rig, AllComponents(), [&](uint8_t status, double) {
      return status == comm_status::kDeviceOpened && ++opens == 4;
    });
    ExpectCleanEnd(*run, *rig);
    EXPECT_EQ(result::kDownloadModeCanceled, run->report.modeResult);
    EXPECT_TRUE(run->report.blocks.empty());
  }
  {
    // Serial: the receiver never announces itself.
    sim::ReceiverOptions options = FastOptions();
    options.faults.silent = true;
    auto rig = SimRig::Serial(TestMemory(1000), options);
    int passes = 0;
    auto run = DownloadCancelledWhen(*rig, AllComponents(), [&](uint8_t status, double) {
      return status == comm_status::kDeviceOpened && ++passes == 10;
    });
    ExpectCleanEnd(*run, *rig);
    EXPECT_EQ(result::kDownloadModeCanceled, run->report.modeResult);
  }
}

TEST(CancelDownload, BetweenCloseAndReopenIsNotForgotten) {
  // The cancel comes with the "Device closed" after the reboot; the link's
  // next open would clear it, so the workflow must stop before that open.
  auto rig = SimRig::Usb(TestMemory(1000));
  auto run = DownloadCancelledWhen(
      *rig, AllComponents(), [&](uint8_t status, double) { return status == comm_status::kDeviceClosed; });
  ExpectCleanEnd(*run, *rig);
  EXPECT_EQ(result::kDownloadModeCanceled, run->report.modeResult);
  EXPECT_EQ(1, run->watcher.Count(comm_status::kDeviceOpened));  // only the open before the reboot
}

TEST(CancelDownload, MidBlockStopsThisAndEveryLaterBlock) {
  for (bool usb : {true, false}) {
    auto rig = usb ? SimRig::Usb(TestMemory(4 * 1024 * 1024)) : SimRig::Serial(TestMemory(1000));
    const ComponentKind first = usb ? ComponentKind::Firmware : ComponentKind::Loader;
    bool inFirst = false;
    auto run = DownloadCancelledWhen(*rig, Only({first, ComponentKind::Flash, ComponentKind::Eeprom}),
                                     [&](uint8_t status, double value) {
                                       if (status == comm_status::kBlockStarted)
                                         inFirst = value == double(first);
                                       return inFirst && status == comm_status::kProgress && value > 30;
                                     });
    ExpectCleanEnd(*run, *rig);
    ASSERT_EQ(3u, run->report.blocks.size());
    for (const BlockOutcome& block : run->report.blocks) {
      EXPECT_EQ(result::kTransferCanceled, block.result) << ComponentName(block.kind);
      EXPECT_FALSE(block.stored);
    }
    EXPECT_FALSE(run->workspace.Present(ComponentKind::Flash));
    EXPECT_EQ(1, run->watcher.Count(comm_status::kSessionEnded));
    // The end of the session reached the receiver: it left its loader session.
    EXPECT_TRUE(rig->receiver().WaitForEvent("download session ended", 2000)) << usb;
  }
}

}  // namespace
}  // namespace tolv::test
