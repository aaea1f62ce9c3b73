// Construction of the window's controls: names, captions, positions, fonts,
// colours and hints. No behaviour lives here.
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
QString WindowFontFamily() {
  static const QString family = [] {
    for (const char* candidate :
         {"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow", "Liberation Sans", "DejaVu Sans"})
      if (QFontDatabase::hasFamily(QString::fromLatin1(candidate))) return QString::fromLatin1(candidate);
    return QString();
  }();
  return family;
}

QFont WindowFont(int pixelSize, bool bold) {
  QFont font;
  if (!WindowFontFamily().isEmpty()) font.setFamily(WindowFontFamily());
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QColor Rgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

template <typename Widget, typename... Args>
Widget* Make(QWidget* parent, const char* name, Args&&... args) {
  auto* widget = new Widget(std::forward<Args>(args)..., parent);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* button = Make<QPushButton>(parent, name, QString::fromLatin1(caption));
  button->setGeometry(left, top, 121, 17);
  return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, int top) {
  auto* box = Make<QCheckBox>(parent, name, QString::fromLatin1(caption));
  box->setGeometry(8, top, 121, 17);
  box->setChecked(false);
  return box;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                     int height) {
  auto* group = Make<QGroupBox>(parent, name, QString::fromLatin1(caption));
  group->setGeometry(left, top, width, height);
  return group;
}

// A label 23 pixels high with centred bold text on an opaque coloured
// background.
ClickableLabel* MakeColouredLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                                  int width, uint32_t rgb) {
  auto* label = Make<ClickableLabel>(parent, name, QString::fromLatin1(caption));
  label->setGeometry(left, top, width, 23);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(WindowFont(16, true));
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, parent->palette().color(QPalette::Text));
  label->setPalette(palette);
  SetLabelColour(label, rgb);
  return label;
}

QAction* MakeAction(QMenu* menu, const char* name, const char* caption) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setObjectName(QString::fromLatin1(name));
  return action;
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

void TForm1::ApplyWindowFont() { setFont(WindowFont(11, false)); }

void TForm1::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFixedSize(kClientWidth, kClientHeight);
  client->setAutoFillBackground(true);
  QPalette palette = client->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  client->setPalette(palette);
  setCentralWidget(client);
  BuildLoadGroup(client);
  BuildSaveGroup(client);
  BuildStatusDisplay(client);
}

// Load group: New, STD, TFD, and the receiver download box.
void TForm1::BuildLoadGroup(QWidget* client) {
  GroupBox1 = MakeGroup(client, "GroupBox1", "Load", 8, 8, 161, 281);
  ButtonNew = MakeButton(GroupBox1, "ButtonNew", "New", 17, 24);
  ButtonLoadSTD = MakeButton(GroupBox1, "ButtonLoadSTD", "STD", 16, 48);
  ButtonLoadTFD = MakeButton(GroupBox1, "ButtonLoadTFD", "TFD", 16, 64);
  GroupBox3 = MakeGroup(GroupBox1, "GroupBox3", "", 8, 88, 145, 185);
  ComboBox1 = Make<QComboBox>(GroupBox3, "ComboBox1");
  ComboBox1->setGeometry(8, 12, 121, 21);
  CheckBox1 = MakeCheckBox(GroupBox3, "CheckBox1", "Loader", 40);
  CheckBox2 = MakeCheckBox(GroupBox3, "CheckBox2", "Firmware", 56);
  CheckBox3 = MakeCheckBox(GroupBox3, "CheckBox3", "Settings", 72);
  CheckBox4 = MakeCheckBox(GroupBox3, "CheckBox4", "EEPROM", 88);
  CheckBox5 = MakeCheckBox(GroupBox3, "CheckBox5", "Defaults", 104);
  CheckBox13 = MakeCheckBox(GroupBox3, "CheckBox13", "Background", 120);
  CheckBox11 = MakeCheckBox(GroupBox3, "CheckBox11", "Log transfer", 136);
  ButtonLoadFromToppy = MakeButton(GroupBox3, "ButtonLoadFromToppy", "From Toppy", 8, 160);
}

// Save group: STD, TFD, and the receiver upload box.
void TForm1::BuildSaveGroup(QWidget* client) {
  GroupBox2 = MakeGroup(client, "GroupBox2", "Save", 176, 8, 161, 281);
  ButtonSaveSTD = MakeButton(GroupBox2, "ButtonSaveSTD", "STD", 8, 48);
  ButtonSaveTFD = MakeButton(GroupBox2, "ButtonSaveTFD", "TFD", 8, 64);
  GroupBox4 = MakeGroup(GroupBox2, "GroupBox4", "", 8, 88, 145, 185);
  ComboBox2 = Make<QComboBox>(GroupBox4, "ComboBox2");
  ComboBox2->setGeometry(8, 12, 121, 21);
  CheckBox6 = MakeCheckBox(GroupBox4, "CheckBox6", "Loader", 40);
  CheckBox7 = MakeCheckBox(GroupBox4, "CheckBox7", "Firmware", 56);
  CheckBox8 = MakeCheckBox(GroupBox4, "CheckBox8", "Settings", 72);
  CheckBox9 = MakeCheckBox(GroupBox4, "CheckBox9", "EEPROM", 88);
  CheckBox10 = MakeCheckBox(GroupBox4, "CheckBox10", "Defaults", 104);
  CheckBox14 = MakeCheckBox(GroupBox4, "CheckBox14", "Background", 120);
  CheckBox12 = MakeCheckBox(GroupBox4, "CheckBox12", "Log transfer", 136);
  ButtonSaveToToppy = MakeButton(GroupBox4, "ButtonSaveToToppy", "To Toppy", 8, 160);
}

// Status line, progress bar, component labels, layout labels and the system
// ID label.
void TForm1::BuildStatusDisplay(QWidget* client) {
  Label10 = Make<QLabel>(client, "Label10", QString::fromLatin1("-"));
  Label10->setGeometry(8, 296, 329, 14);
  PB1 = Make<QProgressBar>(client, "PB1");
  PB1->setGeometry(8, 312, 329, 17);
  PB1->setRange(0, 100);
  PB1->setValue(0);
  PB1->setTextVisible(false);
  Label1 = MakeColouredLabel(client, "Label1", "Loader", 8, 338, 105, kColourAbsent);
  Label2 = MakeColouredLabel(client, "Label2", "Firmware", 120, 338, 105, kColourAbsent);
  Label3 = MakeColouredLabel(client, "Label3", "Flash", 8, 362, 105, kColourAbsent);
  Label4 = MakeColouredLabel(client, "Label4", "EEPROM", 120, 362, 105, kColourAbsent);
  Label5 = MakeColouredLabel(client, "Label5", "Defaults", 232, 362, 105, kColourAbsent);
  Label11 = MakeColouredLabel(client, "Label11", "Background", 8, 386, 105, kColourAbsent);
  for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label11})
    label->setToolTip("Double click to remove this block");
  Label6 = MakeColouredLabel(client, "Label6", "DVB-s", 8, 410, 105, kColourLayoutUnlit);
  Label7 = MakeColouredLabel(client, "Label7", "DVB-t", 120, 410, 105, kColourLayoutUnlit);
  Label8 = MakeColouredLabel(client, "Label8", "DVB-c", 232, 410, 105, kColourLayoutUnlit);
  Label9 = MakeColouredLabel(client, "Label9", "SystemID =", 8, 434, 329, kColourSystemIdUnset);
  Label9->setToolTip("Double click to edit SysID");
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");

  MenuFile = bar->addMenu("&File");
  MenuFile->setObjectName("MenuFile");
  MenuFileChangeSysID = MakeAction(MenuFile, "MenuFileChangeSysID", "Change SysID");
  MenuFile->addSeparator();
  MenuFileExit = MakeAction(MenuFile, "MenuFileExit", "E&xit");

  MenuLoad = bar->addMenu("&Load");
  MenuLoad->setObjectName("MenuLoad");
  MenuLoadLoaderBIN = MakeAction(MenuLoad, "MenuLoadLoaderBIN", "Loader BIN");
  MenuLoadFirmwareBIN = MakeAction(MenuLoad, "MenuLoadFirmwareBIN", "Firmware BIN");
  MenuLoadFlashBIN = MakeAction(MenuLoad, "MenuLoadFlashBIN", "Flash BIN");
  MenuLoadEEPROMBIN = MakeAction(MenuLoad, "MenuLoadEEPROMBIN", "EEPROM BIN");
  MenuLoadDefaultsBIN = MakeAction(MenuLoad, "MenuLoadDefaultsBIN", "Defaults BIN");
  MenuLoadBackgroundBIN = MakeAction(MenuLoad, "MenuLoadBackgroundBIN", "Background BIN");
  MenuLoad->addSeparator();
  MenuLoadFlashDMP = MakeAction(MenuLoad, "MenuLoadFlashDMP", "Flash DMP");
  MenuLoadFlashBlock = MakeAction(MenuLoad, "MenuLoadFlashBlock", "Flash Block");

  MenuSave = bar->addMenu("&Save");
  MenuSave->setObjectName("MenuSave");
  MenuSaveLoaderBIN = MakeAction(MenuSave, "MenuSaveLoaderBIN", "Loader BIN");
  MenuSaveFirmwareBIN = MakeAction(MenuSave, "MenuSaveFirmwareBIN", "Firmware BIN");
  MenuSaveFlashBIN = MakeAction(MenuSave, "MenuSaveFlashBIN", "Flash BIN");
  MenuSaveEEPROMBIN = MakeAction(MenuSave, "MenuSaveEEPROMBIN", "EEPROM BIN");
  MenuSaveDefaultsBIN = MakeAction(MenuSave, "MenuSaveDefaultsBIN", "Defaults BIN");
  MenuSaveBackgroundBIN = MakeAction(MenuSave, "MenuSaveBackgroundBIN", "Background BIN");
  MenuSave->addSeparator();
  MenuSaveFlashDMP = MakeAction(MenuSave, "MenuSaveFlashDMP", "Flash DMP");
  MenuSaveFlashBlocks = MakeAction(MenuSave, "MenuSaveFlashBlocks", "Flash Blocks");

  // "&&" shows one "&", as in every menu caption here.
  MenuDefaults = bar->addMenu("&Defaults");
  MenuDefaults->setObjectName("MenuDefaults");
  MenuFlashEEPROMDefaults =
      MakeAction(MenuDefaults, "MenuFlashEEPROMDefaults", "Flash && EEPROM => Defaults");
  MenuDefaultsFlashEEPROM =
      MakeAction(MenuDefaults, "MenuDefaultsFlashEEPROM", "Defaults => Flash && EEPROM");
  MenuDefaultsNULLSettings = MakeAction(MenuDefaults, "MenuDefaultsNULLSettings", "NULL Settings");

  MenuRemove = bar->addMenu("&Remove");
  MenuRemove->setObjectName("MenuRemove");
  MenuRemoveLoader = MakeAction(MenuRemove, "MenuRemoveLoader", "Loader");
  MenuRemoveFirmware = MakeAction(MenuRemove, "MenuRemoveFirmware", "Firmware");
  MenuRemoveSettings = MakeAction(MenuRemove, "MenuRemoveSettings", "Settings");
  MenuRemoveEEPROM = MakeAction(MenuRemove, "MenuRemoveEEPROM", "EEPROM");
  MenuRemoveDefaults = MakeAction(MenuRemove, "MenuRemoveDefaults", "Defaults");
}

void TForm1::ApplyWindowFrame() {
  setWindowTitle("Tolv Pack");
  // Fixed single border: system menu, minimize and close, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  move(0, 0);
}

}  // namespace tolv
