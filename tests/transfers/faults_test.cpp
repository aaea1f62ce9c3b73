// From Toppy against a receiver or line that misbehaves: silence, junk,
// dropped and damaged replies, a cable pulled part-way. Every case must end
// on its own, with nothing wrong stored.
#include <gtest/gtest.h>

#include <chrono>

#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

struct Outcome {
  DownloadReport report;
  Workspace workspace;
  sim::ReceiverStats stats;
};

Outcome Download(SimRig& rig, ComponentSelection selection, bool log = false) {
  Outcome run;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  DownloadRequest request = MakeDownload(rig, selection);
  request.log = log;
  run.report = Transfer_FromToppy(rig.link(), run.workspace, ui, request, watcher.Hooks());
  run.stats = rig.receiver().Stats();
  return run;
}

std::string FileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(SilentReceiver, FiveTimeOutsOnASerialChunkThenTheBlockFails) {
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  sim::ReceiverOptions options = FastOptions();
  options.faults.ignoredCommands.set(0x04);  // answers everything but the data requests
  auto rig = SimRig::Serial(TestMemory(1000), options);
  const Outcome run = Download(*rig, Only({ComponentKind::Eeprom}), /*log=*/true);
  ASSERT_EQ(1u, run.report.blocks.size());
  EXPECT_EQ(result::kTransferTimeout, run.report.blocks[0].result);
  EXPECT_FALSE(run.workspace.Present(ComponentKind::Eeprom));
  const std::string log = FileText(dir.File("TolvPack.log"));
  size_t at = 0;
  for (int n = 1; n <= 5; ++n) {
    const std::string line =
        "Comm_TransferBlock: WaitForCMD has reported timeout # " + std::to_string(n) + ".\r\n";
    at = log.find(line, at);
    ASSERT_NE(std::string::npos, at) << line;
  }
  EXPECT_EQ(std::string::npos, log.find("timeout # 6."));
  EXPECT_NE(std::string::npos,
            log.find("Comm_TransferBlock: exiting because WaitForCMD failed in the data transfer loop."));
  EXPECT_NE(std::string::npos, log.find("Log file closed   @ "));
  EXPECT_GT(SizeOf(dir.File("CommDump.bin")), 0u);
}

TEST(LineNoise, JunkBeforeEverySerialReplyIsPassedOver) {
  sim::ReceiverOptions options = FastOptions();
  options.faults.junkBeforeReplies = 23;
  auto rig = SimRig::Serial(TestMemory(1000), options);
  const Outcome run = Download(*rig, Only({ComponentKind::Loader, ComponentKind::Eeprom}));
  const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
  EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
  EXPECT_EQ(memory.loader, run.workspace.Image(ComponentKind::Loader));
  EXPECT_EQ(memory.eeprom, run.workspace.Image(ComponentKind::Eeprom));
}

TEST(LostReplies, DroppedDataRepliesAreAskedForAgain) {
  {
    sim::ReceiverOptions options = FastOptions();
    options.faults.dropEveryNthData = 60;
    auto rig = SimRig::Serial(TestMemory(1000), options);
    const Outcome run = Download(*rig, Only({ComponentKind::Loader}));
    EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
    EXPECT_GE(run.stats.droppedReplies, 3);
    EXPECT_EQ(rig->receiver().MemorySnapshot().loader, run.workspace.Image(ComponentKind::Loader));
  }
  {
    sim::ReceiverOptions options = FastOptions();
    options.faults.dropEveryNthData = 2;
    auto rig = SimRig::Usb(TestMemory(300000), options);
    const Outcome run = Download(*rig, Only({ComponentKind::Firmware, ComponentKind::Flash}));
    EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
    EXPECT_GE(run.stats.droppedReplies, 3);
    EXPECT_EQ(rig->receiver().MemorySnapshot().firmware, run.workspace.Image(ComponentKind::Firmware));
  }
}

TEST(DamagedReplies, DataWithABadChecksumIsNeverStored) {
  {
    sim::ReceiverOptions options = FastOptions();
    options.faults.corruptEveryNthData = 50;
    auto rig = SimRig::Serial(TestMemory(1000), options);
    const Outcome run = Download(*rig, Only({ComponentKind::Loader}));
    EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
    EXPECT_GE(run.stats.corruptedReplies, 3);
    EXPECT_EQ(rig->receiver().MemorySnapshot().loader, run.workspace.Image(ComponentKind::Loader));
  }
  {
    sim::ReceiverOptions options = FastOptions();
    options.faults.corruptEveryNthData = 3;
    auto rig = SimRig::Usb(TestMemory(300000), options);
    const Outcome run = Download(*rig, Only({ComponentKind::Firmware}));
    EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
    EXPECT_GE(run.stats.corruptedReplies, 2);
    EXPECT_EQ(rig->receiver().MemorySnapshot().firmware, run.workspace.Image(ComponentKind::Firmware));
  }
}

TEST(SlowReceiver, RepliesThatTakeTheirTimeStillArrive) {
  for (bool usb : {true, false}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.replyDelayMs = 120;  // below the link's 200 ms (USB) and 300 ms (serial) patience
    auto rig = usb ? SimRig::Usb(TestMemory(1000), options) : SimRig::Serial(TestMemory(1000), options);
    const Outcome run = Download(*rig, Only({ComponentKind::Eeprom}));
    EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
    EXPECT_EQ(rig->receiver().MemorySnapshot().eeprom, run.workspace.Image(ComponentKind::Eeprom));
  }
}

TEST(LateReplies, ADuplicateIsNeverStoredAsTheNextChunk) {
  // A reply later than the link's time-out is asked for again; the receiver
  // answers both requests, in order. Echoed or own sequence numbers, over
  // either transport, and a USB cable too slow for one 200 ms read per chunk.
  using enum sim::ReplyNumbering;
  struct Case {
    bool usb;
    sim::ReplyNumbering numbering;
    int lateEvery;
    uint32_t bytesPerSecond;
  };
  for (const Case& c : {Case{true, Echo, 2, 0}, Case{true, Own, 2, 0}, Case{true, Echo, 0, 120000},
                        Case{false, Echo, 3, 0}, Case{false, Own, 3, 0}}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.lateEveryNthData = c.lateEvery;
    options.faults.numbering = c.numbering;
    auto rig = c.usb ? SimRig::Usb(TestMemory(2000), options, c.bytesPerSecond)
                     : SimRig::Serial(TestMemory(2000), options);
    const Outcome run = Download(
        *rig, Only({c.usb ? ComponentKind::Loader : ComponentKind::Firmware, ComponentKind::Eeprom}));
    const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
    const std::string which =
        (c.usb ? "USB" : "serial") + std::string(c.numbering == Own ? " own" : " echoed");
    EXPECT_TRUE(run.report.AllStored()) << which << ": " << Transfer_Summary(run.report);
    EXPECT_GE(run.stats.lateReplies, c.lateEvery > 0 ? 1 : 0) << which;
    EXPECT_EQ(c.usb ? memory.loader : memory.firmware,
              run.workspace.Image(c.usb ? ComponentKind::Loader : ComponentKind::Firmware))
        << which;
    EXPECT_EQ(memory.eeprom, run.workspace.Image(ComponentKind::Eeprom)) << which;
  }
}

TEST(RepeatedReplies, DuplicatesAndOvertakingRepliesGiveExactBytesWithEveryNumbering) {
  // A receiver that sends replies twice (the copy at once, or while it serves
  // the next request), a block size twice, or answers a repeat before the
  // request it repeats; each numbering, on a paced serial line (where a copy
  // arrives after the host's next request, not swept away by its purge) and
  // on USB. A reply taken for the wrong chunk would show in the firmware.
  using enum sim::ReplyNumbering;
  struct Fault {
    const char* name;
    void (*apply)(sim::FaultSwitches&);
  };
  const Fault faults[] = {{"duplicate", [](sim::FaultSwitches& f) { f.duplicateEveryNthData = 3; }},
                          {"duplicate-late", [](sim::FaultSwitches& f) { f.duplicateLateEveryNthData = 3; }},
                          {"duplicate sizes", [](sim::FaultSwitches& f) { f.duplicateSizes = true; }},
                          {"overtake", [](sim::FaultSwitches& f) { f.overtakeEveryNthData = 3; }},
                          {"short replies, some lost", [](sim::FaultSwitches& f) {
                             f.maxReplyBytes = 200;
                             f.dropEveryNthData = 7;
                           }}};
  for (const bool usb : {false, true}) {
    for (const sim::ReplyNumbering numbering : {Echo, Own, Newest, None}) {
      for (const Fault& fault : faults) {
        const std::string which = std::string(usb ? "USB " : "serial ") + fault.name + " numbering " +
                                  std::to_string(static_cast<int>(numbering));
        sim::ReceiverOptions options = FastOptions();
        options.faults.numbering = numbering;
        options.faults.lateMs = 150;
        fault.apply(options.faults);
        if (usb && options.faults.maxReplyBytes > 0) options.faults.maxReplyBytes = 7000;
        auto rig =
            usb ? SimRig::Usb(TestMemory(200000), options) : SimRig::Serial(TestMemory(6000), options, 11520);
        const Outcome run = Download(*rig, Only({ComponentKind::Eeprom, ComponentKind::Firmware}));
        const sim::ReceiverMemory memory = rig->receiver().MemorySnapshot();
        const sim::ReceiverStats stats = rig->receiver().Stats();
        EXPECT_TRUE(run.report.AllStored()) << which << ": " << Transfer_Summary(run.report);
        EXPECT_EQ(memory.firmware, run.workspace.Image(ComponentKind::Firmware)) << which;
        EXPECT_EQ(memory.eeprom, run.workspace.Image(ComponentKind::Eeprom)) << which;
        EXPECT_GE(stats.duplicatedReplies + stats.heldReplies + stats.droppedReplies, 1) << which;
      }
    }
  }
}

TEST(StaleBytes, AnAnnouncementLeftFromAnEarlierRebootIsNotTakenForTheNewOne) {
  // tolv reboot, then a download later: the first loader's announcement still
  // waits on the line; the receiver boots for longer than the reboot pause.
  sim::ReceiverOptions options = FastOptions();
  options.timing.bootMs = 1200;
  auto rig = SimRig::Serial(TestMemory(1000), options);
  ASSERT_EQ(0, rig->link().Open(rig->portName(), {}));
  rig->link().Reboot();
  rig->link().Close();
  ASSERT_TRUE(rig->receiver().WaitForEvent("loader announced", 5000));
  const Outcome run = Download(*rig, Only({ComponentKind::Eeprom}));
  EXPECT_TRUE(run.report.AllStored()) << Transfer_Summary(run.report);
  EXPECT_EQ(rig->receiver().MemorySnapshot().eeprom, run.workspace.Image(ComponentKind::Eeprom));
}

TEST(BriefLoader, AUsbLoaderListeningTwentyMillisecondsIsCaught) {
  // The loader appears on the bus after the link's reboot pause and listens
  // for the mode request only 20 ms. Timing on a busy machine may spoil one
  // try; three tries in a row may not all miss.
  bool caught = false;
  for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
    sim::ReceiverOptions options = FastOptions();
    options.timing.bootMs = 1050;  // half-way between two polls 100 ms apart
    options.timing.modeWaitMs = 20;
    auto rig = SimRig::Usb(TestMemory(1000), options);
    ScriptedInteraction ui;
    ProgressWatcher watcher;
    watcher.link = &rig->link();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    watcher.cancelWhen = [&](uint8_t, double) { return std::chrono::steady_clock::now() > deadline; };
    Workspace workspace;
    const DownloadReport report = Transfer_FromToppy(
        rig->link(), workspace, ui, MakeDownload(*rig, Only({ComponentKind::Eeprom})), watcher.Hooks());
    caught = report.AllStored();
  }
  EXPECT_TRUE(caught);
}

TEST(PulledCable, APartWayDisconnectFailsTheRestAndEnds) {
  for (bool usb : {true, false}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.disconnectAfterData = usb ? 20 : 100;
    auto rig =
        usb ? SimRig::Usb(TestMemory(4 * 1024 * 1024), options) : SimRig::Serial(TestMemory(1000), options);
    // On a serial line the cable goes during the loader; the blocks after it
    // fail at once, as the port has failed, instead of waiting for replies.
    const Outcome run =
        Download(*rig, usb ? Only({ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Eeprom})
                           : Only({ComponentKind::Loader, ComponentKind::Flash, ComponentKind::Eeprom}));
    ASSERT_EQ(3u, run.report.blocks.size());
    EXPECT_FALSE(run.report.AllStored());
    // What arrived before the cable went is whole; nothing after it is stored.
    for (const BlockOutcome& block : run.report.blocks) {
      if (block.kind == ComponentKind::Loader && usb) {
        EXPECT_TRUE(block.stored);
      } else {
        EXPECT_FALSE(block.stored) << ComponentName(block.kind) << (usb ? " USB" : " serial");
        EXPECT_EQ(result::kTransferTimeout, block.result) << ComponentName(block.kind);
        EXPECT_FALSE(run.workspace.Present(block.kind));
      }
    }
    EXPECT_FALSE(rig->link().isOpen());
  }
}

}  // namespace
}  // namespace tolv::test
