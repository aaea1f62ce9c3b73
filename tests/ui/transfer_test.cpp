// The receiver transfers from the window: the progress display, the locked
// controls, and From Toppy / To Toppy against the receiver emulator on a
// pseudo-terminal, including a cancel while the window waits for the
// receiver.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <signal.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "child_process.h"
#include "flash/layout.h"
#include "flash/model_list.h"
#include "flash/packing.h"
#include "receiver_memory.h"
#include "ui_test_support.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

class TransferTest : public WindowTest {
 protected:
  // Starts the emulator program (the first line it prints is its serial
  // port) and opens a window that lists its port, selected in both groups.
  void StartReceiver(std::vector<std::string> options) {
    options.insert(options.end(), {"--baud", "0", "--boot-ms", "50", "--dump", dir.path()});
    sim = std::make_unique<ChildProcess>(BuildBinDir() + "/toppy-sim", options, dir.File("toppy-sim.log"));
    const std::string port = sim->ReadLine(10000).value_or("");
    ASSERT_FALSE(port.empty()) << "the emulator did not start (is toppy-sim built?)";
    OpenWindow({port});
    window->ComboBox1->setCurrentIndex(1);
    window->ComboBox2->setCurrentIndex(1);
  }
  // Ends the emulator, which lets the receiver finish what it was doing and
  // then writes its memory (--dump); the files are complete only once it has
  // ended.
  ::testing::AssertionResult StopReceiver() {
    sim->Signal(SIGTERM);
    const std::optional<int> status = sim->Wait(30000);
    if (status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the emulator did not end cleanly: " << (status ? std::to_string(*status) : "still running");
  }
  // What the emulator said (its events), complete once it has ended.
  std::string EmulatorLog() const {
    const std::vector<uint8_t> bytes = ReadBytes(dir.File("toppy-sim.log"));
    return std::string(bytes.begin(), bytes.end());
  }
  // Runs action the first time the window processes its events after delayMs.
  void During(int delayMs, std::function<void()> action) {
    QTimer::singleShot(delayMs, window.get(), action);
  }

  void ExpectIdle() {
    EXPECT_FALSE(window->TransferBusy());
    EXPECT_EQ(window->Label10->text().toStdString(), "-");
    EXPECT_EQ(window->PB1->value(), 0);
    EXPECT_EQ(window->ButtonLoadFromToppy->text().toStdString(), "From Toppy");
    EXPECT_EQ(window->ButtonSaveToToppy->text().toStdString(), "To Toppy");
    EXPECT_TRUE(window->ButtonLoadFromToppy->isEnabled());
    EXPECT_TRUE(window->ButtonLoadSTD->isEnabled());
    EXPECT_TRUE(window->CheckBox1->isEnabled());
    EXPECT_TRUE(window->MenuLoadFlashDMP->isEnabled());
  }

  std::unique_ptr<ChildProcess> sim;
};

std::vector<uint8_t> Unpacked(const std::vector<uint8_t>& packed, size_t size) {
  std::vector<uint8_t> image(size, 0);
  EXPECT_TRUE(UnPackFlashData(packed.data(), packed.size(), image.data(), image.size()));
  return image;
}

// The settings part (the first 393,216 bytes) of two images, compared.
::testing::AssertionResult SameSettings(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() < kDefaultsSettingsSize || b.size() < kDefaultsSettingsSize)
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  const auto mismatch = std::mismatch(a.begin(), a.begin() + kDefaultsSettingsSize, b.begin());
  if (mismatch.first == a.begin() + kDefaultsSettingsSize) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "first difference at offset " << (mismatch.first - a.begin())
                                       << ": " << int(*mismatch.first) << " vs " << int(*mismatch.second);
}

TEST_F(TransferTest, FromToppyFetchesTheCheckedBlocks) {
  StartReceiver({"--sysid", "406"});
  for (QCheckBox* box : {window->CheckBox1, window->CheckBox2, window->CheckBox3, window->CheckBox4,
                         window->CheckBox5, window->CheckBox13})
    box->setChecked(true);
  window->ButtonLoadFromToppy->click();

  // Every block of the built-in memory is sound: nothing to tell but the question.
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Reboot the Toppy?"});
  const sim::ReceiverMemory memory = sim::ReceiverMemory::Builtin(406);
  EXPECT_EQ(workspace.systemId, 406);
  EXPECT_EQ(workspace.Image(ComponentKind::Loader), memory.loader);
  EXPECT_EQ(workspace.Image(ComponentKind::Firmware), memory.firmware);
  EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), memory.eeprom);
  EXPECT_TRUE(
      SameSettings(workspace.Image(ComponentKind::Flash), Unpacked(memory.packedFlash, kFlashImageSize)));
  EXPECT_TRUE(SameSettings(workspace.Image(ComponentKind::Defaults),
                           Unpacked(memory.packedDefaults, kDefaultsImageSize)));
  for (ComponentKind kind : kAllComponents)
    EXPECT_EQ(workspace.Present(kind), kind != ComponentKind::Background) << ComponentName(kind);
  EXPECT_EQ(window->Label9->text().toStdString().substr(0, 5), "406 (");
  EXPECT_EQ(LabelColour(window->Label3), kColourPresent);
  EXPECT_EQ(LabelColour(window->Label11), kColourAbsent) << "the Background is never fetched";
  EXPECT_TRUE(window->ButtonSaveSTD->isEnabled());
  ExpectIdle();
}

TEST_F(TransferTest, FromToppyWithNothingCheckedTakesTheSystemIdAndLogsWhenAsked) {
  StartReceiver({"--sysid", "1416"});
  ScopedCurrentDir cwd(dir.path());
  window->CheckBox11->setChecked(true);  // "Log transfer"
  window->ButtonLoadFromToppy->click();
  EXPECT_EQ(workspace.systemId, 1416);
  EXPECT_FALSE(workspace.AnyPresent());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Reboot the Toppy?"});
  ExpectIdle();
  ASSERT_TRUE(Exists(dir.File("TolvPack.log")));
  const std::vector<uint8_t> log = ReadBytes(dir.File("TolvPack.log"));
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("Log file opened"), std::string::npos);
  EXPECT_NE(text.find("Log file closed"), std::string::npos) << "the log ends with the transfer";
}

TEST_F(TransferTest, ToToppyAsksForAMissingSystemIdFirst) {
  StartReceiver({"--sysid", "406"});
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(21, kEepromImageSize);
  workspace.Present(ComponentKind::Eeprom) = true;
  window->Status_Refresh();
  window->CheckBox9->setChecked(true);
  ui.AnswerInput("406");
  window->ButtonSaveToToppy->click();
  ASSERT_FALSE(ui.events().empty());
  EXPECT_EQ(ui.events()[0].kind, ScriptedInteraction::Event::Kind::Input);
  EXPECT_EQ(ui.Texts().back(), "Reboot the Toppy?");
  EXPECT_EQ(workspace.systemId, 406);
  EXPECT_EQ(window->Label9->text().toStdString().substr(0, 5), "406 (");
  ExpectIdle();
  ASSERT_TRUE(StopReceiver());
  EXPECT_NE(EmulatorLog().find("upload: image accepted: blocks 3\n"), std::string::npos) << EmulatorLog();
  EXPECT_EQ(ReadBytes(dir.File("eeprom.bin")), workspace.Image(ComponentKind::Eeprom));
}

TEST_F(TransferTest, ToToppySendsTheCheckedPresentComponents) {
  StartReceiver({"--sysid", "406"});
  workspace.Image(ComponentKind::Loader) = RandomBytes(11, kLoaderImageSize);
  workspace.Image(ComponentKind::Firmware) = MachineCode(5000);
  workspace.Image(ComponentKind::Flash) = SettingsImage(kLayoutDvbS, 12);
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(13, kEepromImageSize);
  workspace.Image(ComponentKind::Background) = RandomBytes(14, kBackgroundImageSize);
  for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Flash,
                             ComponentKind::Eeprom, ComponentKind::Background})
    workspace.Present(kind) = true;
  workspace.systemId = 406;
  window->Status_Refresh();
  // The Firmware is present but not checked: it stays here.
  for (QCheckBox* box : {window->CheckBox6, window->CheckBox8, window->CheckBox9, window->CheckBox14})
    box->setChecked(true);
  window->ButtonSaveToToppy->click();
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Reboot the Toppy?"});
  ExpectIdle();

  ASSERT_TRUE(StopReceiver());
  EXPECT_NE(EmulatorLog().find("upload: image accepted: blocks 0 2 3 5\n"), std::string::npos)
      << EmulatorLog();
  const sim::ReceiverMemory before = sim::ReceiverMemory::Builtin(406);
  EXPECT_EQ(ReadBytes(dir.File("loader.bin")), workspace.Image(ComponentKind::Loader));
  EXPECT_EQ(ReadBytes(dir.File("eeprom.bin")), workspace.Image(ComponentKind::Eeprom));
  EXPECT_EQ(ReadBytes(dir.File("background.bin")), workspace.Image(ComponentKind::Background));
  EXPECT_EQ(ReadBytes(dir.File("firmware.bin")), before.firmware) << "an unchecked component is not sent";
  EXPECT_TRUE(SameSettings(Unpacked(ReadBytes(dir.File("flash.dmp")), kFlashImageSize),
                           workspace.Image(ComponentKind::Flash)));
}

TEST_F(TransferTest, ToToppyAsksBeforeSendingToAnotherModel) {
  StartReceiver({"--sysid", "406"});
  workspace.Image(ComponentKind::Eeprom) = RandomBytes(22, kEepromImageSize);
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.systemId = 4502;
  window->Status_Refresh();
  window->CheckBox9->setChecked(true);
  ui.AnswerQuestion(false);
  window->ButtonSaveToToppy->click();
  const std::string question = "The receiver reports SystemID 406 (" + std::string(Model_GetName(406)) +
                               "); the image is for SystemID 4502 (" + std::string(Model_GetName(4502)) +
                               "). Send it anyway?";
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{question, "Reboot the Toppy?"}));
  ExpectIdle();
  ASSERT_TRUE(StopReceiver());
  EXPECT_EQ(ReadBytes(dir.File("eeprom.bin")), sim::ReceiverMemory::Builtin(406).eeprom)
      << "nothing was sent";
}

TEST_F(TransferTest, CancelWhileWaitingForDownloadModeReturnsToIdle) {
  StartReceiver({"--silent"});
  workspace.Present(ComponentKind::Flash) = true;
  window->Status_Refresh();
  window->CheckBox1->setChecked(true);
  bool sawRunning = false;
  During(300, [&] {
    sawRunning = window->TransferBusy();
    EXPECT_EQ(window->ButtonLoadFromToppy->text().toStdString(), "Cancel transfer");
    EXPECT_TRUE(window->ButtonLoadFromToppy->isEnabled());
    EXPECT_FALSE(window->ButtonSaveToToppy->isEnabled());
    EXPECT_FALSE(window->ButtonLoadSTD->isEnabled());
    EXPECT_TRUE(window->ButtonNew->isEnabled());
    // A command that refreshes the display meanwhile leaves the locked
    // controls locked.
    window->MenuDefaultsNULLSettings->trigger();
    EXPECT_FALSE(window->ButtonSaveTFD->isEnabled());
    EXPECT_FALSE(window->MenuSaveFlashBIN->isEnabled());
    EXPECT_FALSE(window->CheckBox8->isEnabled());
    EXPECT_EQ(LabelColour(window->Label5), kColourPresent);
    window->ButtonLoadFromToppy->click();  // "Cancel transfer"
  });
  window->ButtonLoadFromToppy->click();
  EXPECT_TRUE(sawRunning);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Reboot the Toppy?"})
      << "a cancel is not reported as a failure";
  EXPECT_FALSE(workspace.Present(ComponentKind::Loader));
  ExpectIdle();
  EXPECT_TRUE(window->ButtonSaveTFD->isEnabled());
  EXPECT_TRUE(window->CheckBox8->isEnabled());
}

TEST_F(TransferTest, ClosingTheWindowDuringATransferCancelsItAndAsksNothing) {
  StartReceiver({"--silent"});
  ScopedCurrentDir cwd(dir.path());
  window->CheckBox11->setChecked(true);  // "Log transfer"
  window->show();
  During(300, [&] { window->MenuFileExit->trigger(); });
  window->ButtonLoadFromToppy->click();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->TransferBusy());
  EXPECT_TRUE(ui.events().empty()) << "no \"Reboot the Toppy?\": " << ::testing::PrintToString(ui.Texts());
  // The link was closed after its last open, and the log was closed.
  const std::vector<uint8_t> log = ReadBytes(dir.File("TolvPack.log"));
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("Comm_Cancel"), std::string::npos);
  EXPECT_GT(text.rfind("Comm_Close"), text.rfind("Comm_Open"));
  EXPECT_NE(text.find("Log file closed"), std::string::npos);
}

TEST_F(TransferTest, ABlockLongerThanItsPlaceIsRefusedAndSaid) {
  StartReceiver({"--size-delta", "16"});
  window->CheckBox3->setChecked(true);
  window->ButtonLoadFromToppy->click();
  EXPECT_FALSE(workspace.Present(ComponentKind::Flash));
  ASSERT_EQ(ui.events().size(), 2u) << ::testing::PrintToString(ui.Texts());
  EXPECT_EQ(ui.events()[0].kind, ScriptedInteraction::Event::Kind::Information);
  EXPECT_NE(ui.events()[0].text.find("Not received: Flash"), std::string::npos) << ui.events()[0].text;
  EXPECT_EQ(ui.events()[1].text, "Reboot the Toppy?");
  ExpectIdle();
}

// The Toppy menu's jobs against the emulator: a backup of one receiver, then,
// on a receiver whose loader and EEPROM differ, a compare that names them, a
// restore, and a compare that finds it the same as the backup; the
// emulator's memory is then the backup's, byte for byte.
TEST_F(TransferTest, TheToppyMenuBacksUpComparesAndRestoresAgainstTheEmulator) {
  // A small firmware keeps the four jobs short.
  const std::string firmware = dir.File("small-firmware.bin");
  WriteBytes(firmware, MachineCode(5000));
  StartReceiver({"--sysid", "406", "--firmware", firmware});
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("backups")));
  dialogs.Answer(dir.File("backups"));
  ui.AnswerQuestion(false);  // "Reboot the Toppy?"
  window->MenuToppyBackUp->trigger();
  ASSERT_TRUE(StopReceiver());
  std::string backup;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("backups")))
    backup = entry.path().string();
  ASSERT_NE(ui.Texts().back().find("Backup complete: " + backup + " (5 components, verified)"),
            std::string::npos)
      << ui.Texts().back();
  const sim::ReceiverMemory memory = sim::ReceiverMemory::Builtin(406);
  EXPECT_EQ(ReadBytes(backup + "/loader.bin"), memory.loader);
  EXPECT_EQ(ReadBytes(backup + "/firmware.bin"), MachineCode(5000));
  EXPECT_EQ(ReadBytes(backup + "/eeprom.bin"), memory.eeprom);

  WriteBytes(dir.File("other-loader.bin"), RandomBytes(31, kLoaderImageSize));
  WriteBytes(dir.File("other-eeprom.bin"), RandomBytes(32, kEepromImageSize));
  sim.reset();
  std::filesystem::remove_all(dir.File("dump"));
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("dump")));
  const std::string dump = dir.File("dump");
  sim = std::make_unique<ChildProcess>(
      BuildBinDir() + "/toppy-sim",
      std::vector<std::string>{"--sysid", "406", "--firmware", firmware, "--loader",
                               dir.File("other-loader.bin"), "--eeprom", dir.File("other-eeprom.bin"),
                               "--baud", "0", "--boot-ms", "50", "--dump", dump},
      dir.File("toppy-sim.log"));
  const std::string port = sim->ReadLine(10000).value_or("");
  ASSERT_FALSE(port.empty());
  OpenWindow({port});
  window->ComboBox1->setCurrentIndex(1);
  window->ComboBox2->setCurrentIndex(1);

  dialogs.Answer(backup);
  ui.AnswerQuestion(false);
  window->MenuToppyCompare->trigger();
  EXPECT_NE(ui.Texts().back().find("The backups differ: Loader, EEPROM."), std::string::npos)
      << ui.Texts().back();

  dialogs.Answer(backup);
  for (bool answer : {true, true, false}) ui.AnswerQuestion(answer);  // the plan, the loader, the reboot
  window->MenuToppyRestore->trigger();
  EXPECT_NE(ui.Texts().back().find("Verified: Loader, Firmware, Flash, EEPROM, Defaults"), std::string::npos)
      << ui.Texts().back();

  dialogs.Answer(backup);
  ui.AnswerQuestion(false);
  window->MenuToppyCompare->trigger();
  EXPECT_NE(ui.Texts().back().find("The backups are the same."), std::string::npos) << ui.Texts().back();
  EXPECT_TRUE(ui.AllAnswersUsed());
  EXPECT_TRUE(dialogs.AllAnswersUsed());
  ExpectIdle();

  ASSERT_TRUE(StopReceiver());
  for (const char* name : {"loader.bin", "firmware.bin", "eeprom.bin"})
    EXPECT_EQ(ReadBytes(dump + "/" + name), ReadBytes(backup + "/" + name)) << name;
  EXPECT_TRUE(SameSettings(Unpacked(ReadBytes(dump + "/flash.dmp"), kFlashImageSize),
                           ReadBytes(backup + "/flash.bin")));
}

}  // namespace
}  // namespace tolv::test
