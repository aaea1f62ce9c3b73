// The table of file forms: every form a save writes is inspected as the
// form its row names and loads back to the same settings, and a save the
// table refuses is refused for a workspace that lacks what it needs.
#include "workspace/file_forms.h"

#include <gtest/gtest.h>

#include "flash/layout.h"
#include "test_support.h"
#include "workspace/availability.h"
#include "workspace/bin_files.h"
#include "workspace/file_inspection.h"
#include "workspace/flash_files.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

TEST(FileFormTable, EverySaveIsInspectedAsItsFormAndLoadsBack) {
  test::TempDir dir;
  const Workspace original = test::SettingsWorkspace(kLayoutDvbS, 406, 7);
  for (const FileForm& form : FileForms()) {
    if (!form.save) continue;
    SCOPED_TRACE(form.extension);
    Workspace ws = original;
    test::ScriptedInteraction ui;
    const std::string path = dir.File(std::string("out.") + form.extension);
    ASSERT_FALSE(form.saveRefusal(ws));
    ASSERT_TRUE(form.save(ws, path, ui));
    const std::string written = form.outputName ? form.outputName(path) : path;
    EXPECT_EQ(FindFileForm(written), &form);
    const FileReport report = InspectFile(written);
    EXPECT_EQ(report.form, form.inspectedAs);
    EXPECT_TRUE(report.AllOk()) << report.problems.size() << " problems";
    Workspace loaded;
    ASSERT_TRUE(form.load(loaded, written, ui));
    EXPECT_TRUE(loaded.Present(ComponentKind::Flash));
    EXPECT_TRUE(test::SamePrefix(loaded.Image(ComponentKind::Flash), original.Image(ComponentKind::Flash),
                                 kDefaultsSettingsSize));
  }
}

TEST(FileFormTable, BinAndBlockFilesAreInspectedAsTheirRowsSay) {
  test::TempDir dir;
  const Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 7);
  test::ScriptedInteraction ui;
  Component_SaveBin(ws, ComponentKind::Eeprom, dir.File("e.bin"));
  EXPECT_EQ(InspectComponentBin(dir.File("e.bin"), ComponentKind::Eeprom).form,
            std::string("EEPROM ") + FileFormOf(FileFormId::ComponentBin).inspectedAs);
  const FlashBlocksSaved saved = FlashBlocks_Save(ws, dir.File("b.bin"), ui);
  ASSERT_TRUE(saved.outcome);
  ASSERT_FALSE(saved.written.empty());
  EXPECT_EQ(InspectFile(saved.written.front()).form, FileFormOf(FileFormId::FlashBlocks).inspectedAs);
}

TEST(FileFormTable, RefusalsNameWhatIsMissing) {
  const Workspace empty;
  Workspace eepromOnly;
  eepromOnly.Present(ComponentKind::Eeprom) = true;
  for (const FileForm& form : FileForms()) {
    if (!form.saveRefusal) continue;
    SCOPED_TRACE(form.extension);
    EXPECT_TRUE(form.saveRefusal(empty));
    EXPECT_EQ(form.saveRefusal(eepromOnly).has_value(), form.id != FileFormId::Tfd);
    EXPECT_FALSE(form.saveRefusal(test::SettingsWorkspace(kLayoutDvbS, 406, 7)));
  }
  EXPECT_EQ(SaveBin_Refusal(empty, ComponentKind::Loader),
            "The Loader is not present: there is nothing to save.");
  EXPECT_TRUE(FlashToDefaults_Refusal(eepromOnly));
  EXPECT_TRUE(DefaultsToFlash_Refusal(eepromOnly));
  EXPECT_FALSE(ToToppy_Refusal(eepromOnly));
}

TEST(FileFormTable, OnlyWholeFileFormsAreNamedByExtension) {
  EXPECT_EQ(FindFileForm("/a/B.STD"), &FileFormOf(FileFormId::Std));
  EXPECT_EQ(FindFileForm("x.Dmp"), &FileFormOf(FileFormId::FlashDump));
  EXPECT_EQ(FindFileForm("x.tfd"), &FileFormOf(FileFormId::Tfd));
  EXPECT_EQ(FindFileForm("x.bin"), nullptr);
  EXPECT_EQ(FindFileForm("std"), nullptr);
  for (const FileForm& form : FileForms()) EXPECT_EQ(&FileFormOf(form.id), &form);
}

}  // namespace
}  // namespace tolv
