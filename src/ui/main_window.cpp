// The window's start-up, status display, removals, Defaults copies, system
// ID edit, Exit and the general error handling.
#include "ui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

#include <exception>
#include <string>

#include "flash/model_list.h"
#include "workspace/commands.h"

namespace tolv {

void ClickableLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && onDoubleClick) onDoubleClick();
  QLabel::mouseDoubleClickEvent(event);
}

TForm1::TForm1(const WindowServices& services, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      workspace_(*services.workspace),
      interaction_(*services.interaction) {
  setObjectName("Form1");
  ApplyWindowFont();
  BuildMenu();
  BuildControls();
  ApplyWindowFrame();
  ConnectHandlers();
  RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

void TForm1::RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    interaction_.Information(error.what());
  } catch (...) {
    interaction_.Information("An unexpected error ended the command.");
  }
}

void TForm1::FormCreate() {
  ComboBox1->addItem("USB");
  ComboBox2->addItem("USB");
  // Serial ports are listed once, as found free at start-up; a failing probe
  // leaves "USB" alone rather than stopping the window.
  std::vector<std::string> ports;
  if (services_.listSerialPorts) {
    try {
      ports = services_.listSerialPorts();
    } catch (const std::exception&) {
      ports.clear();
    }
  }
  for (const std::string& port : ports) {
    ComboBox1->addItem(QString::fromStdString(port));
    ComboBox2->addItem(QString::fromStdString(port));
  }
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
  Status_Refresh();
}

ClickableLabel* TForm1::ComponentLabel(ComponentKind kind) const {
  switch (kind) {
    case ComponentKind::Loader: return Label1;
    case ComponentKind::Firmware: return Label2;
    case ComponentKind::Flash: return Label3;
    case ComponentKind::Eeprom: return Label4;
    case ComponentKind::Defaults: return Label5;
    case ComponentKind::Background: return Label11;
  }
  return nullptr;
}

QCheckBox* TForm1::SaveCheckBox(ComponentKind kind) const {
  switch (kind) {
    case ComponentKind::Loader: return CheckBox6;
    case ComponentKind::Firmware: return CheckBox7;
    case ComponentKind::Flash: return CheckBox8;
    case ComponentKind::Eeprom: return CheckBox9;
    case ComponentKind::Defaults: return CheckBox10;
    case ComponentKind::Background: return CheckBox14;
  }
  return nullptr;
}

QAction* TForm1::SaveBinAction(ComponentKind kind) const {
  switch (kind) {
    case ComponentKind::Loader: return MenuSaveLoaderBIN;
    case ComponentKind::Firmware: return MenuSaveFirmwareBIN;
    case ComponentKind::Flash: return MenuSaveFlashBIN;
    case ComponentKind::Eeprom: return MenuSaveEEPROMBIN;
    case ComponentKind::Defaults: return MenuSaveDefaultsBIN;
    case ComponentKind::Background: return MenuSaveBackgroundBIN;
  }
  return nullptr;
}

void TForm1::Status_Refresh() {
  const Workspace& ws = workspace_;
  // Components: bright green when present, dark green when absent.
  for (ComponentKind kind : kAllComponents)
    SetLabelColour(ComponentLabel(kind), ws.Present(kind) ? kColourPresent : kColourAbsent);

  // The recognised settings layout lights its label, while there are
  // settings to have one.
  const uint8_t layout = ws.Present(ComponentKind::Flash) ? ws.layoutVariant : kLayoutNone;
  SetLabelColour(Label6, layout == kLayoutDvbS ? kColourLayoutLit : kColourLayoutUnlit);
  SetLabelColour(Label7, layout == kLayoutDvbT ? kColourLayoutLit : kColourLayoutUnlit);
  SetLabelColour(Label8, layout == kLayoutDvbC ? kColourLayoutLit : kColourLayoutUnlit);

  // The system ID with its model name; empty while not set. A model file that
  // cannot be read leaves the name unknown, and the display is completed
  // before its error is shown.
  std::string modelListError;
  const std::string modelName = Model_GetNameOrUnknown(ws.systemId, modelListError);
  if (ws.systemId == 0) {
    SetLabelColour(Label9, kColourSystemIdUnset);
    Label9->setText(QString());
  } else {
    SetLabelColour(Label9, kColourSystemIdSet);
    Label9->setText(QString::fromStdString(std::to_string(ws.systemId) + " (" + modelName + ")"));
  }

  // Saving is offered for what is present. While a transfer runs, the
  // controls it locked stay locked whatever a command in between refreshes:
  // a save started then would work on the TFD store and the packed block that
  // the transfer is using.
  const bool idle = !transferBusy_;
  const bool flash = ws.Present(ComponentKind::Flash);
  const bool eeprom = ws.Present(ComponentKind::Eeprom);
  for (ComponentKind kind : kAllComponents) {
    SaveBinAction(kind)->setEnabled(idle && ws.Present(kind));
    SaveCheckBox(kind)->setEnabled(idle && ws.Present(kind));
  }
  MenuSaveFlashDMP->setEnabled(idle && flash);
  MenuSaveFlashBlocks->setEnabled(idle && flash);
  MenuDefaultsFlashEEPROM->setEnabled(ws.Present(ComponentKind::Defaults));
  MenuFlashEEPROMDefaults->setEnabled(flash && eeprom);
  ButtonSaveSTD->setEnabled(idle && flash && eeprom);
  ButtonSaveTFD->setEnabled(idle && ws.AnyPresent());
  // A running upload keeps its button as the way to cancel.
  if (idle) ButtonSaveToToppy->setEnabled(ws.AnyPresent());

  if (!modelListError.empty() && !modelListErrorShown_) {
    modelListErrorShown_ = true;
    interaction_.Information(modelListError);
  }
}

void TForm1::UnloadComponent(ComponentKind kind) {
  if (!Workspace_Unload(workspace_, kind, interaction_)) return;
  SaveCheckBox(kind)->setChecked(false);
  Status_Refresh();
}

void TForm1::Label1DblClick() { UnloadComponent(ComponentKind::Loader); }
void TForm1::Label2DblClick() { UnloadComponent(ComponentKind::Firmware); }
void TForm1::Label3DblClick() { UnloadComponent(ComponentKind::Flash); }
void TForm1::Label4DblClick() { UnloadComponent(ComponentKind::Eeprom); }
void TForm1::Label5DblClick() { UnloadComponent(ComponentKind::Defaults); }
void TForm1::Label11DblClick() { UnloadComponent(ComponentKind::Background); }
void TForm1::Label9DblClick() { SysID_Edit(); }
void TForm1::MenuRemoveLoaderClick() { UnloadComponent(ComponentKind::Loader); }
void TForm1::MenuRemoveFirmwareClick() { UnloadComponent(ComponentKind::Firmware); }
void TForm1::MenuRemoveSettingsClick() { UnloadComponent(ComponentKind::Flash); }
void TForm1::MenuRemoveEEPROMClick() { UnloadComponent(ComponentKind::Eeprom); }
void TForm1::MenuRemoveDefaultsClick() { UnloadComponent(ComponentKind::Defaults); }

void TForm1::ButtonNewClick() {
  if (Workspace_New(workspace_, interaction_)) Status_Refresh();
}

void TForm1::MenuFlashEEPROMDefaultsClick() {
  if (Defaults_FromFlash(workspace_, interaction_)) Status_Refresh();
}

void TForm1::MenuDefaultsFlashEEPROMClick() {
  if (Defaults_ToFlash(workspace_, interaction_)) Status_Refresh();
}

void TForm1::MenuDefaultsNULLSettingsClick() {
  Defaults_Null(workspace_);
  Status_Refresh();
}

void TForm1::SysID_Edit() {
  if (tolv::SysID_Edit(workspace_, interaction_)) Status_Refresh();
}

void TForm1::MenuFileChangeSysIDClick() { SysID_Edit(); }

void TForm1::MenuFileExitClick() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  if (!transferBusy_) {
    event->accept();
    return;
  }
  // A transfer is under way inside a handler further up this call stack:
  // ask it to give up, and close once it has wound down (closing the link and
  // the log properly).
  closeRequested_ = true;
  RequestTransferCancel();
  event->ignore();
}

void TForm1::ConnectHandlers() {
  auto guard = [this](void (TForm1::*handler)()) {
    return [this, handler] { RunGuarded([&] { (this->*handler)(); }); };
  };
  auto onClick = [&](QPushButton* button, void (TForm1::*handler)()) {
    connect(button, &QPushButton::clicked, this, guard(handler));
  };
  auto onTrigger = [&](QAction* action, void (TForm1::*handler)()) {
    connect(action, &QAction::triggered, this, guard(handler));
  };
  auto onDoubleClick = [&](ClickableLabel* label, void (TForm1::*handler)()) {
    label->onDoubleClick = guard(handler);
  };

  onClick(ButtonNew, &TForm1::ButtonNewClick);
  onClick(ButtonLoadSTD, &TForm1::ButtonLoadSTDClick);
  onClick(ButtonLoadTFD, &TForm1::ButtonLoadTFDClick);
  onClick(ButtonSaveSTD, &TForm1::ButtonSaveSTDClick);
  onClick(ButtonSaveTFD, &TForm1::ButtonSaveTFDClick);
  onClick(ButtonLoadFromToppy, &TForm1::ButtonLoadFromToppyClick);
  onClick(ButtonSaveToToppy, &TForm1::ButtonSaveToToppyClick);

  onDoubleClick(Label1, &TForm1::Label1DblClick);
  onDoubleClick(Label2, &TForm1::Label2DblClick);
  onDoubleClick(Label3, &TForm1::Label3DblClick);
  onDoubleClick(Label4, &TForm1::Label4DblClick);
  onDoubleClick(Label5, &TForm1::Label5DblClick);
  onDoubleClick(Label11, &TForm1::Label11DblClick);
  onDoubleClick(Label9, &TForm1::Label9DblClick);

  onTrigger(MenuFileChangeSysID, &TForm1::MenuFileChangeSysIDClick);
  onTrigger(MenuFileExit, &TForm1::MenuFileExitClick);
  onTrigger(MenuLoadLoaderBIN, &TForm1::MenuLoadLoaderBINClick);
  onTrigger(MenuLoadFirmwareBIN, &TForm1::MenuLoadFirmwareBINClick);
  onTrigger(MenuLoadFlashBIN, &TForm1::MenuLoadFlashBINClick);
  onTrigger(MenuLoadEEPROMBIN, &TForm1::MenuLoadEEPROMBINClick);
  onTrigger(MenuLoadDefaultsBIN, &TForm1::MenuLoadDefaultsBINClick);
  onTrigger(MenuLoadBackgroundBIN, &TForm1::MenuLoadBackgroundBINClick);
  onTrigger(MenuLoadFlashDMP, &TForm1::MenuLoadFlashDMPClick);
  onTrigger(MenuLoadFlashBlock, &TForm1::MenuLoadFlashBlockClick);
  onTrigger(MenuSaveLoaderBIN, &TForm1::MenuSaveLoaderBINClick);
  onTrigger(MenuSaveFirmwareBIN, &TForm1::MenuSaveFirmwareBINClick);
  onTrigger(MenuSaveFlashBIN, &TForm1::MenuSaveFlashBINClick);
  onTrigger(MenuSaveEEPROMBIN, &TForm1::MenuSaveEEPROMBINClick);
  onTrigger(MenuSaveDefaultsBIN, &TForm1::MenuSaveDefaultsBINClick);
  onTrigger(MenuSaveBackgroundBIN, &TForm1::MenuSaveBackgroundBINClick);
  onTrigger(MenuSaveFlashDMP, &TForm1::MenuSaveFlashDMPClick);
  onTrigger(MenuSaveFlashBlocks, &TForm1::MenuSaveFlashBlocksClick);
  onTrigger(MenuFlashEEPROMDefaults, &TForm1::MenuFlashEEPROMDefaultsClick);
  onTrigger(MenuDefaultsFlashEEPROM, &TForm1::MenuDefaultsFlashEEPROMClick);
  onTrigger(MenuDefaultsNULLSettings, &TForm1::MenuDefaultsNULLSettingsClick);
  onTrigger(MenuRemoveLoader, &TForm1::MenuRemoveLoaderClick);
  onTrigger(MenuRemoveFirmware, &TForm1::MenuRemoveFirmwareClick);
  onTrigger(MenuRemoveSettings, &TForm1::MenuRemoveSettingsClick);
  onTrigger(MenuRemoveEEPROM, &TForm1::MenuRemoveEEPROMClick);
  onTrigger(MenuRemoveDefaults, &TForm1::MenuRemoveDefaultsClick);
}

}  // namespace tolv
