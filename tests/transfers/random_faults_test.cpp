// The emulator's faults for soaking: faults drawn per packet from a seed, a
// cable pulled in the middle of an upload, and data garbled behind a good
// checksum.
#include <gtest/gtest.h>

#include <stdexcept>

#include "random_faults.h"
#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

using sim::FaultDice;
using sim::PacketFate;

std::vector<PacketFate> Draw(uint64_t seed, sim::RandomFaultChances chances, int count, bool serial = true) {
  FaultDice dice(seed, chances);
  std::vector<PacketFate> fates;
  for (int i = 0; i < count; ++i) fates.push_back(dice.Next(serial));
  return fates;
}

bool SameFates(const std::vector<PacketFate>& a, const std::vector<PacketFate>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const PacketFate& x, const PacketFate& y) {
    return x.drop == y.drop && x.corrupt == y.corrupt && x.late == y.late && x.slowMs == y.slowMs &&
           x.junkBytes == y.junkBytes;
  });
}

TEST(FaultDice, TheSameSeedDrawsTheSameFatesAndTheChancesHold) {
  const sim::RandomFaultChances chances = sim::ParseRandomFaults("drop:5,corrupt:2.5,late:1,slow:10,junk:20");
  EXPECT_TRUE(SameFates(Draw(77, chances, 500), Draw(77, chances, 500)));
  EXPECT_FALSE(SameFates(Draw(77, chances, 500), Draw(78, chances, 500)));
  const std::vector<PacketFate> fates = Draw(0, chances, 40000);
  int drops = 0, corrupts = 0, lates = 0, slows = 0, junks = 0;
  for (const PacketFate& fate : fates) {
    drops += fate.drop;
    corrupts += fate.corrupt;
    lates += fate.late;
    slows += fate.slowMs > 0;
    junks += fate.junkBytes > 0;
    EXPECT_LE(fate.slowMs, FaultDice::kMaxSlowMs);
    EXPECT_LE(fate.junkBytes, FaultDice::kMaxJunkBytes);
  }
  // Within a fifth of the chance asked for (40,000 draws).
  EXPECT_NEAR(2000, drops, 400);
  EXPECT_NEAR(1000, corrupts, 200);
  EXPECT_NEAR(400, lates, 80);
  EXPECT_NEAR(4000, slows, 800);
  EXPECT_NEAR(8000, junks, 1600);
  for (const PacketFate& fate : Draw(0, chances, 1000, /*serial=*/false)) EXPECT_EQ(0, fate.junkBytes);
  for (const PacketFate& fate : Draw(5, sim::ParseRandomFaults("drop:100,late:0"), 1000)) {
    EXPECT_TRUE(fate.drop);
    EXPECT_FALSE(fate.late);
  }
}

TEST(FaultDice, BadListsAreRefusedWithTheItem) {
  for (const char* bad : {"drop", "drop:", "drop:101", "drop:-1", "drop:2x", "lost:3", "drop:1,,late:2"}) {
    try {
      sim::ParseRandomFaults(bad);
      ADD_FAILURE() << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find("--random-faults")) << e.what();
    }
  }
}

TEST(GarbledData, PassesTheLineUnnoticedOneByteEach) {
  sim::ReceiverOptions options = FastOptions();
  options.faults.garbleEveryNthData = 40;
  auto rig = SimRig::Serial(TestMemory(1000), options);
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  const DownloadReport report = Transfer_FromToppy(
      rig->link(), workspace, ui, MakeDownload(*rig, Only({ComponentKind::Loader})), watcher.Hooks());
  // The link cannot tell: the loader arrives, with one wrong byte per garbled reply.
  ASSERT_TRUE(report.AllStored());
  const std::vector<uint8_t>& sent = rig->receiver().MemorySnapshot().loader;
  const std::vector<uint8_t>& got = workspace.Image(ComponentKind::Loader);
  ASSERT_EQ(sent.size(), got.size());
  int wrong = 0;
  for (size_t i = 0; i < sent.size(); ++i) wrong += sent[i] != got[i];
  // One in forty of the replies for 65,536 bytes (more than 258: on a line
  // this fast many requests share the reply window, and ask for fewer bytes).
  const int garbled = rig->receiver().Stats().garbledReplies;
  EXPECT_GE(garbled, 6);
  EXPECT_EQ(garbled, wrong);
}

TEST(PulledCable, InTheMiddleOfAnUploadTheReceiverKeepsItsMemory) {
  for (bool usb : {true, false}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.unplugAfterPackets = 3;
    auto rig = usb ? SimRig::Usb(TestMemory(1000), options) : SimRig::Serial(TestMemory(1000), options);
    const sim::ReceiverMemory before = rig->receiver().MemorySnapshot();
    Workspace workspace;
    workspace.systemId = 406;
    workspace.Image(ComponentKind::Loader) = RandomBytes(5, kLoaderImageSize);
    workspace.Present(ComponentKind::Loader) = true;
    ScriptedInteraction ui;
    TfdStore store;
    ProgressWatcher watcher;
    const UploadReport report = Transfer_ToToppy(
        rig->link(), store, workspace, ui, MakeUpload(*rig, Only({ComponentKind::Loader})), watcher.Hooks());
    EXPECT_NE(result::kOk, report.result) << (usb ? "USB" : "serial");
    EXPECT_TRUE(rig->receiver().WaitForEvent("cable pulled after 3 packets", 1000));
    // The upload starts again once: the serial port is gone with the cable
    // and cannot be opened; the emulated USB receiver, found again after the
    // pull, is cut again and then not back in time. Its memory stays as it was.
    if (!usb) {
      EXPECT_EQ(4, rig->receiver().Stats().transferPackets);
    }
    EXPECT_EQ(1, report.restarts) << Transfer_Summary(report);
    EXPECT_EQ(before, rig->receiver().MemorySnapshot());
  }
}

}  // namespace
}  // namespace tolv::test
