// The main window: which workspace components are present, the recognised
// settings layout, the system ID with its model name, and every command (New,
// the file loads and saves, the receiver transfers, removals, the Defaults
// copies, the system ID edit, Exit).
//
// The window is a thin layer: each handler asks for what it needs (a file
// name, a confirmation) through the FileDialogs and UserInteraction it was
// given, runs the workspace command and refreshes the display. Every handler
// runs inside one general error handler: an error a command does not catch
// (a file that cannot be read or written, a system ID text that is not a
// number) is shown in a message box and the window goes on with the state
// reached so far.
#pragma once

#include <QLabel>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "window/closing_interaction.h"
#include "ui/file_dialogs.h"
#include "workspace/transfers.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

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

// What the window works with; all of it outlives the window.
struct WindowServices {
  Workspace* workspace = nullptr;
  UserInteraction* interaction = nullptr;
  FileDialogs* fileDialogs = nullptr;
  // Names of the serial ports that can be opened now, in the order to list
  // them (asked once, at start-up). May throw; the window then lists "USB" only.
  std::function<std::vector<std::string>()> listSerialPorts;
};

// Colours of the status display (red, green, blue).
inline constexpr uint32_t kColourPresent = 0x00FF00;
inline constexpr uint32_t kColourAbsent = 0x004000;
inline constexpr uint32_t kColourLayoutLit = 0xFFFF00;
inline constexpr uint32_t kColourLayoutUnlit = 0x404000;
inline constexpr uint32_t kColourSystemIdSet = 0x0000FF;
inline constexpr uint32_t kColourSystemIdUnset = 0x000080;

// Client area of the window in pixels (the menu bar comes on top).
inline constexpr int kClientWidth = 344;
inline constexpr int kClientHeight = 461;

// Background colour of a coloured label (0xRRGGBB), and setting it.
uint32_t LabelColour(const QLabel* label);
void SetLabelColour(QLabel* label, uint32_t rgb);

class TForm1 : public QMainWindow {
 public:
  // Builds every control, then runs FormCreate. services' pointers must be set.
  explicit TForm1(const WindowServices& services, QWidget* parent = nullptr);
  ~TForm1() override;

  // Fills both link lists ("USB", then the serial ports) and refreshes.
  void FormCreate();
  // Colours, captions and enabled states from the workspace.
  void Status_Refresh();
  // The system ID input box; a non-zero number becomes the system ID.
  void SysID_Edit();

  // Runs handler inside the general error handler: an exception it throws is
  // shown (caption "TolvPack") and swallowed.
  void RunGuarded(const std::function<void()>& handler);

  bool TransferBusy() const { return transferBusy_; }

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

  // --- Handlers (each also reachable through its control) ---
  void ButtonNewClick();
  void Label1DblClick();
  void Label2DblClick();
  void Label3DblClick();
  void Label4DblClick();
  void Label5DblClick();
  void Label11DblClick();
  void Label9DblClick();
  void MenuRemoveLoaderClick();
  void MenuRemoveFirmwareClick();
  void MenuRemoveSettingsClick();
  void MenuRemoveEEPROMClick();
  void MenuRemoveDefaultsClick();
  void MenuFlashEEPROMDefaultsClick();
  void MenuDefaultsFlashEEPROMClick();
  void MenuDefaultsNULLSettingsClick();
  void MenuFileChangeSysIDClick();
  void MenuFileExitClick();

  // File commands: a dialog, then the format's load or save.
  void ButtonLoadSTDClick();
  void ButtonLoadTFDClick();
  void ButtonSaveSTDClick();
  void ButtonSaveTFDClick();
  void MenuLoadLoaderBINClick();
  void MenuLoadFirmwareBINClick();
  void MenuLoadFlashBINClick();
  void MenuLoadEEPROMBINClick();
  void MenuLoadDefaultsBINClick();
  void MenuLoadBackgroundBINClick();
  void MenuLoadFlashDMPClick();
  void MenuLoadFlashBlockClick();
  void MenuSaveLoaderBINClick();
  void MenuSaveFirmwareBINClick();
  void MenuSaveFlashBINClick();
  void MenuSaveEEPROMBINClick();
  void MenuSaveDefaultsBINClick();
  void MenuSaveBackgroundBINClick();
  void MenuSaveFlashDMPClick();
  void MenuSaveFlashBlocksClick();

  // Receiver transfers. A press while a transfer runs asks it to cancel.
  void ButtonLoadFromToppyClick();
  void ButtonSaveToToppyClick();
  // The link's progress callback: status line, bar, and the window's
  // pending events (which is how a "Cancel transfer" press gets through).
  void Transfer_Progress(uint8_t status, double value);
  void Controls_Lock();
  void Controls_Unlock();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ApplyWindowFont();
  void BuildControls();
  void BuildLoadGroup(QWidget* client);
  void BuildSaveGroup(QWidget* client);
  void BuildStatusDisplay(QWidget* client);
  void BuildMenu();
  void ApplyWindowFrame();
  void ConnectHandlers();
  void SetTransferSensitiveEnabled(bool enabled);
  void RequestTransferCancel();
  QAction* SaveBinAction(ComponentKind kind) const;
  void UnloadComponent(ComponentKind kind);
  QCheckBox* SaveCheckBox(ComponentKind kind) const;
  ClickableLabel* ComponentLabel(ComponentKind kind) const;
  // Shows a dialog for request; when a name was chosen, runs operation with it
  // and refreshes. A cancelled dialog changes nothing.
  void RunFileCommand(const FileDialogRequest& request,
                      const std::function<void(const std::string&)>& operation);
  void LoadBin(ComponentKind kind, const char* title);
  void SaveBin(ComponentKind kind, const char* title);
  void SetStatusText(const std::string& text);
  TransferHooks TransferHooksForWindow();
  // Locks the controls, turns button into "Cancel transfer" and runs
  // transfer; then, also when it throws, restores button's caption, the
  // controls and the display.
  void RunTransfer(QPushButton* button, const char* caption, const std::function<void()>& transfer);
  void FinishTransfer(QPushButton* button, const char* caption);

  WindowServices services_;
  Workspace& workspace_;
  UserInteraction& interaction_;
  bool transferBusy_ = false;
  // Set when the window is closed during a transfer: the transfer is
  // cancelled and the window closes once it has wound down.
  bool closeRequested_ = false;
  // What the transfers ask the user: no questions once closing.
  ClosingInteraction transferInteraction_{interaction_, closeRequested_};
  // An unreadable model file is told once, not on every refresh.
  bool modelListErrorShown_ = false;
};

}  // namespace tolv
