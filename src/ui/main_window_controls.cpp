// Construction of the window's controls and menus from the model's tables:
// names, captions, positions, fonts, colours and hints. No behaviour lives
// here.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include "ui/main_window.h"

namespace tolv {
namespace {

// The window's typeface where installed, else the first installed sans face
// of close width, so that every caption fits its control. Installed faces are
// looked up by name: the font configuration would otherwise hand a wider
// stand-in for a missing face.
QString WindowFontFamily(const char* wanted) {
  for (const char* candidate :
       {wanted, "DejaVu Sans Condensed", "Liberation Sans Narrow", "Liberation Sans", "DejaVu Sans"})
    if (QFontDatabase::hasFamily(QString::fromLatin1(candidate))) return QString::fromLatin1(candidate);
  return QString();
}

QFont WindowFont(const FontStyle& design) {
  static const QString family = WindowFontFamily(design.family);
  QFont font;
  if (!family.isEmpty()) font.setFamily(family);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(design.pixelHeight);
  font.setBold(design.bold);
  return font;
}

QColor Rgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A label with centred bold text on an opaque coloured background, in the
// window-text colour.
ClickableLabel* MakeColouredLabel(const ControlDesign& design, QWidget* parent) {
  auto* label = new ClickableLabel(QString::fromLatin1(design.caption), parent);
  label->setAlignment(Qt::AlignCenter);
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, parent->palette().color(QPalette::Text));
  label->setPalette(palette);
  SetLabelColour(label, design.startColour);
  return label;
}

QProgressBar* MakeProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(kProgressMin, kProgressMax);
  bar->setValue(kProgressMin);
  bar->setTextVisible(false);
  return bar;
}

}  // namespace

uint32_t LabelColour(const QLabel* label) {
  return label->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}

void SetLabelColour(QLabel* label, uint32_t rgb) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, Rgb(rgb));
  label->setPalette(palette);
}

void TForm1::ApplyWindowFont() { setFont(WindowFont(kMainWindow.font)); }

QWidget* TForm1::MakeControl(const ControlDesign& design, QWidget* parent) {
  const QString caption = QString::fromLatin1(design.caption);
  QWidget* widget = nullptr;
  switch (design.kind) {
    case ControlKind::Group: widget = new QGroupBox(caption, parent); break;
    case ControlKind::Button: widget = new QPushButton(caption, parent); break;
    case ControlKind::CheckBox: widget = new QCheckBox(caption, parent); break;
    case ControlKind::ComboBox: widget = new QComboBox(parent); break;
    case ControlKind::StatusLine: widget = new QLabel(caption, parent); break;
    case ControlKind::ProgressBar: widget = MakeProgressBar(parent); break;
    case ControlKind::ColouredLabel: widget = MakeColouredLabel(design, parent); break;
  }
  widget->setObjectName(QString::fromLatin1(design.name));
  widget->setGeometry(design.rect.left, design.rect.top, design.rect.width, design.rect.height);
  if (design.font.bold || design.font.pixelHeight != kWindowFont.pixelHeight)
    widget->setFont(WindowFont(design.font));
  widget->setToolTip(QString::fromLatin1(design.hint));
  return widget;
}

// Every control of the table on the client area, each inside its parent.
void TForm1::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFixedSize(kClientWidth, kClientHeight);
  client->setAutoFillBackground(true);
  QPalette palette = client->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  client->setPalette(palette);
  setCentralWidget(client);
  for (const ControlDesign& design : ControlTable())
    controls_[Index(design.id)] =
        MakeControl(design, design.parent ? controls_[Index(*design.parent)] : client);
  NameControls();
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  for (const MenuDesign& design : MainMenu()) {
    QMenu* menu = bar->addMenu(QString::fromLatin1(design.caption));
    menu->setObjectName(QString::fromLatin1(design.name));
    for (const MenuItemDesign& item : design.items) {
      if (item.IsSeparator()) {
        menu->addSeparator();
        continue;
      }
      // Qt reads "&" and "&&" in captions as they are stored.
      QAction* action = menu->addAction(QString::fromLatin1(item.caption));
      action->setObjectName(QString::fromLatin1(item.name));
      actions_[Index(*item.id)] = action;
    }
  }
  NameActions();
  MenuFile = findChild<QMenu*>("MenuFile");
  MenuLoad = findChild<QMenu*>("MenuLoad");
  MenuSave = findChild<QMenu*>("MenuSave");
  MenuDefaults = findChild<QMenu*>("MenuDefaults");
  MenuRemove = findChild<QMenu*>("MenuRemove");
  MenuToppy = findChild<QMenu*>("MenuToppy");
}

void TForm1::ApplyWindowFrame() {
  setWindowTitle(QString::fromLatin1(kMainWindow.caption));
  // Fixed single border: system menu, minimize and close, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  move(kMainWindow.left, kMainWindow.top);
}

// The named members, for the window's users (tests, the screenshot).
void TForm1::NameControls() {
  const auto at = [this]<typename Widget>(ControlId id, Widget*& member) {
    member = static_cast<Widget*>(controls_[Index(id)]);
  };
  at(ControlId::GroupBox1, GroupBox1);
  at(ControlId::ButtonNew, ButtonNew);
  at(ControlId::ButtonLoadSTD, ButtonLoadSTD);
  at(ControlId::ButtonLoadTFD, ButtonLoadTFD);
  at(ControlId::GroupBox3, GroupBox3);
  at(ControlId::ComboBox1, ComboBox1);
  at(ControlId::CheckBox1, CheckBox1);
  at(ControlId::CheckBox2, CheckBox2);
  at(ControlId::CheckBox3, CheckBox3);
  at(ControlId::CheckBox4, CheckBox4);
  at(ControlId::CheckBox5, CheckBox5);
  at(ControlId::CheckBox13, CheckBox13);
  at(ControlId::CheckBox11, CheckBox11);
  at(ControlId::ButtonLoadFromToppy, ButtonLoadFromToppy);
  at(ControlId::GroupBox2, GroupBox2);
  at(ControlId::ButtonSaveSTD, ButtonSaveSTD);
  at(ControlId::ButtonSaveTFD, ButtonSaveTFD);
  at(ControlId::GroupBox4, GroupBox4);
  at(ControlId::ComboBox2, ComboBox2);
  at(ControlId::CheckBox6, CheckBox6);
  at(ControlId::CheckBox7, CheckBox7);
  at(ControlId::CheckBox8, CheckBox8);
  at(ControlId::CheckBox9, CheckBox9);
  at(ControlId::CheckBox10, CheckBox10);
  at(ControlId::CheckBox14, CheckBox14);
  at(ControlId::CheckBox12, CheckBox12);
  at(ControlId::ButtonSaveToToppy, ButtonSaveToToppy);
  at(ControlId::Label10, Label10);
  at(ControlId::PB1, PB1);
  at(ControlId::Label1, Label1);
  at(ControlId::Label2, Label2);
  at(ControlId::Label3, Label3);
  at(ControlId::Label4, Label4);
  at(ControlId::Label5, Label5);
  at(ControlId::Label11, Label11);
  at(ControlId::Label6, Label6);
  at(ControlId::Label7, Label7);
  at(ControlId::Label8, Label8);
  at(ControlId::Label9, Label9);
}

void TForm1::NameActions() {
  MenuFileChangeSysID = actions_[Index(MenuEntryId::MenuFileChangeSysID)];
  MenuFileExit = actions_[Index(MenuEntryId::MenuFileExit)];
  MenuLoadLoaderBIN = actions_[Index(MenuEntryId::MenuLoadLoaderBIN)];
  MenuLoadFirmwareBIN = actions_[Index(MenuEntryId::MenuLoadFirmwareBIN)];
  MenuLoadFlashBIN = actions_[Index(MenuEntryId::MenuLoadFlashBIN)];
  MenuLoadEEPROMBIN = actions_[Index(MenuEntryId::MenuLoadEEPROMBIN)];
  MenuLoadDefaultsBIN = actions_[Index(MenuEntryId::MenuLoadDefaultsBIN)];
  MenuLoadBackgroundBIN = actions_[Index(MenuEntryId::MenuLoadBackgroundBIN)];
  MenuLoadFlashDMP = actions_[Index(MenuEntryId::MenuLoadFlashDMP)];
  MenuLoadFlashBlock = actions_[Index(MenuEntryId::MenuLoadFlashBlock)];
  MenuSaveLoaderBIN = actions_[Index(MenuEntryId::MenuSaveLoaderBIN)];
  MenuSaveFirmwareBIN = actions_[Index(MenuEntryId::MenuSaveFirmwareBIN)];
  MenuSaveFlashBIN = actions_[Index(MenuEntryId::MenuSaveFlashBIN)];
  MenuSaveEEPROMBIN = actions_[Index(MenuEntryId::MenuSaveEEPROMBIN)];
  MenuSaveDefaultsBIN = actions_[Index(MenuEntryId::MenuSaveDefaultsBIN)];
  MenuSaveBackgroundBIN = actions_[Index(MenuEntryId::MenuSaveBackgroundBIN)];
  MenuSaveFlashDMP = actions_[Index(MenuEntryId::MenuSaveFlashDMP)];
  MenuSaveFlashBlocks = actions_[Index(MenuEntryId::MenuSaveFlashBlocks)];
  MenuFlashEEPROMDefaults = actions_[Index(MenuEntryId::MenuFlashEEPROMDefaults)];
  MenuDefaultsFlashEEPROM = actions_[Index(MenuEntryId::MenuDefaultsFlashEEPROM)];
  MenuDefaultsNULLSettings = actions_[Index(MenuEntryId::MenuDefaultsNULLSettings)];
  MenuRemoveLoader = actions_[Index(MenuEntryId::MenuRemoveLoader)];
  MenuRemoveFirmware = actions_[Index(MenuEntryId::MenuRemoveFirmware)];
  MenuRemoveSettings = actions_[Index(MenuEntryId::MenuRemoveSettings)];
  MenuRemoveEEPROM = actions_[Index(MenuEntryId::MenuRemoveEEPROM)];
  MenuRemoveDefaults = actions_[Index(MenuEntryId::MenuRemoveDefaults)];
  MenuToppyBackUp = actions_[Index(MenuEntryId::MenuToppyBackUp)];
  MenuToppyRestore = actions_[Index(MenuEntryId::MenuToppyRestore)];
  MenuToppyCompare = actions_[Index(MenuEntryId::MenuToppyCompare)];
}

}  // namespace tolv
