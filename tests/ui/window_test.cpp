// The main window: its controls at start-up, the status display, removals,
// the system ID edit, the link lists, Exit and the general error handling.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "flash/layout.h"
#include "flash/model_list.h"
#include "flash_test_util.h"
#include "ui_test_support.h"

namespace tolv::test {
namespace {

using Kind = ScriptedInteraction::Event::Kind;

std::string CaptionOf(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  return "";
}

std::vector<std::string> MenuEntries(QMenu* menu) {
  std::vector<std::string> entries;
  for (QAction* action : menu->actions())
    entries.push_back(action->isSeparator()
                          ? "-"
                          : action->objectName().toStdString() + "=" + action->text().toStdString());
  return entries;
}

QAction* Action(const TForm1& window, const char* name) { return window.findChild<QAction*>(name); }
QWidget* Widget(const TForm1& window, const char* name) { return window.findChild<QWidget*>(name); }
QLabel* LabelNamed(const TForm1& window, const char* name) { return window.findChild<QLabel*>(name); }

TEST_F(WindowTest, ControlsSitWhereTheyBelongWithTheirCaptions) {
  EXPECT_EQ(window->windowTitle().toStdString(), "Tolv Pack");
  EXPECT_EQ(window->centralWidget()->size(), QSize(kClientWidth, kClientHeight));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window is not resizable";
  EXPECT_EQ(window->pos(), QPoint(0, 0));
  EXPECT_EQ(window->font().pixelSize(), 11);
  // Every control of the model's table, where the table puts it.
  for (const ControlDesign& design : ControlTable()) {
    SCOPED_TRACE(design.name);
    QWidget* widget = Widget(*window, design.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName().toStdString(),
              design.parent ? Control(*design.parent).name : "ClientArea");
    EXPECT_EQ(widget->geometry(),
              QRect(design.rect.left, design.rect.top, design.rect.width, design.rect.height));
    if (design.id != ControlId::Label9) {
      EXPECT_EQ(CaptionOf(widget), design.caption);
    }
  }
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label11", "Label6", "Label7",
                           "Label8", "Label9"}) {
    QLabel* label = LabelNamed(*window, name);
    EXPECT_TRUE(label->font().bold()) << name;
    EXPECT_EQ(label->font().pixelSize(), 16) << name;
    EXPECT_TRUE(label->autoFillBackground()) << name;
  }
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label11"})
    EXPECT_EQ(LabelNamed(*window, name)->toolTip().toStdString(), "Double click to remove this block");
  EXPECT_EQ(window->Label9->toolTip().toStdString(), "Double click to edit SysID");
  EXPECT_EQ(window->PB1->minimum(), 0);
  EXPECT_EQ(window->PB1->maximum(), 100);
}

TEST_F(WindowTest, MainMenuHoldsEveryEntryOfTheTableInOrder) {
  const QList<QAction*> menus = window->menuBar()->actions();
  ASSERT_EQ(menus.size(), static_cast<qsizetype>(MainMenu().size()));
  for (size_t i = 0; i < MainMenu().size(); ++i) {
    const MenuDesign& design = MainMenu()[i];
    EXPECT_EQ(menus[i]->text().toStdString(), design.caption);
    std::vector<std::string> expected;
    for (const MenuItemDesign& item : design.items)
      expected.push_back(item.IsSeparator() ? "-" : std::string(item.name) + "=" + item.caption);
    EXPECT_EQ(MenuEntries(menus[i]->menu()), expected) << design.name;
  }
}

const char* const kSaveMenu[] = {"MenuSaveLoaderBIN", "MenuSaveFirmwareBIN", "MenuSaveFlashBIN",
                                 "MenuSaveEEPROMBIN", "MenuSaveDefaultsBIN", "MenuSaveBackgroundBIN",
                                 "MenuSaveFlashDMP",  "MenuSaveFlashBlocks"};
const char* const kSaveBoxes[] = {"CheckBox6", "CheckBox7",  "CheckBox8",
                                  "CheckBox9", "CheckBox10", "CheckBox14"};

TEST_F(WindowTest, StartsEmptyWithOnlyTheLoadSideOffered) {
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label11"})
    EXPECT_EQ(LabelColour(LabelNamed(*window, name)), kColourAbsent) << name;
  for (const char* name : {"Label6", "Label7", "Label8"})
    EXPECT_EQ(LabelColour(LabelNamed(*window, name)), kColourLayoutUnlit) << name;
  EXPECT_EQ(LabelColour(window->Label9), kColourSystemIdUnset);
  EXPECT_EQ(window->Label9->text().toStdString(), "") << "the stored caption is never shown";
  EXPECT_EQ(window->Label10->text().toStdString(), "-");
  EXPECT_EQ(window->PB1->value(), 0);

  for (const char* name : kSaveMenu) EXPECT_FALSE(Action(*window, name)->isEnabled()) << name;
  for (const char* name : kSaveBoxes) EXPECT_FALSE(Widget(*window, name)->isEnabled()) << name;
  EXPECT_FALSE(window->MenuDefaultsFlashEEPROM->isEnabled());
  EXPECT_FALSE(window->MenuFlashEEPROMDefaults->isEnabled());
  EXPECT_FALSE(window->ButtonSaveSTD->isEnabled());
  EXPECT_FALSE(window->ButtonSaveTFD->isEnabled());
  EXPECT_FALSE(window->ButtonSaveToToppy->isEnabled());

  for (QAction* action : window->MenuLoad->actions()) EXPECT_TRUE(action->isEnabled());
  for (const char* name : {"ButtonNew", "ButtonLoadSTD", "ButtonLoadTFD", "ComboBox1", "CheckBox1",
                           "CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox13", "CheckBox11",
                           "ButtonLoadFromToppy", "CheckBox12", "ComboBox2"})
    EXPECT_TRUE(Widget(*window, name)->isEnabled()) << name;
  EXPECT_TRUE(window->MenuDefaultsNULLSettings->isEnabled());
  EXPECT_TRUE(window->MenuFileChangeSysID->isEnabled());
  EXPECT_TRUE(window->MenuFileExit->isEnabled());
  for (QAction* action : window->MenuRemove->actions()) EXPECT_TRUE(action->isEnabled());

  for (QCheckBox* box : window->findChildren<QCheckBox*>()) EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(ComboItems(*window, "ComboBox1"), std::vector<std::string>{"USB"});
  EXPECT_EQ(ComboItems(*window, "ComboBox2"), std::vector<std::string>{"USB"});
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(WindowTest, LinkListsOfferUsbThenTheSerialPortsFoundAtStartUp) {
  OpenWindow({"/dev/ttyS0", "/dev/ttyS2"});
  const std::vector<std::string> expected = {"USB", "/dev/ttyS0", "/dev/ttyS2"};
  EXPECT_EQ(ComboItems(*window, "ComboBox1"), expected);
  EXPECT_EQ(ComboItems(*window, "ComboBox2"), expected);
  EXPECT_EQ(window->ComboBox1->currentText().toStdString(), "USB");
  EXPECT_EQ(window->ComboBox2->currentText().toStdString(), "USB");
}

TEST_F(WindowTest, DoubleClickOnAPresentLabelRemovesTheComponentAfterAsking) {
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.Image(ComponentKind::Eeprom).assign(256, 0x5A);
  window->Status_Refresh();
  window->CheckBox9->setChecked(true);
  window->CheckBox4->setChecked(true);

  ui.AnswerQuestion(false);
  QTest::mouseDClick(window->Label4, Qt::LeftButton);
  EXPECT_TRUE(workspace.Present(ComponentKind::Eeprom)) << "No keeps it";
  EXPECT_TRUE(window->CheckBox9->isChecked());

  ui.AnswerQuestion(true);
  QTest::mouseDClick(window->Label4, Qt::LeftButton);
  EXPECT_FALSE(workspace.Present(ComponentKind::Eeprom));
  EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), std::vector<uint8_t>(256, 0));
  EXPECT_FALSE(window->CheckBox9->isChecked()) << "its Save box is unchecked";
  EXPECT_TRUE(window->CheckBox4->isChecked()) << "the Load box stays";
  EXPECT_EQ(LabelColour(window->Label4), kColourAbsent);
  EXPECT_FALSE(window->MenuSaveEEPROMBIN->isEnabled());
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unload EEPROM?", "Unload EEPROM?"}));
}

TEST_F(WindowTest, DoubleClickOnAnAbsentLabelDoesNothing) {
  SetLabelColour(window->Label2, 0x123456);  // a refresh would repaint it
  QTest::mouseDClick(window->Label2, Qt::LeftButton);
  EXPECT_TRUE(ui.events().empty());
  EXPECT_EQ(LabelColour(window->Label2), 0x123456u);
  QTest::mouseDClick(window->Label6, Qt::LeftButton);  // layout labels have no action
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(WindowTest, EveryRemovalReachesItsComponent) {
  struct Case {
    std::function<void()> trigger;
    ComponentKind kind;
    const char* question;
  };
  const Case cases[] = {
      {[&] { window->MenuRemoveLoader->trigger(); }, ComponentKind::Loader, "Unload loader?"},
      {[&] { window->MenuRemoveFirmware->trigger(); }, ComponentKind::Firmware, "Unload firmware?"},
      {[&] { window->MenuRemoveSettings->trigger(); }, ComponentKind::Flash, "Unload flash?"},
      {[&] { window->MenuRemoveEEPROM->trigger(); }, ComponentKind::Eeprom, "Unload EEPROM?"},
      {[&] { window->MenuRemoveDefaults->trigger(); }, ComponentKind::Defaults, "Unload defaults?"},
      {[&] { QTest::mouseDClick(window->Label1, Qt::LeftButton); }, ComponentKind::Loader, "Unload loader?"},
      {[&] { QTest::mouseDClick(window->Label2, Qt::LeftButton); }, ComponentKind::Firmware,
       "Unload firmware?"},
      {[&] { QTest::mouseDClick(window->Label3, Qt::LeftButton); }, ComponentKind::Flash, "Unload flash?"},
      {[&] { QTest::mouseDClick(window->Label5, Qt::LeftButton); }, ComponentKind::Defaults,
       "Unload defaults?"},
      {[&] { QTest::mouseDClick(window->Label11, Qt::LeftButton); }, ComponentKind::Background,
       "Unload background?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question);
    workspace.present.fill(true);
    window->Status_Refresh();
    ui.Clear();
    ui.AnswerQuestion(true);
    c.trigger();
    for (ComponentKind kind : kAllComponents) EXPECT_EQ(workspace.Present(kind), kind != c.kind);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{c.question});
  }
}

TEST_F(WindowTest, ChangeSysIdStoresNonZeroNumbersAndShowsBadText) {
  workspace.systemId = 406;
  window->Status_Refresh();

  ui.AnswerInput("0");
  window->MenuFileChangeSysID->trigger();
  EXPECT_EQ(workspace.systemId, 406) << "0 cannot clear the SystemID";
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0].kind, Kind::Input);
  EXPECT_EQ(ui.events()[0].text, "Enter the targets SystemID.");

  ui.AnswerInput("65535");
  QTest::mouseDClick(window->Label9, Qt::LeftButton);
  EXPECT_EQ(workspace.systemId, 65535);
  EXPECT_EQ(window->Label9->text().toStdString(), std::string("65535 (") + Model_GetName(65535) + ")");

  // Text that is no number, and numbers that do not fit the 16 bits every
  // file carries, are refused with a message.
  for (const char* bad : {"4O6", "70000", "-1"}) {
    ui.Clear();
    ui.AnswerInput(bad);
    window->MenuFileChangeSysID->trigger();
    EXPECT_EQ(workspace.systemId, 65535);
    ASSERT_EQ(ui.events().size(), 2u);
    EXPECT_EQ(ui.events()[1].kind, Kind::Information) << "the general error handling shows the error";
    EXPECT_NE(ui.events()[1].text.find(bad), std::string::npos);
  }

  ui.Clear();
  window->MenuFileChangeSysID->trigger();  // cancelled: the preset comes back
  EXPECT_EQ(workspace.systemId, 65535);
  EXPECT_EQ(ui.events().size(), 1u);
}

TEST_F(WindowTest, NewAsksAndClearsEverything) {
  workspace.present.fill(true);
  workspace.systemId = 406;
  workspace.layoutVariant = kLayoutDvbS;
  window->Status_Refresh();
  QTest::mouseClick(window->ButtonNew, Qt::LeftButton);  // unanswered: No
  EXPECT_EQ(workspace.systemId, 406);
  ui.AnswerQuestion(true);
  QTest::mouseClick(window->ButtonNew, Qt::LeftButton);
  EXPECT_FALSE(workspace.AnyPresent());
  EXPECT_EQ(window->Label9->text().toStdString(), "");
  EXPECT_EQ(LabelColour(window->Label6), kColourLayoutUnlit);
  EXPECT_FALSE(window->ButtonSaveTFD->isEnabled());
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unload all data?", "Unload all data?"}));
}

TEST_F(WindowTest, DefaultsMenuCopiesAndNulls) {
  window->MenuDefaultsNULLSettings->trigger();
  EXPECT_TRUE(workspace.Present(ComponentKind::Defaults));
  EXPECT_EQ(LabelColour(window->Label5), kColourPresent);
  EXPECT_TRUE(window->MenuDefaultsFlashEEPROM->isEnabled());

  window->MenuDefaultsFlashEEPROM->trigger();  // nothing to lose: no question
  EXPECT_TRUE(workspace.Present(ComponentKind::Flash));
  EXPECT_TRUE(workspace.Present(ComponentKind::Eeprom));
  EXPECT_TRUE(window->ButtonSaveSTD->isEnabled());

  window->MenuFlashEEPROMDefaults->trigger();  // Defaults present: asks, unanswered is No
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Overwrite the existing defaults?"});
}

TEST_F(WindowTest, ExitClosesTheWindow) {
  window->show();
  ASSERT_TRUE(window->isVisible());
  window->MenuFileExit->trigger();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(ui.events().empty()) << "no question";
}

TEST_F(WindowTest, ErrorsOfACommandAreShownAndTheWindowGoesOn) {
  dialogs.Answer(dir.File("no such file.bin"));
  window->MenuLoadLoaderBIN->trigger();
  ASSERT_EQ(ui.events().size(), 1u);
  EXPECT_EQ(ui.events()[0].kind, Kind::Information);
  EXPECT_NE(ui.events()[0].text.find("no such file.bin"), std::string::npos) << ui.events()[0].text;
  EXPECT_FALSE(workspace.Present(ComponentKind::Loader));

  window->RunGuarded([] { throw 42; });
  EXPECT_EQ(ui.events().size(), 2u) << "even an unknown error is shown, not fatal";
}

}  // namespace
}  // namespace tolv::test
