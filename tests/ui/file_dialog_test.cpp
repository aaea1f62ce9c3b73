// The filters as the toolkit's dialog sees them, checked against its own
// wildcard matching, and the dialog a command prepares.
#include <QFileDialog>
#include <QRegularExpression>

#include "ui/qt_file_dialogs.h"
#include "ui_test_support.h"

namespace tolv::test {
namespace {

// Whether the dialog would list fileName under filter (any of its patterns).
bool Lists(const NameFilter& filter, const std::string& fileName) {
  for (const QString& pattern : QString::fromStdString(filter.patterns).split(' ', Qt::SkipEmptyParts)) {
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
    if (re.match(QString::fromStdString(fileName)).hasMatch()) return true;
  }
  return false;
}

TEST(FileFilter, TranslatesIntoNamedEntries) {
  const std::vector<NameFilter> filters = TranslateFilter("Topfield STD (*.std)|*.std|All files|*.*");
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].displayName, "Topfield STD (*.std)");
  EXPECT_EQ(filters[1].displayName, "All files");
  EXPECT_TRUE(TranslateFilter("").empty());
  EXPECT_EQ(TranslateFilter("Lonely name").size(), 0u);
  EXPECT_EQ(TranslateFilter("Two|*.a;*.b").size(), 1u);
}

TEST(FileFilter, SelectsTheSameFilesAsWhereItWasWritten) {
  const auto stdFilter = TranslateFilter("Topfield STD (*.std)|*.std|All files|*.*");
  EXPECT_TRUE(Lists(stdFilter[0], "settings.std"));
  EXPECT_TRUE(Lists(stdFilter[0], "SETTINGS.STD")) << "names match without regard to case";
  EXPECT_FALSE(Lists(stdFilter[0], "settings.std.bak"));
  EXPECT_FALSE(Lists(stdFilter[0], "settings.tfd"));
  EXPECT_TRUE(Lists(stdFilter[1], "flash")) << "*.* is every name, a dot or not";
  EXPECT_TRUE(Lists(stdFilter[1], "a.b.c"));

  const auto blocks = TranslateFilter("Block binaries (*[??].bin)|*[??].bin|All files|*.*");
  EXPECT_TRUE(Lists(blocks[0], "mysettings [01].bin"));
  EXPECT_TRUE(Lists(blocks[0], "x[13].BIN"));
  EXPECT_FALSE(Lists(blocks[0], "mysettings01.bin")) << "brackets are plain characters";
  EXPECT_FALSE(Lists(blocks[0], "mysettings [1].bin"));
  EXPECT_FALSE(Lists(blocks[0], "a?.bin"));

  const auto two = TranslateFilter("Two|*.a; *.b");
  EXPECT_TRUE(Lists(two[0], "x.A"));
  EXPECT_TRUE(Lists(two[0], "x.b"));
  EXPECT_FALSE(Lists(two[0], "x.c"));
}

TEST(FileDialog, ShowsTheRequestAndAppendsTheDefaultExtension) {
  EnsureQtApplication();
  TempDir dir;
  QFileDialog dialog;
  ConfigureFileDialog(dialog, {FileDialogRequest::Kind::Save, "std", "TolvPack: Save a std files",
                               "Topfield STD (*.std)|*.std|All files|*.*"});
  EXPECT_EQ(dialog.windowTitle().toStdString(), "TolvPack: Save a std files");
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog.defaultSuffix().toStdString(), "std");
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
  ASSERT_EQ(dialog.nameFilters().size(), 2);

  // A name typed without extension comes back with ".std".
  dialog.setDirectory(QString::fromStdString(dir.path()));
  dialog.selectFile("settings");
  QMetaObject::invokeMethod(&dialog, "accept");
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), dir.File("settings.std"));

  QFileDialog open;
  ConfigureFileDialog(open, {FileDialogRequest::Kind::Open, "bin", "TolvPack: Load a Loader BIN",
                             "Binaries (*.bin)|*.bin|All files|*.*"});
  EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(open.fileMode(), QFileDialog::AnyFile) << "a typed name need not exist";
}

}  // namespace
}  // namespace tolv::test
