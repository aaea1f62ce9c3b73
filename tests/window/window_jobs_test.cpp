// The owner's jobs of the window model against a receiver that keeps what it
// is sent: back up, restore, compare, each from its menu entry, with the
// folder chosen, the answers scripted and the receiver's memory checked.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/sha256.h"
#include "fake_dialogs.h"
#include "flash/model_list.h"
#include "results/result_codes.h"
#include "test_support.h"
#include "window/window_model.h"
#include "workspace/backup_folder.h"
#include "workspace/backup_jobs.h"
#include "workspace/commands.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

using M = MenuEntryId;

class Face : public WindowFace {
 public:
  void Render(const WindowView& view) override { bars.push_back(view[ControlId::PB1].position); }
  void ProcessPendingMessages() override {
    if (whilePending) whilePending();
  }
  void CloseWindow() override {}
  std::vector<int> bars;
  std::function<void()> whilePending;
};

// A receiver that gives what its memory holds and keeps what it is sent;
// alter changes a component as it is written (a write that goes wrong).
class Receiver : public TransferRunner {
 public:
  DownloadReport FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                           const TransferHooks& hooks) override {
    DownloadReport report;
    report.opened = true;
    hooks_ = &hooks;
    hooks.progress(comm_status::kDownloadMode, 0);
    report.systemId = workspace.systemId = memory.systemId;
    for (ComponentKind kind : kAllComponents) {
      if (!request.selection[static_cast<size_t>(kind)]) continue;
      const int reads = kind == ComponentKind::Loader && request.readLoaderTwice ? 2 : 1;
      for (int read = 0; read < reads; ++read) Move(hooks, kind);
      BlockOutcome block;
      block.kind = kind;
      block.stored = cancels == 0;
      if (cancels) block.failure = "cancelled";
      report.blocks.push_back(block);
      if (!block.stored) continue;
      workspace.Image(kind) = memory.Image(kind);
      workspace.Present(kind) = true;
      if (kind == ComponentKind::Flash) {
        workspace.layoutVariant = memory.layoutVariant;
        workspace.sectionTable = memory.sectionTable;
        workspace.sectionTableMatchesFlash = memory.sectionTableMatchesFlash;
      }
    }
    if (cancels) report.outcome = Outcome::Cancelled("cancelled");
    hooks_ = nullptr;
    ui.Question(kRebootQuestion);
    return report;
  }
  UploadReport ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                       const TransferHooks& hooks) override {
    uploads.push_back(request);
    UploadReport report;
    report.opened = report.started = true;
    report.systemId = workspace.systemId;
    hooks_ = &hooks;
    hooks.progress(comm_status::kUploadMode, 0);
    report.receiverSystemId = memory.systemId;
    Move(hooks, ComponentKind::Flash);
    for (ComponentKind kind : kAllComponents) {
      if (!request.selection[static_cast<size_t>(kind)] || !workspace.Present(kind)) continue;
      memory.Image(kind) = workspace.Image(kind);
      if (alter) alter(kind, memory.Image(kind));
      report.sent.push_back(kind);
    }
    hooks_ = nullptr;
    ui.Question(kRebootQuestion);
    return report;
  }
  void Cancel() override { ++cancels; }
  std::string UsbDiagnostic() override { return {}; }
  RebootReport Reboot(const std::string& port, const TransferHooks&) override {
    reboots.push_back(port);
    return {};
  }
  std::string OpenDiagnostic() override { return {}; }
  int32_t TransferSize() override { return 0; }

  Workspace memory;
  std::vector<UploadRequest> uploads;
  std::vector<std::string> reboots;
  int cancels = 0;
  std::function<void(ComponentKind, std::vector<uint8_t>&)> alter;

 private:
  void Move(const TransferHooks& hooks, ComponentKind kind) {
    hooks.blockStarting(kind, 0);
    for (double percent : {50.0, 100.0}) hooks.progress(comm_status::kProgress, percent);
  }
  const TransferHooks* hooks_ = nullptr;
};

class WindowJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tolv::testing::ModelList_Unload();
    receiver.memory = SettingsWorkspace(kLayoutDvbS, 406, 7);
    SilentInteraction silent;
    ASSERT_TRUE(Defaults_FromFlash(receiver.memory, silent));
    receiver.memory.Image(ComponentKind::Loader).assign(kLoaderImageSize, 0x5A);
    receiver.memory.Present(ComponentKind::Loader) = true;
    receiver.memory.Image(ComponentKind::Firmware).assign(70000, 0x21);
    receiver.memory.Present(ComponentKind::Firmware) = true;
    WindowServices services{&workspace, &ui, &dialogs, {}, &receiver, [] { return uint64_t{0}; }};
    model = std::make_unique<WindowModel>(services, face);
    model->FormCreate();
  }
  void TearDown() override { tolv::testing::ModelList_Unload(); }

  // Backs the receiver up into dir; returns the backup folder made.
  std::string BackUp() {
    dialogs.answers.push_back(dir.path());
    ui.AnswerQuestion(false);  // "Reboot the Toppy?"
    model->PickMenuEntry(M::MenuToppyBackUp);
    // Named as the job names it: the folder chosen, "/", the new folder.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      if (entry.is_directory()) return dir.path() + "/" + entry.path().filename().string();
    return {};
  }
  std::string LastText() const { return ui.Texts().empty() ? "" : ui.Texts().back(); }

  Workspace workspace;
  ScriptedInteraction ui;
  test::FakeDialogs dialogs;
  Receiver receiver;
  Face face;
  std::unique_ptr<WindowModel> model;
  TempDir dir;
};

TEST_F(WindowJobsTest, BackUpRestoreAndCompareRoundTripTheReceiverByteForByte) {
  const Workspace original = receiver.memory;
  const std::string backup = BackUp();
  ASSERT_FALSE(backup.empty()) << LastText();
  EXPECT_EQ(dialogs.requests.back().kind, FileDialogRequest::Kind::Folder);
  EXPECT_NE(LastText().find("Backup complete: " + backup + " (5 components, verified)"), std::string::npos)
      << LastText();
  EXPECT_TRUE(Backup_Faults(backup).empty());
  EXPECT_EQ(ReadFileBytes(backup + "/loader.bin"), original.Image(ComponentKind::Loader));
  EXPECT_FALSE(workspace.AnyPresent()) << "the window's own workspace is left alone";

  // The receiver loses its settings; the restore puts them back.
  receiver.memory.Image(ComponentKind::Flash).assign(ComponentImageSize(ComponentKind::Flash), 0);
  receiver.memory.Image(ComponentKind::Loader).assign(kLoaderImageSize, 0);
  ui.Clear();
  dialogs.answers.push_back(backup);
  for (bool answer : {true, true, true}) ui.AnswerQuestion(answer);  // plan, loader, reboot
  model->PickMenuEntry(M::MenuToppyRestore);
  ASSERT_EQ(ui.Texts().size(), 4u) << LastText();
  EXPECT_NE(ui.Texts()[0].find("made for SystemID 406"), std::string::npos) << ui.Texts()[0];
  EXPECT_EQ(ui.Texts()[1], kLoaderQuestion);
  EXPECT_EQ(ui.Texts()[2], kRebootQuestion) << "asked once, at the end";
  EXPECT_NE(LastText().find("Verified: Loader, Firmware, Flash, EEPROM, Defaults"), std::string::npos)
      << LastText();
  EXPECT_NE(LastText().find("The receiver restarts now"), std::string::npos);
  EXPECT_EQ(receiver.reboots, std::vector<std::string>{"USB"});
  for (ComponentKind kind : kAllComponents)
    EXPECT_EQ(receiver.memory.Image(kind), original.Image(kind)) << ComponentName(kind);

  ui.Clear();
  dialogs.answers.push_back(backup);
  ui.AnswerQuestion(false);
  model->PickMenuEntry(M::MenuToppyCompare);
  EXPECT_NE(LastText().find("The backups are the same."), std::string::npos) << LastText();
  EXPECT_NE(LastText().find("B: the receiver on USB"), std::string::npos);
  EXPECT_TRUE(ui.AllAnswersUsed());
}

TEST_F(WindowJobsTest, ALoaderThatReadsBackWrongIsNeverFollowedByARebootOrPowerCycleAdvice) {
  const std::string backup = BackUp();
  ASSERT_FALSE(backup.empty()) << LastText();
  receiver.alter = [](ComponentKind kind, std::vector<uint8_t>& image) {
    if (kind == ComponentKind::Loader) image[100] ^= 0xFF;
  };
  ui.Clear();
  dialogs.answers.push_back(backup);
  for (bool answer : {true, true}) ui.AnswerQuestion(answer);  // plan, loader
  model->PickMenuEntry(M::MenuToppyRestore);
  EXPECT_TRUE(ui.AllAnswersUsed());
  ASSERT_EQ(ui.Texts().size(), 3u) << "no reboot question: " << LastText();
  const std::string text = LastText();
  EXPECT_NE(text.find("Differs after sending: Loader (1 byte differs, the first at offset 100)."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Its loader read back wrong: do not restart the receiver"), std::string::npos);
  EXPECT_NE(text.find("The receiver now holds, sent whole and checked: Firmware, Flash, EEPROM, Defaults."),
            std::string::npos);
  EXPECT_EQ(text.find("switch it off and on"), std::string::npos);
  EXPECT_TRUE(receiver.reboots.empty());
}

TEST_F(WindowJobsTest, RefusalsAndDeclinesSendNothing) {
  const std::string backup = BackUp();
  ASSERT_FALSE(backup.empty()) << LastText();
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::vector<bool> answers;
    const char* told;
    size_t uploads;
  };
  const std::vector<Case> cases = {
      {"a damaged file",
       [&] {
         const std::vector<uint8_t> other(256, 1);
         SaveFileAtomically(backup + "/eeprom.bin", ByteView(other));
       },
       {},
       "eeprom.bin: its SHA-256 differs from SHA256SUMS",
       0},
      {"not a backup",
       [&] { std::filesystem::remove(backup + "/SHA256SUMS"); },
       {},
       "is not a backup folder",
       0},
      {"the plan declined", [] {}, {false}, "", 0},
  };
  const std::string saved = dir.File("saved");
  std::filesystem::copy(backup, saved);
  for (const Case& c : cases) {
    ui.Clear();
    c.prepare();
    dialogs.answers.push_back(backup);
    for (bool answer : c.answers) ui.AnswerQuestion(answer);
    model->PickMenuEntry(M::MenuToppyRestore);
    EXPECT_EQ(receiver.uploads.size(), c.uploads) << c.what;
    EXPECT_NE(LastText().find(c.told), std::string::npos) << c.what << ": " << LastText();
    EXPECT_TRUE(ui.AllAnswersUsed()) << c.what;
    // The next case starts from the backup as it was made.
    std::filesystem::remove_all(backup);
    std::filesystem::copy(saved, backup);
  }
  // The loader declined: the rest still goes.
  ui.Clear();
  dialogs.answers.push_back(backup);
  for (bool answer : {true, false, false}) ui.AnswerQuestion(answer);
  model->PickMenuEntry(M::MenuToppyRestore);
  ASSERT_EQ(receiver.uploads.size(), 1u);
  EXPECT_FALSE(receiver.uploads[0].selection[static_cast<size_t>(ComponentKind::Loader)]);
  EXPECT_TRUE(receiver.uploads[0].selection[static_cast<size_t>(ComponentKind::Flash)]);
  EXPECT_NE(LastText().find("The loader was not sent"), std::string::npos) << LastText();
}

TEST_F(WindowJobsTest, TheBarRunsOnceOverTheWholeJobAndACancelMakesNoBackup) {
  face.bars.clear();
  const std::string backup = BackUp();
  ASSERT_FALSE(backup.empty());
  int highest = 0;
  for (size_t i = 0; i + 1 < face.bars.size(); ++i) {
    if (face.bars[i] == 0 && highest > 0) break;  // the job's end puts the bar back to 0
    EXPECT_GE(face.bars[i], highest) << "the bar never moves back during the job";
    highest = std::max(highest, face.bars[i]);
  }
  EXPECT_EQ(highest, 100);
  EXPECT_EQ(face.bars.back(), 0);

  std::filesystem::remove_all(backup);
  face.whilePending = [&] { model->Click(ControlId::ButtonLoadFromToppy); };  // "Cancel transfer"
  dialogs.answers.push_back(dir.path());
  ui.Clear();
  model->PickMenuEntry(M::MenuToppyBackUp);
  EXPECT_NE(LastText().find(kNoBackupCancelled), std::string::npos) << LastText();
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(WindowJobsTest, ABackgroundInTheBackupIsLeftOutOfTheCompareWithoutAQuestion) {
  const std::string backup = BackUp();
  ASSERT_FALSE(backup.empty()) << LastText();
  const std::vector<uint8_t> background(kBackgroundImageSize, 0x33);
  SaveFileAtomically(backup + "/background.bin", ByteView(background));
  std::vector<uint8_t> sums = ReadFileBytes(backup + "/SHA256SUMS");
  const std::string line = Sha256_Hex(Sha256_Of(background)) + "  background.bin\n";
  sums.insert(sums.end(), line.begin(), line.end());
  SaveFileAtomically(backup + "/SHA256SUMS", ByteView(sums));
  ui.Clear();
  dialogs.answers.push_back(backup);
  model->PickMenuEntry(M::MenuToppyCompare);
  ASSERT_EQ(ui.Texts().size(), 2u) << LastText();
  EXPECT_EQ(ui.Texts()[0], kRebootQuestion);
  EXPECT_NE(LastText().find("Background: in neither"), std::string::npos) << LastText();
  EXPECT_NE(LastText().find("The backups are the same."), std::string::npos);
}

}  // namespace
}  // namespace tolv::test
