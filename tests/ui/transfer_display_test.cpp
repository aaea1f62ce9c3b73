// The window's side of a receiver transfer that needs no receiver: the
// progress display and the locking of the controls.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "link/transport.h"
#include "ui_test_support.h"

namespace tolv::test {
namespace {

TEST_F(WindowTest, ProgressShowsTheStatusTextAndMovesTheBar) {
  window->Transfer_Progress(6, 42.5);
  EXPECT_EQ(window->Label10->text().toStdString(), "42.5% done");
  EXPECT_EQ(window->PB1->value(), 42);

  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  window->Transfer_Progress(6, 42.5);
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(window->Label10->text().toStdString(), "42,5% done") << "the user's decimal separator";

  window->Transfer_Progress(5, 2);
  EXPECT_EQ(window->Label10->text().toStdString(), "Transfer of block 2 started");
  EXPECT_EQ(window->PB1->value(), 2);
  window->Transfer_Progress(0, 0);
  window->Transfer_Progress(10, 0);
  EXPECT_EQ(window->Label10->text().toStdString(), "Transfer of block 2 started") << "0 and above 9 keep it";
  EXPECT_EQ(window->PB1->value(), 0);

  const std::pair<uint8_t, const char*> texts[] = {
      {1, "Waiting for USB interface"},      {2, "Device opened"},
      {3, "Set to download mode"},           {4, "Set to upload mode"},
      {7, "End of communication"},           {8, "Device closed"},
      {9, "Communication has been canceled"}};
  for (const auto& [status, text] : texts) {
    window->Transfer_Progress(status, 0);
    EXPECT_EQ(window->Label10->text().toStdString(), text);
  }
  window->ButtonLoadFromToppy->setText("Cancel transfer");
  window->Transfer_Progress(9, 0);
  EXPECT_EQ(window->ButtonLoadFromToppy->text().toStdString(), "From Toppy");
}

TEST_F(WindowTest, WhyAReceiverOnUsbCannotBeUsedIsTheStatusLinesTooltip) {
  // A receiver that the USB polls find but cannot use.
  const std::string reason =
      "the receiver on USB bus 001 device 002: its interface is held by another program";
  Link_SetUsbProvider([&](std::string* diagnostic) -> std::unique_ptr<Transport> {
    *diagnostic = reason;
    return nullptr;
  });
  window->ComboBox1->setCurrentText("USB");
  std::string textWhileWaiting, tipWhileWaiting;
  QTimer::singleShot(300, window.get(), [&] {
    textWhileWaiting = window->Label10->text().toStdString();
    tipWhileWaiting = window->Label10->toolTip().toStdString();
    window->ButtonLoadFromToppy->click();  // "Cancel transfer"
  });
  window->ButtonLoadFromToppy->click();
  Link_SetUsbProvider({});
  EXPECT_EQ(textWhileWaiting, "Waiting for USB interface") << "the status line keeps its text";
  EXPECT_EQ(tipWhileWaiting, "Receiver found but not usable: " + reason + ".");
  EXPECT_EQ(window->Label10->toolTip().toStdString(), "") << "gone with the wait";
}

TEST_F(WindowTest, LockingDisablesExactlyTheTransferSensitiveControls) {
  workspace.present.fill(true);
  window->Status_Refresh();
  window->Controls_Lock();
  for (QAction* action : window->MenuLoad->actions())
    EXPECT_FALSE(action->isEnabled() && !action->isSeparator());
  for (QAction* action : window->MenuSave->actions())
    EXPECT_FALSE(action->isEnabled() && !action->isSeparator());
  for (QPushButton* button : {window->ButtonLoadSTD, window->ButtonLoadTFD, window->ButtonLoadFromToppy,
                              window->ButtonSaveSTD, window->ButtonSaveTFD, window->ButtonSaveToToppy})
    EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
  for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
    const bool logBox = box == window->CheckBox11 || box == window->CheckBox12;
    EXPECT_EQ(box->isEnabled(), logBox) << box->objectName().toStdString();
  }
  EXPECT_TRUE(window->ButtonNew->isEnabled());
  EXPECT_TRUE(window->ComboBox1->isEnabled());
  EXPECT_TRUE(window->ComboBox2->isEnabled());
  for (QMenu* menu : {window->MenuFile, window->MenuDefaults, window->MenuRemove})
    for (QAction* action : menu->actions()) EXPECT_TRUE(action->isEnabled());

  window->ButtonNew->setEnabled(false);
  window->Controls_Unlock();
  for (QAction* action : window->MenuSave->actions()) EXPECT_TRUE(action->isEnabled());
  for (QCheckBox* box : window->findChildren<QCheckBox*>()) EXPECT_TRUE(box->isEnabled());
  EXPECT_TRUE(window->ButtonNew->isEnabled());
  EXPECT_TRUE(window->ButtonSaveToToppy->isEnabled());
}

}  // namespace
}  // namespace tolv::test
