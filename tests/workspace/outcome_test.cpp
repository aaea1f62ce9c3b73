// Outcomes of the file loads and saves against what the user was told: a
// failed outcome's reasons are exactly the messages shown, in order, and a
// done one comes with no message at all.
#include "workspace/outcome.h"

#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"
#include "tfd/tfd_store.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;
using Kind = ScriptedInteraction::Event::Kind;

TEST(Outcome, MergeKeepsTheGraverKindAndEveryReasonInOrder) {
  Outcome outcome = Outcome::NothingToDo();
  EXPECT_EQ(outcome.Merge(Outcome::Done()), Outcome::Done());
  EXPECT_EQ(outcome.Merge(Outcome::NothingToDo()), Outcome::Done());
  outcome.Merge(Outcome::Cancelled("Unload flash?"));
  EXPECT_TRUE(outcome.IsCancelled());
  outcome.Merge(Outcome::Failed("a")).Merge(Outcome::Cancelled("b")).Merge(Outcome::Done());
  EXPECT_TRUE(outcome.IsFailed());
  EXPECT_EQ(outcome.Text(), "Unload flash?; a; b");
  EXPECT_TRUE(outcome.Stops());
  EXPECT_FALSE(Outcome::NothingToDo().Stops());
  EXPECT_FALSE(static_cast<bool>(Outcome::NothingToDo())) << "true only when done";
}

// The messages (information and plain) a command showed, leaving out
// notices and questions.
std::vector<std::string> Shown(const ScriptedInteraction& ui) {
  std::vector<std::string> texts;
  for (const ScriptedInteraction::Event& event : ui.events())
    if (event.kind == Kind::Information || event.kind == Kind::Message) texts.push_back(event.text);
  return texts;
}

// Runs command on workspace and checks its outcome against what it showed.
void ExpectTold(const std::string& name, Workspace& workspace,
                const std::function<Outcome(Workspace&, UserInteraction&)>& command, OutcomeKind expected,
                size_t messages) {
  ScriptedInteraction ui;
  const Outcome outcome = command(workspace, ui);
  EXPECT_EQ(outcome.kind, expected) << name;
  EXPECT_EQ(outcome.reasons, Shown(ui)) << name;
  EXPECT_EQ(outcome.reasons.size(), messages) << name;
}

TEST(Outcome, LoadsAndSavesGiveExactlyTheMessagesTheyShowed) {
  test::TempDir dir;
  const std::string small = dir.File("small.bin");
  test::WriteBytes(small, std::vector<uint8_t>(1000, 0x11));
  test::WriteBytes(dir.File("zeros.std"), std::vector<uint8_t>(kStdFileSize, 0));
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 3);
  for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Flash, ComponentKind::Eeprom,
                             ComponentKind::Defaults, ComponentKind::Background}) {
    ExpectTold(
        ComponentName(kind), ws,
        [&](Workspace& w, UserInteraction& ui) { return Component_LoadBin(w, kind, small, ui); },
        OutcomeKind::kFailed, 1);
  }
  const auto failed = OutcomeKind::kFailed;
  ExpectTold(
      "firmware", ws,
      [&](auto& w, auto& ui) { return Component_LoadBin(w, ComponentKind::Firmware, small, ui); },
      OutcomeKind::kDone, 0);
  ExpectTold(
      "std size", ws, [&](auto& w, auto& ui) { return STD_Load(w, small, ui); }, failed, 1);
  ExpectTold(
      "std unpack", ws, [&](auto& w, auto& ui) { return STD_Load(w, dir.File("zeros.std"), ui); }, failed, 1);
  ExpectTold(
      "dump size", ws, [&](auto& w, auto& ui) { return FlashDump_Load(w, small, ui); }, failed, 1);
  for (const char* name : {"no block.bin", "x [ab].bin", "x [14].bin"}) {
    ExpectTold(
        name, ws, [&](auto& w, auto& ui) { return FlashBlock_Load(w, dir.File(name), ui); }, failed, 1);
  }
  ExpectTold(
      "std save", ws, [&](auto& w, auto& ui) { return STD_Save(w, dir.File("ok.std"), ui); },
      OutcomeKind::kDone, 0);
  ExpectTold(
      "std load", ws, [&](auto& w, auto& ui) { return STD_Load(w, dir.File("ok.std"), ui); },
      OutcomeKind::kDone, 0);
  // A model without a header template of its own cannot be packed for.
  Workspace unlisted = test::SettingsWorkspace(kLayoutDvbS, 416, 3);
  ExpectTold(
      "dump pack", unlisted, [&](auto& w, auto& ui) { return FlashDump_Save(w, dir.File("u.dmp"), ui); },
      failed, 1);
  ExpectTold(
      "std pack", unlisted, [&](auto& w, auto& ui) { return STD_Save(w, dir.File("u.std"), ui); }, failed, 1);
  unlisted.systemId = 0;
  ExpectTold(
      "std no id", unlisted, [&](auto& w, auto& ui) { return STD_Save(w, dir.File("u.std"), ui); }, failed,
      1);
  ExpectTold(
      "tfd no id", unlisted, [&](auto& w, auto& ui) { return TFD_Export(w, dir.File("u.tfd"), ui); }, failed,
      1);
}

TEST(Outcome, ATfdImportNamesEveryBlockItRefusedAndKeepsTheRest) {
  test::TempDir dir;
  auto store = std::make_unique<TfdStore>();
  const std::vector<uint8_t> loader = test::RandomBytes(5, kLoaderImageSize);
  TFD_SetBlock(*store, 0, loader.data(), loader.size());
  const std::vector<uint8_t> wrong(100, 0x22);
  TFD_SetBlock(*store, 3, wrong.data(), wrong.size());  // an EEPROM of the wrong size
  TFD_SetBlock(*store, 5, wrong.data(), wrong.size());  // and a Background
  ASSERT_EQ(TFD_SaveToFile(*store, dir.File("two.tfd"), 406), 0);
  Workspace ws;
  ExpectTold(
      "two bad blocks", ws, [&](auto& w, auto& ui) { return TFD_Import(w, *store, dir.File("two.tfd"), ui); },
      OutcomeKind::kFailed, 2);
  EXPECT_TRUE(ws.Present(ComponentKind::Loader));
  EXPECT_FALSE(ws.Present(ComponentKind::Eeprom));
  ExpectTold(
      "missing", ws, [&](auto& w, auto& ui) { return TFD_Import(w, *store, dir.File("none.tfd"), ui); },
      OutcomeKind::kFailed, 1);
}

}  // namespace
}  // namespace tolv
