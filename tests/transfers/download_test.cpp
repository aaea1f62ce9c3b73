// From Toppy end to end: the workflow, the link and the emulated receiver.
#include <gtest/gtest.h>

#include <thread>

#include "codec/crc16.h"
#include "flash/checksums.h"
#include "flash/packing.h"
#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"
#include "workspace/commands.h"

namespace tolv::test {
namespace {

constexpr size_t kUnpackedSettings = 0x60000;  // what a packed block restores

// Every block the window fetches arrives whole and lands in its component.
void ExpectEveryBlockStored(SimRig& rig, const DownloadReport& report, const Workspace& workspace) {
  const sim::ReceiverMemory memory = rig.receiver().MemorySnapshot();
  ASSERT_EQ(result::kOk, report.modeResult);
  EXPECT_TRUE(report.AllStored()) << Transfer_Summary(report);
  EXPECT_EQ(406, workspace.systemId);
  EXPECT_EQ(memory.loader, workspace.Image(ComponentKind::Loader));
  EXPECT_EQ(memory.firmware, workspace.Image(ComponentKind::Firmware));
  EXPECT_EQ(memory.eeprom, workspace.Image(ComponentKind::Eeprom));
  EXPECT_EQ(memory.packedDefaults, workspace.packedFlash);  // the last packed block handled
  const auto settings = Unpacked(memory.packedFlash, kFlashImageSize);
  EXPECT_TRUE(std::equal(settings.begin(), settings.begin() + kUnpackedSettings,
                         workspace.Image(ComponentKind::Flash).begin()));
  EXPECT_EQ(kLayoutDvbS, workspace.layoutVariant);
  const auto defaults = Unpacked(memory.packedDefaults, kDefaultsImageSize);
  EXPECT_TRUE(std::equal(defaults.begin(), defaults.begin() + kUnpackedSettings,
                         workspace.Image(ComponentKind::Defaults).begin()));
  // The default EEPROM comes along with the default settings.
  const auto& image = workspace.Image(ComponentKind::Defaults);
  EXPECT_EQ(TestDefaultEeprom(),
            std::vector<uint8_t>(image.begin() + static_cast<ptrdiff_t>(kDefaultsEepromOffset),
                                 image.begin() + static_cast<ptrdiff_t>(kDefaultsEepromOffset + 256)));
  for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Flash,
                             ComponentKind::Eeprom, ComponentKind::Defaults}) {
    EXPECT_TRUE(workspace.Present(kind)) << ComponentName(kind);
  }
  EXPECT_FALSE(workspace.Present(ComponentKind::Background));  // never fetched
}

TEST(DownloadOverUsb, EveryBlockArrivesWholeWithTheFirmwareInSections) {
  auto rig = SimRig::Usb(TestMemory());
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  const DownloadReport report =
      Transfer_FromToppy(rig->link(), workspace, ui, MakeDownload(*rig, AllComponents()), watcher.Hooks());
  ExpectEveryBlockStored(*rig, report, workspace);
  EXPECT_EQ(5u, report.blocks.size());
  EXPECT_EQ(
      (std::vector<std::string>{"Loader:", "", "Firmware:", "", "Flash:", "", "EEPROM:", "", "Default:", ""}),
      watcher.statusLines);
  EXPECT_EQ(5, watcher.Count(5));
  EXPECT_EQ(1, watcher.Count(3));
  EXPECT_EQ(1, watcher.Count(7));
  EXPECT_EQ((std::vector<std::string>{"Reboot the Toppy?"}), ui.Texts());
  EXPECT_FALSE(report.rebooted);
  EXPECT_EQ(1, rig->receiver().Stats().reboots);
  EXPECT_FALSE(rig->link().isOpen());
}

TEST(DownloadOverSerial, EveryBlockArrivesWholeOverAPseudoTerminal) {
  auto rig = SimRig::Serial(TestMemory(200000));
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  const DownloadReport report =
      Transfer_FromToppy(rig->link(), workspace, ui, MakeDownload(*rig, AllComponents()), watcher.Hooks());
  ExpectEveryBlockStored(*rig, report, workspace);
  EXPECT_GT(watcher.Count(2), 1);  // the serial mode wait reports every pass
}

TEST(DownloadSelection, NoBoxOrOnlyTheBackgroundStillTakesTheSystemId) {
  for (ComponentSelection selection : {Only({}), Only({ComponentKind::Background})}) {
    auto rig = SimRig::Usb(TestMemory(1000));
    Workspace workspace;
    ScriptedInteraction ui;
    ProgressWatcher watcher;
    const DownloadReport report =
        Transfer_FromToppy(rig->link(), workspace, ui, MakeDownload(*rig, selection), watcher.Hooks());
    EXPECT_EQ(result::kOk, report.modeResult);
    EXPECT_TRUE(report.blocks.empty());
    EXPECT_TRUE(report.AllStored());
    EXPECT_EQ(406, workspace.systemId);
    EXPECT_FALSE(workspace.AnyPresent());
    EXPECT_EQ(1, watcher.Count(7));  // the session was ended
    EXPECT_EQ(0, rig->receiver().Stats().blockRequests);
    EXPECT_EQ((std::vector<std::string>{"Reboot the Toppy?"}), ui.Texts());
  }
}

TEST(DownloadReboot, YesRebootsTheReceiverAgain) {
  auto rig = SimRig::Usb(TestMemory(1000));
  Workspace workspace;
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  ProgressWatcher watcher;
  const DownloadReport report = Transfer_FromToppy(
      rig->link(), workspace, ui, MakeDownload(*rig, Only({ComponentKind::Eeprom})), watcher.Hooks());
  EXPECT_TRUE(report.AllStored());
  EXPECT_TRUE(report.rebooted);
  EXPECT_TRUE(rig->receiver().WaitForEvent("download session ended", 2000));
  for (int i = 0; i < 100 && rig->receiver().Stats().reboots < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(2, rig->receiver().Stats().reboots);
  EXPECT_FALSE(rig->link().isOpen());
}

// A workspace whose components all hold something, so that a refused block
// can be seen to leave its component alone.
Workspace FilledWorkspace() {
  Workspace workspace;
  for (ComponentKind kind : kAllComponents) {
    auto& image = workspace.Image(kind);
    if (image.empty()) image.resize(1000);
    image = RandomBytes(100 + static_cast<uint32_t>(kind), image.size());
    workspace.Present(kind) = true;
  }
  return workspace;
}

TEST(DownloadRefusals, BlocksOfTheWrongSizeAreNeitherCutNorPadded) {
  for (int32_t delta : {1, -1}) {
    sim::ReceiverOptions options = FastOptions();
    options.faults.blockSizeDelta = delta;
    auto rig = SimRig::Usb(TestMemory(1000), options);
    Workspace workspace = FilledWorkspace();
    const Workspace before = workspace;
    ScriptedInteraction ui;
    ProgressWatcher watcher;
    const DownloadReport report = Transfer_FromToppy(
        rig->link(), workspace, ui,
        MakeDownload(*rig, Only({ComponentKind::Loader, ComponentKind::Flash, ComponentKind::Eeprom})),
        watcher.Hooks());
    ASSERT_EQ(3u, report.blocks.size());
    for (const BlockOutcome& block : report.blocks) {
      EXPECT_EQ(result::kOk, block.result);                           // the link got what was announced
      if (delta < 0 && block.kind == ComponentKind::Flash) continue;  // a short packed block may still unpack
      EXPECT_FALSE(block.stored) << ComponentName(block.kind) << " " << delta;
      EXPECT_NE(std::string::npos, block.failure.find("not stored")) << block.failure;
      EXPECT_EQ(before.Image(block.kind), workspace.Image(block.kind)) << ComponentName(block.kind);
    }
    EXPECT_FALSE(report.AllStored());
  }
}

TEST(DownloadRefusals, ABlockLargerThanTheReceiveBufferIsRefusedByTheLink) {
  sim::ReceiverOptions options = FastOptions();
  options.faults.blockSizeDelta = kReceiveBufferSize;
  auto rig = SimRig::Usb(TestMemory(1000), options);
  Workspace workspace = FilledWorkspace();
  const Workspace before = workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  const DownloadReport report = Transfer_FromToppy(
      rig->link(), workspace, ui, MakeDownload(*rig, Only({ComponentKind::Loader})), watcher.Hooks());
  ASSERT_EQ(1u, report.blocks.size());
  EXPECT_EQ(result::kTransferBlockTooLarge, report.blocks[0].result);
  EXPECT_EQ(before.Image(ComponentKind::Loader), workspace.Image(ComponentKind::Loader));
}

TEST(DownloadRefusals, APackedBlockIsJudgedAsAFileLoadJudgesIt) {
  struct Fault {
    size_t offset;      // byte of the packed settings changed
    bool fixBlockCrc;   // entry 0's block CRC made right again
    const char* words;  // what the summary says of the Flash
    bool stored;
  };
  // Inside the first block (at 5120): its block CRC fails. The low byte of
  // entry 3's data CRC (directory at 64, 64 bytes an entry): the data fail
  // it. The chunk CRC of entry 0 (at 5120 + 12) over sound data: named, and
  // the block taken, as a file load takes it.
  for (const Fault& fault :
       {Fault{0x1400 + 100, false, "Not received: Flash (UnPackFlashData failed to unpack the flash block)",
              false},
        Fault{64 + 3 * 64 + 3, false,
              "Not received: Flash (UnPackFlashData failed to unpack the flash block: entry 3, chunk 0: the "
              "data "
              "fail their data CRC",
              false},
        Fault{0x1400 + 12, true, "entry 0 chunk 0 CRC (stored 0x", true}}) {
    sim::ReceiverMemory memory = TestMemory(1000);
    memory.packedFlash[fault.offset] ^= 0xFF;
    if (fault.fixBlockCrc)
      WriteBE16(memory.packedFlash.data() + 64,
                CRC16_Calc(memory.packedFlash.data() + 0x1400,
                           static_cast<int32_t>(ReadBE32(memory.packedFlash.data() + 64 + 8))));
    auto rig = SimRig::Usb(memory);
    Workspace workspace = FilledWorkspace();
    const Workspace before = workspace;
    ScriptedInteraction ui;
    ProgressWatcher watcher;
    DownloadRequest request = MakeDownload(*rig, Only({ComponentKind::Flash, ComponentKind::Loader}));
    request.reportFailures = true;  // as the window does
    const DownloadReport report = Transfer_FromToppy(rig->link(), workspace, ui, request, watcher.Hooks());
    ASSERT_EQ(2u, report.blocks.size());
    EXPECT_TRUE(report.blocks[0].stored);
    EXPECT_EQ(fault.stored, report.blocks[1].stored);
    if (!fault.stored) {
      EXPECT_EQ(before.Image(ComponentKind::Flash), workspace.Image(ComponentKind::Flash));
    }
    ASSERT_EQ(2u, ui.Texts().size());
    EXPECT_NE(std::string::npos, ui.Texts()[0].find(fault.words)) << ui.Texts()[0];
  }
}

// Settings whose section 1 checksum does not match are kept as they came,
// and the summary the window shows names the checksum, stored and computed.
TEST(DownloadNotes, SettingsWithABadSectionChecksumAreNamed) {
  std::vector<uint8_t> settings = DvbSSettings(25);
  const uint32_t section1 = Layout_Sections(kLayoutDvbS).start[1];
  settings[section1] ^= 0x12;
  const std::vector<ChecksumCheck> checks =
      Flash_CheckSectionChecksums(settings.data(), settings.size(), Layout_Sections(kLayoutDvbS));
  sim::ReceiverMemory memory = TestMemory(1000);
  ASSERT_TRUE(PackFlashData(406, settings.data(), memory.packedFlash.data()));
  auto rig = SimRig::Usb(memory);
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  DownloadRequest request = MakeDownload(*rig, Only({ComponentKind::Flash}));
  request.reportFailures = true;  // as the window does
  const DownloadReport report = Transfer_FromToppy(rig->link(), workspace, ui, request, watcher.Hooks());
  ASSERT_EQ(1u, report.blocks.size());
  EXPECT_TRUE(report.blocks[0].stored);
  EXPECT_TRUE(std::equal(settings.begin(), settings.begin() + kUnpackedSettings,
                         workspace.Image(ComponentKind::Flash).begin()));
  char values[64];
  std::snprintf(values, sizeof values, "1 (stored 0x%04X, computed 0x%04X)", checks[0].stored,
                checks[0].computed);
  EXPECT_EQ((std::vector<std::string>{"SystemID 406. Received: Flash (" +
                                          std::to_string(report.blocks[0].byteCount) +
                                          " bytes; its section checksums " + values + " do not match).",
                                      "Reboot the Toppy?"}),
            ui.Texts());
}

// New (or a removal) may run in the window between two steps of the link:
// the summary says what the workspace holds at the end, not what arrived.
TEST(DownloadSummary, ABlockDiscardedDuringTheTransferIsNotToldAsHeld) {
  auto rig = SimRig::Usb(TestMemory(1000));
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  DownloadRequest request = MakeDownload(*rig, Only({ComponentKind::Loader, ComponentKind::Firmware}));
  request.reportFailures = true;
  TransferHooks hooks = watcher.Hooks();
  hooks.blockStarting = [&](ComponentKind kind, int64_t) {
    if (kind == ComponentKind::Firmware) Workspace_Reset(workspace);  // New, answered Yes
  };
  const DownloadReport report = Transfer_FromToppy(rig->link(), workspace, ui, request, hooks);
  ASSERT_EQ(2u, report.blocks.size());
  EXPECT_TRUE(report.blocks[0].discarded);
  EXPECT_FALSE(report.blocks[1].discarded);
  EXPECT_FALSE(workspace.Present(ComponentKind::Loader));
  EXPECT_TRUE(workspace.Present(ComponentKind::Firmware));
  ASSERT_EQ(2u, ui.Texts().size());
  EXPECT_EQ(
      "SystemID 406. Received: Firmware (1000 bytes). Received, then discarded during the transfer: "
      "Loader (65536 bytes).",
      ui.Texts()[0]);
}

TEST(DownloadFailures, AreToldBeforeTheRebootQuestionWhenAsked) {
  sim::ReceiverOptions options = FastOptions();
  options.faults.ignoredCommands.set(0x04);
  auto rig = SimRig::Usb(TestMemory(1000), options);
  Workspace workspace;
  ScriptedInteraction ui;
  ProgressWatcher watcher;
  DownloadRequest request = MakeDownload(*rig, Only({ComponentKind::Eeprom}));
  request.reportFailures = true;
  const DownloadReport report = Transfer_FromToppy(rig->link(), workspace, ui, request, watcher.Hooks());
  ASSERT_EQ(1u, report.blocks.size());
  EXPECT_EQ(result::kTransferTimeout, report.blocks[0].result);
  EXPECT_EQ(
      (std::vector<std::string>{
          "SystemID 406. Not received: EEPROM (Comm_TransferBlock: Timeout while waiting or a response).",
          "Reboot the Toppy?"}),
      ui.Texts());
}

}  // namespace
}  // namespace tolv::test
