// The window model driven as a face drives it: clicks, picks, toggles and
// closes in, views out, with scripted answers, dialogs and a receiver side
// that reports progress and lets the test press buttons in between.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "fake_dialogs.h"
#include "flash/layout.h"
#include "flash/model_list.h"
#include "test_support.h"
#include "window/window_model.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

using C = ControlId;
using M = MenuEntryId;

class FakeFace : public WindowFace {
 public:
  void Render(const WindowView& view) override {
    ++renders;
    shown = view;
  }
  void ProcessPendingMessages() override {
    ++pendingProcessed;
    if (whilePending) whilePending();
  }
  // As a toolkit's close: the window goes only when the model allows it.
  void CloseWindow() override { closed = model->RequestClose(); }
  std::string DecimalSeparator() const override { return separator; }

  WindowModel* model = nullptr;
  int renders = 0;
  int pendingProcessed = 0;
  WindowView shown;
  bool closed = false;
  std::string separator = ".";
  std::function<void()> whilePending;
};

// The receiver side: each transfer reports status 2, then progress until a
// cancel, then asks "Reboot the Toppy?"; a cancel is reported at once as
// status 9, as the link does.
class FakeTransfers : public TransferRunner {
 public:
  DownloadReport FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                           const TransferHooks& hooks) override {
    downloads.push_back(request);
    if (arrive) arrive(workspace);
    if (script) return script(hooks), DownloadReport{};
    Run(ui, hooks);
    return {};
  }
  UploadReport ToToppy(Workspace&, UserInteraction& ui, const UploadRequest& request,
                       const TransferHooks& hooks) override {
    uploads.push_back(request);
    Run(ui, hooks);
    return {};
  }
  void Cancel() override {
    ++cancels;
    if (hooks_) hooks_->progress(9, 0);
  }
  RebootReport Reboot(const std::string& port, const TransferHooks&) override {
    reboots.push_back(port);
    return {};
  }
  std::string UsbDiagnostic() override { return diagnostic; }
  std::string OpenDiagnostic() override { return {}; }
  int32_t TransferSize() override { return 0; }

  std::vector<DownloadRequest> downloads;
  std::vector<UploadRequest> uploads;
  std::vector<std::string> reboots;
  int cancels = 0;
  std::string diagnostic;
  bool fail = false;                                 // the transfer throws half-way
  std::function<void(Workspace&)> arrive;            // what a download stores
  std::function<void(const TransferHooks&)> script;  // a download's statuses instead of the usual

 private:
  void Run(UserInteraction& ui, const TransferHooks& hooks) {
    hooks_ = &hooks;
    hooks.progress(2, 0);
    for (int step = 1; step <= 4 && cancels == 0; ++step) {
      hooks.progress(6, step * 25.0);
      if (fail) throw std::runtime_error("the disk is full");
    }
    hooks_ = nullptr;
    ui.Question("Reboot the Toppy?");
  }
  const TransferHooks* hooks_ = nullptr;
};

class WindowModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tolv::testing::ModelList_Unload();
    Open({});
  }
  void TearDown() override { tolv::testing::ModelList_Unload(); }
  void Open(std::function<std::vector<std::string>()> ports) {
    WindowServices services{&workspace,       &ui,        &dialogs,
                            std::move(ports), &transfers, [this] { return nowMs; }};
    model = std::make_unique<WindowModel>(services, face);
    face.renders = 0;
    face.model = model.get();
    model->FormCreate();
  }
  const ControlView& Shown(C id) const { return face.shown[id]; }

  Workspace workspace;
  ScriptedInteraction ui;
  test::FakeDialogs dialogs;
  FakeTransfers transfers;
  FakeFace face;
  std::unique_ptr<WindowModel> model;
  TempDir dir;
  uint64_t nowMs = 1000;
};

TEST_F(WindowModelTest, StartUpListsUsbThenThePortsFoundAndRendersOnce) {
  Open([] { return std::vector<std::string>{"COM1", "COM3"}; });
  EXPECT_EQ(face.renders, 1);
  EXPECT_EQ(Shown(C::ComboBox1).items, (std::vector<std::string>{"USB", "COM1", "COM3"}));
  EXPECT_EQ(Shown(C::ComboBox2).items, Shown(C::ComboBox1).items);
  EXPECT_EQ(Shown(C::ComboBox2).selected, 0);
  Open([]() -> std::vector<std::string> { throw std::runtime_error("no ports today"); });
  EXPECT_EQ(Shown(C::ComboBox1).items, std::vector<std::string>{"USB"}) << "a failing probe is not fatal";
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(WindowModelTest, AFileCommandAsksForItsFileAndACancelChangesNothing) {
  const int renders = face.renders;
  model->Click(C::ButtonLoadSTD);
  model->PickMenuEntry(M::MenuLoadFlashDMP);
  ASSERT_EQ(dialogs.requests.size(), 2u);
  EXPECT_EQ(dialogs.requests[0].title, "TolvPack: Load a std files");
  EXPECT_EQ(dialogs.requests[1].title, "TolvPack: Load a Flash Dump");
  EXPECT_EQ(face.renders, renders) << "a cancelled dialog does not refresh";
  // Disabled commands do not run, whatever the face passes on.
  model->Click(C::ButtonSaveSTD);
  model->PickMenuEntry(M::MenuSaveFlashBIN);
  model->DoubleClick(C::Label6);
  EXPECT_EQ(dialogs.requests.size(), 2u);
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(WindowModelTest, LoadingAnStdFileLightsFlashEepromAndTheSystemId) {
  Workspace source = SettingsWorkspace(kLayoutDvbS, 406, 7);
  SilentInteraction silent;
  ASSERT_TRUE(STD_Save(source, dir.File("receiver.std"), silent));
  dialogs.answers.push_back(dir.File("receiver.std"));
  model->Click(C::ButtonLoadSTD);
  EXPECT_TRUE(ui.events().empty()) << ui.Texts().front();
  EXPECT_EQ(Shown(C::Label3).colour, 0x00FF00u);
  EXPECT_EQ(Shown(C::Label4).colour, 0x00FF00u);
  EXPECT_EQ(Shown(C::Label9).colour, 0x0000FFu);
  EXPECT_EQ(Shown(C::Label9).caption.substr(0, 5), "406 (");
  EXPECT_EQ(Shown(C::Label6).colour, kColourLayoutLit);
  EXPECT_TRUE(Shown(C::ButtonSaveSTD).enabled);

  dialogs.answers.push_back(dir.File("again.std"));
  model->Click(C::ButtonSaveSTD);
  Workspace reloaded;
  ASSERT_TRUE(STD_Load(reloaded, dir.File("again.std"), ui));
  EXPECT_EQ(reloaded.Image(ComponentKind::Flash), workspace.Image(ComponentKind::Flash));
  EXPECT_EQ(reloaded.Image(ComponentKind::Eeprom), workspace.Image(ComponentKind::Eeprom));
  EXPECT_EQ(reloaded.systemId, 406);
}

// As tolv notes them: the wrong checksums a load brings in, and a set of
// files that a killed save left for the next save into the folder to finish.
TEST_F(WindowModelTest, LoadsNameWrongChecksumsAndSavesNameTheInterruptedSetTheyFinish) {
  std::vector<uint8_t> eeprom = EepromImage(3);
  eeprom[0] ^= 0x01;  // record 1 no longer matches its CRC
  const std::string eepromBin = dir.File("eeprom.bin");
  WriteBytes(eepromBin, eeprom);
  dialogs.answers.push_back(eepromBin);
  model->PickMenuEntry(M::MenuLoadEEPROMBIN);
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0].kind, ScriptedInteraction::Event::Kind::Notice);
  const std::string& text = ui.events()[0].text;
  EXPECT_TRUE(text.starts_with(eepromBin + ": BAD EEPROM record 1 CRC stored 0x")) << text;
  EXPECT_TRUE(text.ends_with("\n" + eepromBin +
                             ": saving an STD file, a TFD file or a flash dump rewrites these checksums."))
      << text;
  // The same file again changes nothing, and says nothing.
  dialogs.answers.push_back(eepromBin);
  model->PickMenuEntry(M::MenuLoadEEPROMBIN);
  EXPECT_EQ(ui.events().size(), 1u);

  // A journal naming one finished temporary: the next save finishes it.
  const std::string hexName = "6f6c642e62696e";                      // "old.bin"
  const std::string hexTemp = "2e746f6c762d736176652d414243444546";  // ".tolv-save-ABCDEF"
  WriteBytes(dir.File(".tolv-save-ABCDEF"), {9, 9});
  const std::string journal = "tolv set 1\n" + hexName + "\t" + hexTemp + "\n";
  WriteBytes(dir.File(".tolv-journal"), std::vector<uint8_t>(journal.begin(), journal.end()));
  dialogs.answers.push_back(dir.File("saved.bin"));
  model->PickMenuEntry(M::MenuSaveEEPROMBIN);
  ASSERT_EQ(ui.events().size(), 2u);
  EXPECT_EQ(ui.events()[1].text, "Finished an interrupted save in \"" + DirectoryOf(dir.File("x")) +
                                     "\": \"" + dir.File("old.bin") +
                                     "\" now hold the contents it was writing.");
  EXPECT_EQ(ReadBytes(dir.File("old.bin")), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(ReadBytes(dir.File("saved.bin")), eeprom);
}

TEST_F(WindowModelTest, RemovingAComponentAsksAndUnchecksOnlyItsSaveBox) {
  workspace.Present(ComponentKind::Eeprom) = true;
  model->Status_Refresh();
  model->SetChecked(C::CheckBox9, true);
  model->SetChecked(C::CheckBox4, true);
  const int renders = face.renders;
  ui.AnswerQuestion(false);
  model->DoubleClick(C::Label4);
  EXPECT_TRUE(workspace.Present(ComponentKind::Eeprom)) << "No keeps it";
  EXPECT_EQ(face.renders, renders);

  ui.AnswerQuestion(true);
  model->PickMenuEntry(M::MenuRemoveEEPROM);
  EXPECT_FALSE(workspace.Present(ComponentKind::Eeprom));
  EXPECT_FALSE(Shown(C::CheckBox9).checked);
  EXPECT_TRUE(Shown(C::CheckBox4).checked) << "the Load box stays";
  EXPECT_EQ(Shown(C::Label4).colour, kColourAbsent);

  model->DoubleClick(C::Label4);  // absent: nothing to ask
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unload EEPROM?", "Unload EEPROM?"}));
}

TEST_F(WindowModelTest, FromToppyLocksTheWindowAndASecondPressCancels) {
  Open([] { return std::vector<std::string>{"COM1"}; });
  workspace.present.fill(true);
  for (C box : {C::CheckBox1, C::CheckBox3, C::CheckBox13, C::CheckBox11}) model->SetChecked(box, true);
  model->SelectItem(C::ComboBox1, 1);
  model->SelectItem(C::ComboBox1, 7);  // not in the list: ignored
  workspace.systemId = 0;
  transfers.arrive = [](Workspace& ws) { ws.systemId = 406; };
  bool checked = false;
  face.whilePending = [&] {
    if (checked) return;
    checked = true;
    EXPECT_TRUE(model->TransferBusy());
    EXPECT_EQ(Shown(C::Label9).caption, "") << "the display is refreshed at the end";
    EXPECT_EQ(Shown(C::ButtonLoadFromToppy).caption, "Cancel transfer");
    EXPECT_TRUE(Shown(C::ButtonLoadFromToppy).enabled);
    EXPECT_FALSE(Shown(C::ButtonSaveToToppy).enabled);
    EXPECT_TRUE(Shown(C::ButtonNew).enabled);
    model->PickMenuEntry(M::MenuDefaultsNULLSettings);  // runs in between, refreshes
    EXPECT_FALSE(Shown(C::ButtonSaveTFD).enabled) << "the lock outlasts a refresh";
    model->Click(C::ButtonSaveSTD);  // locked: ignored
    EXPECT_TRUE(dialogs.requests.empty());
    model->Click(C::ButtonLoadFromToppy);  // "Cancel transfer"
    EXPECT_EQ(Shown(C::ButtonLoadFromToppy).caption, "From Toppy") << "back once the link reports it";
    EXPECT_TRUE(model->TransferBusy());
  };
  model->Click(C::ButtonLoadFromToppy);
  EXPECT_TRUE(checked);
  EXPECT_EQ(transfers.cancels, 1);
  ASSERT_EQ(transfers.downloads.size(), 1u);
  const DownloadRequest& request = transfers.downloads[0];
  EXPECT_EQ(request.port, "COM1");
  EXPECT_EQ(request.selection, (ComponentSelection{true, false, true, false, false, false}))
      << "the Background is never fetched";
  EXPECT_TRUE(request.log);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Reboot the Toppy?"});
  EXPECT_FALSE(model->TransferBusy());
  EXPECT_EQ(Shown(C::Label10).caption, "-");
  EXPECT_EQ(Shown(C::PB1).position, 0);
  EXPECT_EQ(Shown(C::ButtonLoadFromToppy).caption, "From Toppy");
  EXPECT_EQ(Shown(C::Label9).caption.substr(0, 5), "406 (");
  EXPECT_TRUE(Shown(C::ButtonSaveTFD).enabled);
  EXPECT_TRUE(Shown(C::ButtonLoadSTD).enabled);
  EXPECT_TRUE(face.shown.Enabled(M::MenuLoadFlashDMP));
}

// The second click of a double-click on a transfer button arrives while the
// transfer runs: within the double-click time of the press that started it,
// it is not a cancel; a later press is. The input clock may wrap in between.
TEST_F(WindowModelTest, ADoubleClickOnATransferButtonStartsOneTransferAndCancelsNothing) {
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.systemId = 406;
  struct Case {
    C button;
    uint32_t start;
    std::vector<uint32_t> laterPresses;  // ms after the start
    int cancels;
  };
  const Case cases[] = {
      {C::ButtonLoadFromToppy, 1000, {200}, 0},
      {C::ButtonLoadFromToppy, 0xFFFFFF00u, {300}, 0},  // across the wrap
      {C::ButtonSaveToToppy, 5000, {499, 500}, 1},      // 500 ms is no longer the double-click
      {C::ButtonLoadFromToppy, 5000, {2000}, 1},
  };
  for (const Case& c : cases) {
    transfers.cancels = 0;
    transfers.downloads.clear();
    transfers.uploads.clear();
    size_t next = 0;
    face.whilePending = [&] {
      if (next < c.laterPresses.size()) model->Click(c.button, c.start + c.laterPresses[next++], 500);
    };
    model->Click(c.button, c.start, 500);
    EXPECT_EQ(transfers.downloads.size() + transfers.uploads.size(), 1u);
    EXPECT_EQ(transfers.cancels, c.cancels) << c.laterPresses.size();
    EXPECT_FALSE(model->TransferBusy());
  }
}

TEST_F(WindowModelTest, ToToppyAsksForAMissingSystemIdFirstAndKeepsItsCancelCaption) {
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.Present(ComponentKind::Flash) = true;
  model->Status_Refresh();
  model->SetChecked(C::CheckBox9, true);
  model->SetChecked(C::CheckBox12, true);
  ui.AnswerInput("406");
  face.whilePending = [&] {
    if (transfers.cancels > 0) return;
    model->Click(C::ButtonSaveToToppy);
    EXPECT_EQ(Shown(C::ButtonSaveToToppy).caption, "Cancel transfer") << "until the upload winds down";
  };
  model->Click(C::ButtonSaveToToppy);
  EXPECT_EQ(workspace.systemId, 406);
  ASSERT_EQ(ui.events().size(), 2u);
  EXPECT_EQ(ui.events()[0].kind, ScriptedInteraction::Event::Kind::Input);
  ASSERT_EQ(transfers.uploads.size(), 1u);
  EXPECT_FALSE(transfers.uploads[0].askForSystemId) << "asked once, before the lock";
  EXPECT_EQ(transfers.uploads[0].port, "USB");
  EXPECT_EQ(transfers.uploads[0].selection, (ComponentSelection{false, false, false, true, false, false}));
  EXPECT_TRUE(transfers.uploads[0].log);
  EXPECT_EQ(Shown(C::ButtonSaveToToppy).caption, "To Toppy");
  EXPECT_EQ(Shown(C::Label9).caption.substr(0, 5), "406 (");
}

// Records whether a question came as one with No for its default.
class DefaultNoInteraction : public ScriptedInteraction {
 public:
  bool QuestionDefaultNo(const std::string& text) override {
    defaultNo.push_back(text);
    return Question(text);
  }
  std::vector<std::string> defaultNo;
};

TEST_F(WindowModelTest, ClosingDuringATransferCancelsItWindsDownAndAsksNothing) {
  face.whilePending = [&] {
    if (transfers.cancels == 0) {
      EXPECT_FALSE(model->RequestClose()) << "not in the middle of a transfer";
    }
  };
  model->Click(C::ButtonLoadFromToppy);
  EXPECT_EQ(transfers.cancels, 1);
  EXPECT_TRUE(ui.events().empty()) << "no \"Reboot the Toppy?\" while closing";
  EXPECT_TRUE(face.closed) << "closed once the transfer wound down";
  EXPECT_FALSE(model->TransferBusy());

  // Until then a transfer's questions pass on as they are asked.
  DefaultNoInteraction inner;
  bool closing = false;
  ClosingInteraction closingUi(inner, closing);
  inner.AnswerQuestion(true);
  EXPECT_TRUE(closingUi.QuestionDefaultNo("Send it anyway?"));
  EXPECT_EQ(inner.defaultNo, std::vector<std::string>{"Send it anyway?"});
  closing = true;
  EXPECT_FALSE(closingUi.QuestionDefaultNo("Send it anyway?"));
  EXPECT_EQ(closingUi.InputText("Tolv Pack", "Enter the targets SystemID.", "0"), "0");
  EXPECT_EQ(inner.events().size(), 1u);

  face.closed = false;
  model->PickMenuEntry(M::MenuFileExit);
  EXPECT_TRUE(face.closed) << "Exit outside a transfer closes at once";
}

TEST_F(WindowModelTest, AnErrorEndsTheCommandAndTheWindowGoesOn) {
  transfers.fail = true;
  model->Click(C::ButtonLoadFromToppy);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"the disk is full"});
  EXPECT_FALSE(model->TransferBusy()) << "the transfer wound down";
  EXPECT_EQ(Shown(C::Label10).caption, "-");
  EXPECT_TRUE(Shown(C::ButtonLoadSTD).enabled);

  model->RunGuarded([] { throw 42; });
  EXPECT_EQ(ui.Texts().back(), "An unexpected error ended the command.");
  ui.AnswerInput("4O6");
  model->PickMenuEntry(M::MenuFileChangeSysID);
  EXPECT_NE(ui.Texts().back().find("4O6"), std::string::npos) << "text that is no number is told";
  EXPECT_EQ(workspace.systemId, 0);
}

TEST_F(WindowModelTest, ProgressShowsTheUsersSeparatorAndWhyUsbCannotBeUsed) {
  face.separator = ",";
  const int pending = face.pendingProcessed;
  model->Transfer_Progress(6, 42.5);
  EXPECT_EQ(Shown(C::Label10).caption, "42,5% done");
  EXPECT_EQ(Shown(C::PB1).position, 42);
  transfers.diagnostic = "its interface is held by another program";
  model->Transfer_Progress(1, 0);
  EXPECT_EQ(Shown(C::Label10).caption, "Waiting for USB interface");
  EXPECT_EQ(Shown(C::Label10).hint,
            "Receiver found but not usable: its interface is held by another program.");
  model->Transfer_Progress(10, 0);
  EXPECT_EQ(Shown(C::Label10).caption, "Waiting for USB interface") << "0 and above 9 keep the text";
  EXPECT_EQ(Shown(C::Label10).hint, "");
  EXPECT_EQ(face.pendingProcessed, pending + 3) << "every step lets the window's messages through";
}

// The status line keeps the link's texts; once the receiver has not answered
// for a while, its hint says what to check, until the receiver answers.
TEST_F(WindowModelTest, ASilentReceiverGetsAHintAfterAWhile) {
  Open([] { return std::vector<std::string>{"COM7"}; });
  model->SelectItem(C::ComboBox1, 1);
  std::vector<std::pair<std::string, std::string>> seen;
  transfers.script = [&](const TransferHooks& hooks) {
    const std::pair<uint64_t, uint8_t> steps[] = {{0, 2},     {2999, 8},  {3000, 2},
                                                  {60000, 2}, {60001, 3}, {60002, 7}};
    for (const auto& [atMs, status] : steps) {
      nowMs = 1000 + atMs;
      hooks.progress(status, 0);
      seen.emplace_back(Shown(C::Label10).caption, Shown(C::Label10).hint);
    }
  };
  model->Click(C::ButtonLoadFromToppy);
  const std::string hint = Transfer_SilentReceiverHint("COM7");
  EXPECT_EQ(
      hint,
      "Waiting for the receiver on COM7: switch it on or reconnect the cable; \"Cancel transfer\" stops.");
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"Device opened", ""},
                                                                    {"Device closed", ""},
                                                                    {"Device opened", hint},
                                                                    {"Device opened", hint},
                                                                    {"Set to download mode", ""},
                                                                    {"End of communication", ""}}));
  EXPECT_EQ(Shown(C::Label10).hint, "");
}

TEST_F(WindowModelTest, AnUnreadableModelListIsToldOnce) {
  WriteBytes(dir.File("Firmware.dat"), std::vector<uint8_t>(400, 0));
  ScopedCurrentDir cwd(dir.path());
  UnreadableFile unreadable(dir.File("Firmware.dat"));
  if (!unreadable.active()) GTEST_SKIP() << "no unreadable file can be made here";
  tolv::testing::ModelList_Unload();
  workspace.systemId = 406;
  model->Status_Refresh();
  model->Status_Refresh();
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_NE(ui.events()[0].text.find("Firmware.dat"), std::string::npos);
  EXPECT_EQ(Shown(C::Label9).caption, "406 (unknown SysID=406)") << "the display is complete";
}

}  // namespace
}  // namespace tolv::test
