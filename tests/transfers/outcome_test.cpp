// The outcome each receiver workflow hands its caller, against what the
// receiver got or gave and what the user was told.
#include <gtest/gtest.h>

#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

struct Transferred {
  DownloadReport download;
  UploadReport upload;
  Workspace workspace;
  std::vector<std::string> shown;
};

// From Toppy with the failures reported as the window reports them; the link
// is cancelled at the first status cancelWhen says yes to.
Transferred Download(SimRig& rig, ComponentSelection selection,
                     std::function<bool(uint8_t, double)> cancelWhen = {}) {
  Transferred run;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  watcher.link = &rig.link();
  watcher.cancelWhen = std::move(cancelWhen);
  DownloadRequest request = MakeDownload(rig, selection);
  request.reportFailures = true;
  run.download = Transfer_FromToppy(rig.link(), run.workspace, ui, request, watcher.Hooks());
  run.shown = ui.Texts();
  return run;
}

TEST(DownloadOutcome, DoneFailedOrCancelledAsTheBlocksFared) {
  {
    auto rig = SimRig::Usb(TestMemory(1000));
    const Transferred run = Download(*rig, Only({ComponentKind::Loader, ComponentKind::Flash}));
    EXPECT_EQ(Outcome::Done(), run.download.outcome) << Transfer_Summary(run.download);
  }
  {
    // Every block one byte too long: the Loader is refused.
    sim::ReceiverOptions options = FastOptions();
    options.faults.blockSizeDelta = 1;
    auto rig = SimRig::Usb(TestMemory(1000), options);
    const Transferred run = Download(*rig, Only({ComponentKind::Loader}));
    EXPECT_EQ(Outcome::Failed(Transfer_Summary(run.download)), run.download.outcome);
    EXPECT_EQ(run.download.outcome.reasons[0], run.shown.at(0)) << "the summary the window showed";
  }
  {
    // Ctrl-C (or the window's cancel) after the last block arrived, as the
    // session ends: the blocks are in, but the caller must not go on.
    auto rig = SimRig::Usb(TestMemory(1000));
    const Transferred run = Download(*rig, Only({ComponentKind::Eeprom}), [](uint8_t status, double) {
      return status == comm_status::kSessionEnded;
    });
    EXPECT_TRUE(run.download.AllStored());
    EXPECT_TRUE(run.download.outcome.IsCancelled());
    EXPECT_EQ(Outcome::Cancelled(Transfer_Summary(run.download)), run.download.outcome);
  }
}

Workspace LoaderAndEeprom(int32_t systemId) {
  Workspace workspace;
  workspace.systemId = systemId;
  workspace.Image(ComponentKind::Loader) = RandomBytes(61, kLoaderImageSize);
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(62, kEepromImageSize);
  workspace.Present(ComponentKind::Loader) = workspace.Present(ComponentKind::Eeprom) = true;
  return workspace;
}

Transferred Upload(SimRig& rig, Workspace workspace, UserInteraction& ui, bool dryRun = false) {
  Transferred run;
  run.workspace = std::move(workspace);
  TfdStore store;
  ProgressWatcher watcher;
  UploadRequest request = MakeUpload(rig, AllComponents());
  request.dryRun = dryRun;
  run.upload = Transfer_ToToppy(rig.link(), store, run.workspace, ui, request, watcher.Hooks());
  return run;
}

TEST(UploadOutcome, DoneRefusedDeclinedOrTriedAsTheUploadWent) {
  auto rig = SimRig::Usb(TestMemory(1000));
  ScriptedInteraction ui;  // every question answered No
  EXPECT_EQ(Outcome::Done(), Upload(*rig, LoaderAndEeprom(406), ui).upload.outcome);

  // Refused before the receiver is touched: the message shown is the reason.
  Workspace empty = LoaderAndEeprom(406);
  empty.Present(ComponentKind::Firmware) = true;  // of 0 bytes
  ui.Clear();
  const Transferred refused = Upload(*rig, empty, ui);
  EXPECT_EQ(Outcome::Failed(ui.Texts().at(0)), refused.upload.outcome);

  // An image the receiver's model does not take, not sent on No: the input
  // was refused.
  const Transferred declined = Upload(*rig, LoaderAndEeprom(4502), ui);
  EXPECT_EQ(result::kTfdUploadWrongModel, declined.upload.result);
  EXPECT_EQ(Outcome::Failed(Transfer_Summary(declined.upload), FailureCause::kInputRefused),
            declined.upload.outcome);

  // A dry run that learnt the receiver's SystemID did what it was asked.
  const Transferred dry = Upload(*rig, LoaderAndEeprom(4502), ui, true);
  EXPECT_EQ(406, dry.upload.receiverSystemId);
  EXPECT_EQ(Outcome::Done(), dry.upload.outcome);
  EXPECT_FALSE(dry.upload.Succeeded());

  // A component that cannot be packed is left out: the rest goes, the
  // upload fails.
  Workspace unlisted = LoaderAndEeprom(416);
  unlisted.Image(ComponentKind::Flash) = DvbSSettings(63);
  unlisted.Present(ComponentKind::Flash) = true;
  sim::ReceiverMemory memory = TestMemory(1000);
  memory.systemId = 416;
  auto other = SimRig::Usb(memory);
  const Transferred partly = Upload(*other, unlisted, ui);
  EXPECT_EQ(result::kOk, partly.upload.result);
  EXPECT_EQ(Outcome::Failed(Transfer_Summary(partly.upload)), partly.upload.outcome);
}

}  // namespace
}  // namespace tolv::test
