// New, removal, the Defaults copies, NULL Settings and the SystemID setter and
// box, with the questions answered from a script.
#include "workspace/commands.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"
#include "workspace/flash_settings.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;
using Kind = ScriptedInteraction::Event::Kind;

// Every component present with distinct bytes.
Workspace FullWorkspace() {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 7);
  ws.Image(ComponentKind::Loader) = test::RandomBytes(1, kLoaderImageSize);
  ws.Image(ComponentKind::Firmware) = test::RandomBytes(2, 3000);
  ws.Image(ComponentKind::Defaults) = test::RandomBytes(3, kDefaultsImageSize);
  ws.Image(ComponentKind::Background) = test::RandomBytes(4, kBackgroundImageSize);
  for (ComponentKind kind : kAllComponents) ws.Present(kind) = true;
  return ws;
}

bool AllZero(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

TEST(WorkspaceNew, AsksAndOnYesClearsFlagsIdAndVariantButKeepsBytes) {
  Workspace ws = FullWorkspace();
  const Workspace before = ws;
  ScriptedInteraction ui;
  ui.AnswerQuestion(false);
  EXPECT_EQ(Workspace_New(ws, ui), Outcome::Cancelled("Unload all data?"));
  EXPECT_EQ(ws.present, before.present);
  EXPECT_EQ(ws.systemId, 406);

  ui.AnswerQuestion(true);
  EXPECT_TRUE(Workspace_New(ws, ui));
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unload all data?", "Unload all data?"}));
  EXPECT_FALSE(ws.AnyPresent());
  EXPECT_EQ(ws.systemId, 0);
  EXPECT_EQ(ws.layoutVariant, kLayoutNone);
  // The bytes and the section table stay; only the flags say they are gone.
  // The Firmware, of any size, gives its memory back.
  for (ComponentKind kind : kAllComponents) {
    if (kind != ComponentKind::Firmware) {
      EXPECT_EQ(ws.Image(kind), before.Image(kind));
    }
  }
  EXPECT_EQ(ws.Image(ComponentKind::Firmware).capacity(), 0u);
  EXPECT_EQ(ws.sectionTable, before.sectionTable);
  EXPECT_FALSE(ws.sectionTableMatchesFlash);
}

TEST(WorkspaceNew, AlwaysAsksEvenWhenEmpty) {
  Workspace ws;
  ScriptedInteraction ui;
  EXPECT_FALSE(Workspace_New(ws, ui));
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0].kind, Kind::Question);
}

TEST(WorkspaceUnload, EachComponentAsksItsOwnQuestion) {
  const std::pair<ComponentKind, const char*> cases[] = {
      {ComponentKind::Loader, "Unload loader?"},     {ComponentKind::Firmware, "Unload firmware?"},
      {ComponentKind::Flash, "Unload flash?"},       {ComponentKind::Eeprom, "Unload EEPROM?"},
      {ComponentKind::Defaults, "Unload defaults?"}, {ComponentKind::Background, "Unload background?"}};
  for (auto [kind, question] : cases) {
    SCOPED_TRACE(ComponentName(kind));
    Workspace ws = FullWorkspace();
    const Workspace before = ws;
    ScriptedInteraction ui;
    ui.AnswerQuestion(false);
    EXPECT_EQ(Workspace_Unload(ws, kind, ui), Outcome::Cancelled(question));
    EXPECT_EQ(ws.images, before.images);
    EXPECT_TRUE(ws.Present(kind));

    ui.AnswerQuestion(true);
    EXPECT_TRUE(Workspace_Unload(ws, kind, ui));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{question, question}));
    EXPECT_FALSE(ws.Present(kind));
    EXPECT_TRUE(AllZero(ws.Image(kind)));
    const bool firmware = kind == ComponentKind::Firmware;  // its memory given back
    EXPECT_EQ(ws.Image(kind).size(), firmware ? 0u : before.Image(kind).size());
    if (firmware) {
      EXPECT_EQ(ws.Image(kind).capacity(), 0u);
    }
    // Nothing else changes.
    for (ComponentKind other : kAllComponents) {
      if (other == kind) continue;
      EXPECT_EQ(ws.Image(other), before.Image(other));
      EXPECT_TRUE(ws.Present(other));
    }
    EXPECT_EQ(ws.systemId, 406);
    EXPECT_EQ(ws.layoutVariant, kLayoutDvbS);
  }
}

TEST(WorkspaceUnload, AbsentComponentAsksNothingAndChangesNothing) {
  Workspace ws = FullWorkspace();
  ws.Present(ComponentKind::Loader) = false;
  const Workspace before = ws;
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  EXPECT_EQ(Workspace_Unload(ws, ComponentKind::Loader, ui), Outcome::NothingToDo());
  EXPECT_TRUE(ui.events().empty());
  EXPECT_EQ(ws.images, before.images);
}

TEST(WorkspaceUnload, RemovedFlashNoLongerGetsSectionChecksums) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 1);
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  ASSERT_TRUE(Workspace_Unload(ws, ComponentKind::Flash, ui));
  EXPECT_FALSE(ws.sectionTableMatchesFlash);
}

TEST(DefaultsFromFlash, CopiesSettingsPartAndEepromKeepingThePresentTail) {
  Workspace ws = FullWorkspace();
  const std::vector<uint8_t> oldDefaults = ws.Image(ComponentKind::Defaults);
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  EXPECT_TRUE(Defaults_FromFlash(ws, ui));
  const std::vector<uint8_t>& defaults = ws.Image(ComponentKind::Defaults);
  EXPECT_TRUE(test::SamePrefix(defaults, ws.Image(ComponentKind::Flash), kDefaultsSettingsSize));
  EXPECT_TRUE(std::equal(ws.Image(ComponentKind::Eeprom).begin(), ws.Image(ComponentKind::Eeprom).end(),
                         defaults.begin() + kDefaultsEepromOffset));
  EXPECT_TRUE(std::equal(defaults.begin() + kDefaultsEepromOffset + 256, defaults.end(),
                         oldDefaults.begin() + kDefaultsEepromOffset + 256));
  EXPECT_TRUE(ws.Present(ComponentKind::Defaults));
}

// The bytes of discarded Defaults never come back: after New, the tail that
// the copy does not write is zeros (the window's test covers the other copy).
TEST(DefaultsFromFlash, TheTailIsZerosAfterNew) {
  Workspace ws = FullWorkspace();
  Workspace_Reset(ws);
  ws.Present(ComponentKind::Flash) = ws.Present(ComponentKind::Eeprom) = true;
  ScriptedInteraction ui;
  ASSERT_TRUE(Defaults_FromFlash(ws, ui));
  const std::vector<uint8_t>& defaults = ws.Image(ComponentKind::Defaults);
  EXPECT_TRUE(AllZero(std::vector<uint8_t>(defaults.begin() + kDefaultsEepromOffset + 256, defaults.end())));
}

TEST(DefaultsFromFlash, PresentDefaultsAskAndNoKeepsThem) {
  Workspace ws = FullWorkspace();
  const Workspace before = ws;
  ScriptedInteraction ui;
  ui.AnswerQuestion(false);
  EXPECT_EQ(Defaults_FromFlash(ws, ui), Outcome::Cancelled("Overwrite the existing defaults?"));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Overwrite the existing defaults?"});
  EXPECT_EQ(ws.images, before.images);
}

TEST(DefaultsFromFlash, WithoutFlashOrEepromDoesNothing) {
  Workspace ws = FullWorkspace();
  ws.Present(ComponentKind::Eeprom) = false;
  const Workspace before = ws;
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  EXPECT_EQ(Defaults_FromFlash(ws, ui), Outcome::NothingToDo());
  EXPECT_TRUE(ui.events().empty());
  EXPECT_EQ(ws.images, before.images);
}

TEST(DefaultsToFlash, IntoEmptyWorkspaceAsksNothingAndKeepsTheFlashTail) {
  Workspace ws;
  ws.Image(ComponentKind::Defaults) = test::RandomBytes(9, kDefaultsImageSize);
  ws.Present(ComponentKind::Defaults) = true;
  ScriptedInteraction ui;
  EXPECT_TRUE(Defaults_ToFlash(ws, ui));
  EXPECT_TRUE(ui.events().empty());
  const std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  EXPECT_TRUE(test::SamePrefix(flash, ws.Image(ComponentKind::Defaults), kDefaultsSettingsSize));
  EXPECT_TRUE(
      std::all_of(flash.begin() + kDefaultsSettingsSize, flash.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(ws.Image(ComponentKind::Eeprom).begin(), ws.Image(ComponentKind::Eeprom).end(),
                         ws.Image(ComponentKind::Defaults).begin() + kDefaultsEepromOffset));
  EXPECT_TRUE(ws.Present(ComponentKind::Flash));
  EXPECT_TRUE(ws.Present(ComponentKind::Eeprom));
  EXPECT_EQ(ws.layoutVariant, kLayoutNone);  // not re-derived
  EXPECT_FALSE(ws.sectionTableMatchesFlash);
}

TEST(DefaultsToFlash, EitherPresentAsksAndNoKeepsEverything) {
  for (ComponentKind present : {ComponentKind::Flash, ComponentKind::Eeprom}) {
    Workspace ws;
    ws.Image(ComponentKind::Defaults) = test::RandomBytes(9, kDefaultsImageSize);
    ws.Present(ComponentKind::Defaults) = true;
    ws.Present(present) = true;
    const Workspace before = ws;
    ScriptedInteraction ui;
    EXPECT_EQ(Defaults_ToFlash(ws, ui), Outcome::Cancelled("Overwrite the existing Flash/EEPROM?"));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Overwrite the existing Flash/EEPROM?"});
    EXPECT_EQ(ws.images, before.images);
    EXPECT_EQ(ws.present, before.present);
  }
}

TEST(DefaultsCopies, FlashToDefaultsAndBackRestoresSettingsAndEeprom) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbC, 406, 5);
  const Workspace original = ws;
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  ASSERT_TRUE(Defaults_FromFlash(ws, ui));
  ws.Image(ComponentKind::Flash) = test::RandomBytes(11, kFlashImageSize);
  ws.Image(ComponentKind::Eeprom) = test::RandomBytes(12, kEepromImageSize);
  Flash_DetectLayout(ws);
  ASSERT_TRUE(Defaults_ToFlash(ws, ui));
  EXPECT_TRUE(test::SamePrefix(ws.Image(ComponentKind::Flash), original.Image(ComponentKind::Flash),
                               kDefaultsSettingsSize));
  EXPECT_EQ(ws.Image(ComponentKind::Eeprom), original.Image(ComponentKind::Eeprom));
  // The copied settings have the layout of the table held, so it serves them.
  EXPECT_TRUE(ws.sectionTableMatchesFlash);
}

TEST(DefaultsToFlash, SettingsOfAnotherLayoutDoNotGetTheOldTable) {
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 5);
  std::vector<uint8_t> dvbT = test::SettingsImage(kLayoutDvbT, 6);
  std::copy_n(dvbT.begin(), kDefaultsSettingsSize, ws.Image(ComponentKind::Defaults).begin());
  ws.Present(ComponentKind::Defaults) = true;
  ScriptedInteraction ui;
  ui.AnswerQuestion(true);
  ASSERT_TRUE(Defaults_ToFlash(ws, ui));
  EXPECT_EQ(ws.layoutVariant, kLayoutDvbS);
  EXPECT_FALSE(ws.sectionTableMatchesFlash);
  // So the checksum update leaves the copied settings exactly as they were.
  Flash_UpdateChecksums(ws);
  EXPECT_TRUE(test::SamePrefix(ws.Image(ComponentKind::Flash), dvbT, kDefaultsSettingsSize));
}

TEST(DefaultsNull, ZeroesAllDefaultsAndMakesThemPresentWithoutAsking) {
  for (bool wasPresent : {false, true}) {
    Workspace ws = FullWorkspace();
    ws.Present(ComponentKind::Defaults) = wasPresent;
    EXPECT_TRUE(Defaults_Null(ws));
    EXPECT_TRUE(ws.Present(ComponentKind::Defaults));
    EXPECT_EQ(ws.Image(ComponentKind::Defaults).size(), kDefaultsImageSize);
    EXPECT_TRUE(AllZero(ws.Image(ComponentKind::Defaults)));
  }
}

TEST(SystemIdParse, AcceptsSixteenBitNumbersAndRejectsTheRest) {
  EXPECT_EQ(SystemId_Parse("406"), 406);
  EXPECT_EQ(SystemId_Parse("  65535 "), 65535);
  EXPECT_EQ(SystemId_Parse("0"), 0);
  EXPECT_EQ(SystemId_Parse("+21031"), 21031);
  EXPECT_EQ(SystemId_Parse("$196"), 406);
  EXPECT_EQ(SystemId_Parse("0x5227"), 21031);
  for (const char* bad : {"", " ", "abc", "12a", "4 06", "1.5", "+", "0x", "70000", "65536", "65942", "-1",
                          "-406", "$10000", "99999999999999999999", "99999999999999999999x"}) {
    EXPECT_THROW(SystemId_Parse(bad), SystemIdTextError) << bad;
  }
  try {
    SystemId_Parse("70000");
  } catch (const SystemIdTextError& e) {
    EXPECT_EQ(std::string(e.what()),
              "\"70000\" is not a valid SystemID: a SystemID is a number from 1 to 65535.");
  }
}

TEST(SystemIdSet, StoresAModelNumberAndLeavesTheIdAloneOtherwise) {
  Workspace ws;
  EXPECT_EQ(Workspace_SetSystemId(ws, 406), Outcome::Done());
  EXPECT_EQ(Workspace_SetSystemId(ws, 406), Outcome::Done()) << "the same number again";
  EXPECT_EQ(Workspace_SetSystemId(ws, 0), Outcome::NothingToDo());
  EXPECT_EQ(ws.systemId, 406);
  EXPECT_EQ(Workspace_SetSystemId(ws, 70000),
            Outcome::Failed("70000 is not a valid SystemID: a SystemID is a number from 1 to 65535."));
  EXPECT_TRUE(Workspace_SetSystemId(ws, -1).IsFailed());
  EXPECT_EQ(ws.systemId, 406);
  EXPECT_TRUE(Workspace_SetSystemId(ws, kMaxSystemId));
  EXPECT_EQ(ws.systemId, 65535);
}

TEST(SystemIdAsk, ShowsTheBoxWithTheCurrentValueAndStoresNonZero) {
  Workspace ws;
  ScriptedInteraction ui;
  ui.AnswerInput("21031");
  EXPECT_TRUE(SystemId_Ask(ws, ui));
  EXPECT_EQ(ws.systemId, 21031);
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0], (ScriptedInteraction::Event{Kind::Input, "Enter the targets SystemID."}));
}

// Records the input box's caption and preset, which the scripted interaction
// does not keep.
class BoxRecorder : public ScriptedInteraction {
 public:
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override {
    caption_ = caption;
    preset_ = preset;
    return ScriptedInteraction::InputText(caption, prompt, preset);
  }
  std::string caption_, preset_;
};

TEST(SystemIdAsk, BoxHasItsCaptionAndThePresetIsTheCurrentValue) {
  Workspace ws;
  BoxRecorder ui;
  SystemId_Ask(ws, ui);
  EXPECT_EQ(ui.caption_, "Tolv Pack");
  EXPECT_EQ(ui.preset_, "0");
  ws.systemId = 21031;
  SystemId_Ask(ws, ui);
  EXPECT_EQ(ui.preset_, "21031");
}

TEST(SystemIdAsk, ZeroCancelAndBadTextLeaveTheIdAlone) {
  Workspace ws;
  ws.systemId = 406;
  ScriptedInteraction ui;
  ui.AnswerInput("0");
  EXPECT_EQ(SystemId_Ask(ws, ui), Outcome::NothingToDo());
  EXPECT_EQ(ws.systemId, 406);
  // A cancelled box returns the preset, which is the current value.
  SystemId_Ask(ws, ui);
  EXPECT_EQ(ws.systemId, 406);
  for (const char* bad : {"four", "70000", "-1"}) {
    ui.AnswerInput(bad);
    try {
      SystemId_Ask(ws, ui);
      FAIL() << "no error for " << bad;
    } catch (const SystemIdTextError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos);
    }
    EXPECT_EQ(ws.systemId, 406);
  }
}

}  // namespace
}  // namespace tolv
