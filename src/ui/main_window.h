// The main window on Qt: one face of the window model (window/window_model.h).
// It builds its controls and menus from the model's tables, renders the
// model's view, and passes every click, double-click, menu pick, check box
// toggle and list choice to the model, which runs the command (asking for a
// file name or a confirmation through the FileDialogs and UserInteraction it
// was given) inside the general error handling: an error a command does not
// catch is shown in a message box and the window goes on with the state
// reached so far. No rule of the window lives here.
#pragma once

#include <QLabel>
#include <QMainWindow>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ui/file_filter.h"
#include "window/controls.h"
#include "window/view.h"
#include "window/window_model.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tolv {

// A coloured label that reports double-clicks.
class ClickableLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onDoubleClick;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// Client area of the window in pixels (the menu bar comes on top).
inline constexpr int kClientWidth = kMainWindow.clientWidth;
inline constexpr int kClientHeight = kMainWindow.clientHeight;

// Background colour of a coloured label (0xRRGGBB), and setting it.
uint32_t LabelColour(const QLabel* label);
void SetLabelColour(QLabel* label, uint32_t rgb);

class TForm1 : public QMainWindow, private WindowFace {
 public:
  // Builds every control, then runs the model's FormCreate (the link lists
  // and the first refresh) inside the general error handling. services'
  // workspace, interaction and fileDialogs must be set and outlive the window.
  explicit TForm1(const WindowServices& services, QWidget* parent = nullptr);
  ~TForm1() override;

  WindowModel& Model() { return model_; }

  // The model's pieces under the window's names (see WindowModel).
  void Status_Refresh() { model_.Status_Refresh(); }
  void RunGuarded(const std::function<void()>& handler) { model_.RunGuarded(handler); }
  bool TransferBusy() const { return model_.TransferBusy(); }
  void Transfer_Progress(uint8_t status, double value) { model_.Transfer_Progress(status, value); }
  void Controls_Lock() { model_.Controls_Lock(); }
  void Controls_Unlock() { model_.Controls_Unlock(); }

  // --- Controls (their object names are the same) ---
  QGroupBox* GroupBox1 = nullptr;
  QPushButton* ButtonNew = nullptr;
  QPushButton* ButtonLoadSTD = nullptr;
  QPushButton* ButtonLoadTFD = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;   // Loader
  QCheckBox* CheckBox2 = nullptr;   // Firmware
  QCheckBox* CheckBox3 = nullptr;   // Settings
  QCheckBox* CheckBox4 = nullptr;   // EEPROM
  QCheckBox* CheckBox5 = nullptr;   // Defaults
  QCheckBox* CheckBox13 = nullptr;  // Background
  QCheckBox* CheckBox11 = nullptr;  // Log transfer
  QPushButton* ButtonLoadFromToppy = nullptr;

  QGroupBox* GroupBox2 = nullptr;
  QPushButton* ButtonSaveSTD = nullptr;
  QPushButton* ButtonSaveTFD = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QCheckBox* CheckBox6 = nullptr;   // Loader
  QCheckBox* CheckBox7 = nullptr;   // Firmware
  QCheckBox* CheckBox8 = nullptr;   // Settings
  QCheckBox* CheckBox9 = nullptr;   // EEPROM
  QCheckBox* CheckBox10 = nullptr;  // Defaults
  QCheckBox* CheckBox14 = nullptr;  // Background
  QCheckBox* CheckBox12 = nullptr;  // Log transfer
  QPushButton* ButtonSaveToToppy = nullptr;

  QLabel* Label10 = nullptr;  // status line
  QProgressBar* PB1 = nullptr;
  ClickableLabel* Label1 = nullptr;   // Loader
  ClickableLabel* Label2 = nullptr;   // Firmware
  ClickableLabel* Label3 = nullptr;   // Flash
  ClickableLabel* Label4 = nullptr;   // EEPROM
  ClickableLabel* Label5 = nullptr;   // Defaults
  ClickableLabel* Label11 = nullptr;  // Background
  ClickableLabel* Label6 = nullptr;   // DVB-s
  ClickableLabel* Label7 = nullptr;   // DVB-t
  ClickableLabel* Label8 = nullptr;   // DVB-c
  ClickableLabel* Label9 = nullptr;   // SystemID

  QMenu* MenuFile = nullptr;
  QAction* MenuFileChangeSysID = nullptr;
  QAction* MenuFileExit = nullptr;
  QMenu* MenuLoad = nullptr;
  QAction* MenuLoadLoaderBIN = nullptr;
  QAction* MenuLoadFirmwareBIN = nullptr;
  QAction* MenuLoadFlashBIN = nullptr;
  QAction* MenuLoadEEPROMBIN = nullptr;
  QAction* MenuLoadDefaultsBIN = nullptr;
  QAction* MenuLoadBackgroundBIN = nullptr;
  QAction* MenuLoadFlashDMP = nullptr;
  QAction* MenuLoadFlashBlock = nullptr;
  QMenu* MenuSave = nullptr;
  QAction* MenuSaveLoaderBIN = nullptr;
  QAction* MenuSaveFirmwareBIN = nullptr;
  QAction* MenuSaveFlashBIN = nullptr;
  QAction* MenuSaveEEPROMBIN = nullptr;
  QAction* MenuSaveDefaultsBIN = nullptr;
  QAction* MenuSaveBackgroundBIN = nullptr;
  QAction* MenuSaveFlashDMP = nullptr;
  QAction* MenuSaveFlashBlocks = nullptr;
  QMenu* MenuDefaults = nullptr;
  QAction* MenuFlashEEPROMDefaults = nullptr;
  QAction* MenuDefaultsFlashEEPROM = nullptr;
  QAction* MenuDefaultsNULLSettings = nullptr;
  QMenu* MenuRemove = nullptr;
  QAction* MenuRemoveLoader = nullptr;
  QAction* MenuRemoveFirmware = nullptr;
  QAction* MenuRemoveSettings = nullptr;
  QAction* MenuRemoveEEPROM = nullptr;
  QAction* MenuRemoveDefaults = nullptr;
  QMenu* MenuToppy = nullptr;
  QAction* MenuToppyBackUp = nullptr;
  QAction* MenuToppyRestore = nullptr;
  QAction* MenuToppyCompare = nullptr;

 protected:
  // Asks the model: during a transfer the window closes only once the
  // transfer has wound down.
  void closeEvent(QCloseEvent* event) override;

 private:
  // WindowFace
  void Render(const WindowView& view) override;
  void RepaintStatusLine() override;
  void ProcessPendingMessages() override;
  void CloseWindow() override;
  std::string DecimalSeparator() const override;

  void ApplyWindowFont();
  void BuildControls();
  QWidget* MakeControl(const ControlDesign& design, QWidget* parent);
  void NameControls();
  void NameActions();
  void BuildMenu();
  void ApplyWindowFrame();
  void ConnectControls();
  void RenderControl(const ControlDesign& design, const ControlView& view);

  // Every control by ControlId, every menu entry by MenuEntryId.
  std::array<QWidget*, kControlCount> controls_{};
  std::array<QAction*, kMenuEntryCount> actions_{};
  WindowModel model_;
};

}  // namespace tolv
