// The view as a function of the workspace and the window's state: colours,
// captions, what is offered, and what a transfer locks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "flash/layout.h"
#include "flash/model_list.h"
#include "test_support.h"
#include "window/view.h"

namespace tolv::test {
namespace {

using C = ControlId;
using M = MenuEntryId;

// The names of the controls and menu entries the view disables.
std::set<std::string> Disabled(const WindowView& view) {
  std::set<std::string> names;
  for (const ControlDesign& design : ControlTable())
    if (!view[design.id].enabled) names.insert(design.name);
  for (size_t i = 0; i < kMenuEntryCount; ++i)
    if (!view.menuEnabled[i]) names.insert(MenuEntry(static_cast<M>(i)).name);
  return names;
}

const std::set<std::string> kSaveSide = {"ButtonSaveSTD",
                                         "ButtonSaveTFD",
                                         "ButtonSaveToToppy",
                                         "CheckBox6",
                                         "CheckBox7",
                                         "CheckBox8",
                                         "CheckBox9",
                                         "CheckBox10",
                                         "CheckBox14",
                                         "MenuSaveLoaderBIN",
                                         "MenuSaveFirmwareBIN",
                                         "MenuSaveFlashBIN",
                                         "MenuSaveEEPROMBIN",
                                         "MenuSaveDefaultsBIN",
                                         "MenuSaveBackgroundBIN",
                                         "MenuSaveFlashDMP",
                                         "MenuSaveFlashBlocks",
                                         "MenuFlashEEPROMDefaults",
                                         "MenuDefaultsFlashEEPROM"};

class WindowViewTest : public ::testing::Test {
 protected:
  void SetUp() override { tolv::testing::ModelList_Unload(); }
  void TearDown() override { tolv::testing::ModelList_Unload(); }
  WindowView View() const { return Window_View(workspace, state); }
  Workspace workspace;
  WindowState state;
};

TEST_F(WindowViewTest, AnEmptyWorkspaceOffersOnlyTheLoadSide) {
  const WindowView view = View();
  for (C label : {C::Label1, C::Label2, C::Label3, C::Label4, C::Label5, C::Label11})
    EXPECT_EQ(view[label].colour, kColourAbsent) << Control(label).name;
  for (C label : {C::Label6, C::Label7, C::Label8}) EXPECT_EQ(view[label].colour, kColourLayoutUnlit);
  EXPECT_EQ(view[C::Label9].colour, kColourSystemIdUnset);
  EXPECT_EQ(view[C::Label9].caption, "") << "the stored caption is never shown";
  EXPECT_EQ(view[C::Label10].caption, "-");
  EXPECT_EQ(view[C::PB1].position, 0);
  EXPECT_EQ(view[C::ButtonLoadFromToppy].caption, "From Toppy");
  EXPECT_EQ(view[C::ButtonSaveToToppy].caption, "To Toppy");
  EXPECT_EQ(view[C::ComboBox1].items, std::vector<std::string>{"USB"});
  EXPECT_EQ(view[C::ComboBox2].selected, 0);
  EXPECT_EQ(Disabled(view), kSaveSide);
  EXPECT_EQ(view.modelListError, "");
  for (const ControlDesign& design : ControlTable()) EXPECT_FALSE(view[design.id].checked) << design.name;
}

TEST_F(WindowViewTest, SavingIsOfferedForWhatIsPresentWithTheReasonWhenNot) {
  using S = std::set<std::string>;
  auto offered = [&] {
    S names;
    for (const std::string& name : kSaveSide)
      if (!Disabled(View()).contains(name)) names.insert(name);
    return names;
  };
  workspace.Present(ComponentKind::Flash) = true;
  EXPECT_EQ(offered(), (S{"ButtonSaveTFD", "ButtonSaveToToppy", "CheckBox8", "MenuSaveFlashBIN",
                          "MenuSaveFlashDMP", "MenuSaveFlashBlocks"}));
  EXPECT_EQ(Command_Refusal(CommandId::SaveStd, workspace),
            "Saving an STD file needs both the Flash and the EEPROM.");
  EXPECT_EQ(Command_Refusal(CommandId::FlashToDefaults, workspace),
            "Flash && EEPROM => Defaults needs both the Flash and the EEPROM.");
  EXPECT_EQ(Command_Refusal(CommandId::SaveEepromBin, workspace),
            "The EEPROM is not present: there is nothing to save.");

  workspace.Present(ComponentKind::Eeprom) = true;
  EXPECT_EQ(offered(), (S{"ButtonSaveSTD", "ButtonSaveTFD", "ButtonSaveToToppy", "CheckBox8", "CheckBox9",
                          "MenuSaveFlashBIN", "MenuSaveEEPROMBIN", "MenuSaveFlashDMP", "MenuSaveFlashBlocks",
                          "MenuFlashEEPROMDefaults"}));
  EXPECT_EQ(Command_Refusal(CommandId::DefaultsToFlash, workspace),
            "Defaults => Flash && EEPROM needs the Defaults.");

  workspace.present = {};
  workspace.Present(ComponentKind::Background) = true;
  EXPECT_EQ(offered(), (S{"ButtonSaveTFD", "ButtonSaveToToppy", "CheckBox14", "MenuSaveBackgroundBIN"}));
  EXPECT_EQ(Command_Refusal(CommandId::SaveFlashDump, workspace), "Saving a flash dump needs the Flash.");
  EXPECT_EQ(Command_Refusal(CommandId::SaveFlashBlocks, workspace),
            "The Flash is not present: there is nothing to save.");
  EXPECT_EQ(View()[C::Label11].colour, kColourPresent);

  workspace.present = {};
  workspace.Present(ComponentKind::Defaults) = true;
  EXPECT_EQ(offered(), (S{"ButtonSaveTFD", "ButtonSaveToToppy", "CheckBox10", "MenuSaveDefaultsBIN",
                          "MenuDefaultsFlashEEPROM"}));

  workspace.present = {};
  EXPECT_EQ(Command_Refusal(CommandId::SaveTfd, workspace),
            "Saving a TFD file needs at least one component.");
  EXPECT_EQ(Command_Refusal(CommandId::ToToppy, workspace),
            "Sending to the receiver needs at least one component.");
  for (CommandId always :
       {CommandId::LoadStd, CommandId::New, CommandId::NullDefaults, CommandId::UnloadFlash,
        CommandId::ChangeSysId, CommandId::FromToppy, CommandId::Exit})
    EXPECT_TRUE(Command_Available(always, workspace)) << Index(always);
}

TEST_F(WindowViewTest, TheRecognisedLayoutIsLitWhileTheFlashIsPresent) {
  // Settings of no known layout (a dump of an unknown receiver) keep the
  // variant of an earlier image, but light nothing.
  const C labels[] = {C::Label6, C::Label7, C::Label8};
  for (bool flash : {true, false}) {
    for (bool recognised : {true, false}) {
      workspace.Present(ComponentKind::Flash) = flash;
      workspace.sectionTableMatchesFlash = recognised;
      for (uint8_t variant = kLayoutNone; variant <= kLayoutDvbC; ++variant) {
        workspace.layoutVariant = variant;
        const WindowView view = View();
        for (int i = 0; i < 3; ++i)
          EXPECT_EQ(view[labels[i]].colour,
                    flash && recognised && variant == i + 1 ? kColourLayoutLit : kColourLayoutUnlit)
              << "flash " << flash << " recognised " << recognised << " variant " << int(variant);
      }
    }
  }
}

TEST_F(WindowViewTest, TheSystemIdLabelNamesTheModelOrTellsTheListsError) {
  TempDir dir;
  std::vector<uint8_t> file(20 + 348, 0);
  file[15] = 1;                      // one model record
  file[20] = 0x01, file[21] = 0x96;  // SystemID 406
  std::memcpy(&file[24], "TF 5000 Test", 12);
  WriteBytes(dir.File("Firmware.dat"), file);
  ScopedCurrentDir cwd(dir.path());

  workspace.systemId = 406;
  EXPECT_EQ(View()[C::Label9].caption, "406 (TF 5000 Test)");
  EXPECT_EQ(View()[C::Label9].colour, kColourSystemIdSet);
  workspace.systemId = 416;
  EXPECT_EQ(View()[C::Label9].caption, "416 (unknown SysID=416)");

  tolv::testing::ModelList_Unload();
  UnreadableFile unreadable(dir.File("Firmware.dat"));
  if (!unreadable.active()) GTEST_SKIP() << "no unreadable file can be made here";
  workspace.systemId = 406;
  const WindowView view = View();
  EXPECT_EQ(view[C::Label9].caption, "406 (unknown SysID=406)");
  EXPECT_NE(view.modelListError.find("Firmware.dat"), std::string::npos) << view.modelListError;
}

TEST_F(WindowViewTest, ATransferLocksExactlyItsSetAndKeepsItsButtonForTheCancel) {
  workspace.present.fill(true);
  EXPECT_TRUE(Disabled(View()).empty());
  state.controlsLocked = true;
  state.transfer = TransferKind::FromToppy;
  const std::set<std::string> locked = {"ButtonLoadSTD",
                                        "ButtonLoadTFD",
                                        "ButtonSaveSTD",
                                        "ButtonSaveTFD",
                                        "ButtonSaveToToppy",
                                        "CheckBox1",
                                        "CheckBox2",
                                        "CheckBox3",
                                        "CheckBox4",
                                        "CheckBox5",
                                        "CheckBox13",
                                        "CheckBox6",
                                        "CheckBox7",
                                        "CheckBox8",
                                        "CheckBox9",
                                        "CheckBox10",
                                        "CheckBox14",
                                        "MenuLoadLoaderBIN",
                                        "MenuLoadFirmwareBIN",
                                        "MenuLoadFlashBIN",
                                        "MenuLoadEEPROMBIN",
                                        "MenuLoadDefaultsBIN",
                                        "MenuLoadBackgroundBIN",
                                        "MenuLoadFlashDMP",
                                        "MenuLoadFlashBlock",
                                        "MenuSaveLoaderBIN",
                                        "MenuSaveFirmwareBIN",
                                        "MenuSaveFlashBIN",
                                        "MenuSaveEEPROMBIN",
                                        "MenuSaveDefaultsBIN",
                                        "MenuSaveBackgroundBIN",
                                        "MenuSaveFlashDMP",
                                        "MenuSaveFlashBlocks",
                                        "MenuToppyBackUp",
                                        "MenuToppyRestore",
                                        "MenuToppyCompare"};
  EXPECT_EQ(Disabled(View()), locked);
  EXPECT_EQ(View()[C::ButtonLoadFromToppy].caption, kCancelTransferCaption);
  state.fromToppyCaptionRestored = true;  // the link reported the cancel
  EXPECT_EQ(View()[C::ButtonLoadFromToppy].caption, "From Toppy");
  EXPECT_TRUE(View()[C::ButtonLoadFromToppy].enabled) << "a further press still only cancels";

  std::set<std::string> uploadLocked = locked;
  uploadLocked.erase("ButtonSaveToToppy");
  uploadLocked.insert("ButtonLoadFromToppy");
  state.transfer = TransferKind::ToToppy;
  EXPECT_EQ(Disabled(View()), uploadLocked);
  EXPECT_EQ(View()[C::ButtonSaveToToppy].caption, kCancelTransferCaption) << "until the upload winds down";
  EXPECT_EQ(View()[C::ButtonLoadFromToppy].caption, "From Toppy");

  // A command in between (New) leaves the lock as it is; the Defaults copies
  // follow the workspace.
  workspace.present = {};
  uploadLocked.insert({"MenuFlashEEPROMDefaults", "MenuDefaultsFlashEEPROM"});
  EXPECT_EQ(Disabled(View()), uploadLocked);
}

TEST_F(WindowViewTest, TheStateShowsAsItIs) {
  state.checked[Index(C::CheckBox3)] = true;
  state.checked[Index(C::CheckBox12)] = true;
  state.ports = {"USB", "COM1", "COM3"};
  state.savePort = 2;
  state.statusText = "42.5% done\r";
  state.statusHint = "why";
  state.progress = 142;
  const WindowView view = View();
  EXPECT_TRUE(view[C::CheckBox3].checked);
  EXPECT_TRUE(view[C::CheckBox12].checked);
  EXPECT_FALSE(view[C::CheckBox8].checked);
  EXPECT_EQ(view[C::ComboBox1].items, state.ports);
  EXPECT_EQ(view[C::ComboBox1].selected, 0);
  EXPECT_EQ(view[C::ComboBox2].selected, 2);
  EXPECT_EQ(view[C::Label10].caption, "42.5% done") << "one line";
  EXPECT_EQ(view[C::Label10].hint, "why");
  EXPECT_EQ(view[C::PB1].position, kProgressMax);
}

}  // namespace
}  // namespace tolv::test
