// Settings and defaults whose chunks compress to exactly their own length go
// out through the window's save commands and come back through its loads.
#include <QAction>
#include <QPushButton>

#include <optional>

#include "codec/block_codec.h"
#include "flash/checksums.h"
#include "flash/packing.h"
#include "flash_test_util.h"
#include "ui_test_support.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

TEST_F(WindowTest, ChunksAsLongAsTheirStreamGoThroughTfdAndDumpAndBack) {
  const std::optional<std::vector<uint8_t>> piece = DataWithStreamLength(8192, 8192);
  const std::optional<std::vector<uint8_t>> exact = DataWithStreamLength(32762, 32762);
  ASSERT_TRUE(piece && exact);
  workspace = SettingsWorkspace(kLayoutDvbS, 406, 31);
  std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  std::copy(piece->begin(), piece->end(), flash.begin() + 40 * 8192);
  Flash_WriteSectionChecksums(flash.data(), flash.size(), workspace.sectionTable);
  std::fill(flash.begin() + kDefaultsSettingsSize, flash.end(), uint8_t{0});
  std::vector<uint8_t> defaults(kDefaultsImageSize, 0);
  const std::vector<uint8_t> noise = RandomBytes(6, 32762);
  std::copy(noise.begin(), noise.end(), defaults.begin());
  std::copy(exact->begin(), exact->end(), defaults.begin() + 32762);
  workspace.Image(ComponentKind::Defaults) = defaults;
  workspace.Present(ComponentKind::Defaults) = true;
  window->Status_Refresh();
  const Workspace saved = workspace;

  dialogs.Answer(dir.File("out.tfd"));
  window->ButtonSaveTFD->click();
  dialogs.Answer(dir.File("out.dmp"));
  window->MenuSaveFlashDMP->trigger();
  // The dump carries the piece as its stream, which a receiver expands.
  const std::vector<uint8_t> dump = ReadBytes(dir.File("out.dmp"));
  const size_t chunk = EntryBlockOffset(dump, 40) + 10;
  ASSERT_EQ(dump[chunk] << 8 | dump[chunk + 1], 8192 + 6);
  std::vector<uint8_t> expanded(8192);
  EXPECT_EQ(Block_Decompress(dump.data() + chunk + 8, 8192, expanded.data(), 8192), 1);
  EXPECT_EQ(expanded, *piece);

  ui.AnswerQuestion(true);
  window->ButtonNew->click();
  dialogs.Answer(dir.File("out.tfd"));
  window->ButtonLoadTFD->click();
  EXPECT_EQ(workspace.Image(ComponentKind::Flash), saved.Image(ComponentKind::Flash));
  EXPECT_EQ(workspace.Image(ComponentKind::Defaults), defaults);

  ui.AnswerQuestion(true);
  window->ButtonNew->click();
  dialogs.Answer(dir.File("out.dmp"));
  window->MenuLoadFlashDMP->trigger();
  EXPECT_EQ(workspace.Image(ComponentKind::Flash), saved.Image(ComponentKind::Flash));
  EXPECT_EQ(LabelColour(window->Label6), kColourLayoutLit);
  EXPECT_TRUE(dialogs.AllAnswersUsed());
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unload all data?", "Unload all data?"}));
}

}  // namespace
}  // namespace tolv::test
