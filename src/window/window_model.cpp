// The window model: start-up, events, the general error handling, the file
// commands and the workspace commands. The transfers are in
// window_transfers.cpp.
#include "window/window_model.h"

#include <exception>

#include "common/file_io.h"
#include "workspace/bin_files.h"
#include "workspace/commands.h"
#include "workspace/flash_files.h"
#include "workspace/flash_settings.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv {

WindowModel::WindowModel(const WindowServices& services, WindowFace& face)
    : workspace_(*services.workspace),
      interaction_(*services.interaction),
      fileDialogs_(*services.fileDialogs),
      listSerialPorts_(services.listSerialPorts),
      transfers_(services.transfers != nullptr ? *services.transfers : LinkTransfers()),
      clockMs_(services.clockMs),
      face_(face) {}

void WindowModel::FormCreate() {
  // Serial ports are listed once, as found free at start-up; a failing probe
  // leaves "USB" alone rather than stopping the window.
  state_.ports = {"USB"};
  if (listSerialPorts_) {
    try {
      for (const std::string& port : listSerialPorts_()) state_.ports.push_back(port);
    } catch (const std::exception&) {
      state_.ports = {"USB"};
    }
  }
  state_.loadPort = 0;
  state_.savePort = 0;
  Status_Refresh();
}

void WindowModel::Render() {
  shown_ = View();
  face_.Render(shown_);
}

void WindowModel::RenderTransferState() {
  Window_ShowTransferState(shown_, state_);
  face_.Render(shown_);
}

void WindowModel::Status_Refresh() {
  Render();
  // The display is complete before a model list's read error is told.
  if (!shown_.modelListError.empty() && !state_.modelListErrorShown) {
    state_.modelListErrorShown = true;
    interaction_.Information(shown_.modelListError);
  }
}

void WindowModel::RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    interaction_.Information(error.what());
  } catch (...) {
    interaction_.Information("An unexpected error ended the command.");
  }
}

void WindowModel::Click(ControlId id) {
  const std::optional<CommandId> command = CommandForClick(id);
  if (command && ControlEnabled(id, workspace_, state_)) Run(*command);
}

void WindowModel::Click(ControlId id, uint32_t timeMs, uint32_t doubleClickMs) {
  const std::optional<CommandId> command = CommandForClick(id);
  const bool transferButton = command == CommandId::FromToppy || command == CommandId::ToToppy;
  if (transferButton && TransferBusy()) {
    // Unsigned: the input clock wraps after 49 days.
    if (timeMs - transferPressMs_ < transferDoubleClickMs_) return;
  } else if (transferButton) {
    transferPressMs_ = timeMs;
    transferDoubleClickMs_ = doubleClickMs;
  }
  Click(id);
}

void WindowModel::DoubleClick(ControlId id) {
  const std::optional<CommandId> command = CommandForDoubleClick(id);
  if (command && ControlEnabled(id, workspace_, state_)) Run(*command);
}

void WindowModel::PickMenuEntry(MenuEntryId id) {
  if (MenuEntryEnabled(id, workspace_, state_)) Run(CommandForMenuEntry(id));
}

void WindowModel::SetChecked(ControlId box, bool checked) {
  if (Control(box).kind == ControlKind::CheckBox) state_.checked[Index(box)] = checked;
}

void WindowModel::SelectItem(ControlId combo, int index) {
  if (index < 0 || index >= static_cast<int>(state_.ports.size())) return;
  if (combo == ControlId::ComboBox1) state_.loadPort = index;
  if (combo == ControlId::ComboBox2) state_.savePort = index;
}

void WindowModel::Run(CommandId command) {
  RunGuarded([this, command] { RunCommand(command); });
}

void WindowModel::RunCommand(CommandId command) {
  if (DialogRequestFor(command)) return RunFileCommand(command);
  if (std::optional<ComponentKind> kind = CommandComponent(command)) return Unload(*kind);
  switch (command) {
    case CommandId::New: return RefreshIfDone(Workspace_New(workspace_, interaction_));
    case CommandId::FlashToDefaults: return RefreshIfDone(Defaults_FromFlash(workspace_, interaction_));
    case CommandId::DefaultsToFlash: return RefreshIfDone(Defaults_ToFlash(workspace_, interaction_));
    case CommandId::NullDefaults: return RefreshIfDone(Defaults_Null(workspace_));
    case CommandId::ChangeSysId: return SysID_Edit();
    case CommandId::FromToppy: return FromToppy();
    case CommandId::ToToppy: return ToToppy();
    case CommandId::Exit: return face_.CloseWindow();
    case CommandId::BackUpToppy: return BackUpJob();
    case CommandId::RestoreBackup: return RestoreJob();
    case CommandId::CompareBackup: return CompareJob();
    default: return;  // every other command has a dialog or a component
  }
}

// A fresh dialog for the command; a chosen name goes to the format's
// operation, which reports its own failures; then the display is refreshed,
// whatever the outcome (a failed TFD import may have taken some blocks). A
// cancelled dialog changes nothing. What the save found in the folder (an
// interrupted set it finished, leftovers it removed) and the wrong settings
// and EEPROM checksums a load brought in are told afterwards, in one box.
void WindowModel::RunFileCommand(CommandId command) {
  const FileDialogRequest request = *DialogRequestFor(command);
  const std::string fileName = fileDialogs_.Choose(request);
  if (fileName.empty()) return;
  auto held = [this](ComponentKind kind) {
    return workspace_.Present(kind) ? workspace_.Image(kind) : std::vector<uint8_t>();
  };
  const std::vector<uint8_t> flashBefore = held(ComponentKind::Flash);
  const std::vector<uint8_t> eepromBefore = held(ComponentKind::Eeprom);
  std::vector<std::string> notices;
  Saves_OnNotice([&notices](const std::string& text) { notices.push_back(text); });
  Outcome outcome;
  try {
    outcome = RunFileOperation(command, fileName);
  } catch (...) {
    Saves_OnNotice({});
    ShowNotices(notices);
    throw;
  }
  Saves_OnNotice({});
  if (request.kind == FileDialogRequest::Kind::Open && !outcome.Stops())
    for (std::string& note : Load_BadChecksumNotes(workspace_, flashBefore, eepromBefore, fileName))
      notices.push_back(std::move(note));
  Status_Refresh();
  ShowNotices(notices);
}

void WindowModel::ShowNotices(const std::vector<std::string>& notices) {
  std::string text;
  for (const std::string& notice : notices) text += (text.empty() ? "" : "\n") + notice;
  if (!text.empty()) interaction_.Notice(text);
}

Outcome WindowModel::RunFileOperation(CommandId command, const std::string& name) {
  Workspace& ws = workspace_;
  UserInteraction& ui = interaction_;
  if (std::optional<ComponentKind> kind = CommandComponent(command)) {
    if (command == LoadBinCommand(*kind)) return Component_LoadBin(ws, *kind, name, ui);
    if (command != SaveBinCommand(*kind)) return Outcome::NothingToDo();
    return Component_SaveBin(ws, *kind, name);
  }
  switch (command) {
    case CommandId::LoadStd: return STD_Load(ws, name, ui);
    case CommandId::LoadTfd: return TFD_Import(ws, name, ui);
    case CommandId::SaveStd: return STD_Save(ws, name, ui);
    case CommandId::SaveTfd: return TFD_Export(ws, name, ui);
    case CommandId::LoadFlashDump: return FlashDump_Load(ws, name, ui);
    case CommandId::LoadFlashBlock: return FlashBlock_Load(ws, name, ui);
    case CommandId::SaveFlashDump: return FlashDump_Save(ws, name, ui);
    case CommandId::SaveFlashBlocks: return SaveFlashBlocks(name);
    default: return Outcome::NothingToDo();
  }
}

// Block files of an earlier save that this one does not write would be taken
// for parts of it by a later load: they are named in one box.
Outcome WindowModel::SaveFlashBlocks(const std::string& name) {
  const FlashBlocksSaved saved = FlashBlocks_Save(workspace_, name, interaction_);
  if (!saved.outcome) return saved.outcome;
  std::string leftovers;
  for (const std::string& file : FlashBlocks_Leftovers(workspace_, name))
    leftovers += (leftovers.empty() ? "" : "\n") + file + " is from before and was not replaced";
  if (!leftovers.empty()) interaction_.Information(leftovers);
  return saved.outcome;
}

// Removing a component unchecks its Save-group box.
void WindowModel::Unload(ComponentKind kind) {
  const Outcome outcome = Workspace_Unload(workspace_, kind, interaction_);
  if (outcome) state_.checked[Index(SaveCheckBox(kind))] = false;
  RefreshIfDone(outcome);
}

void WindowModel::SysID_Edit() { RefreshIfDone(SystemId_Ask(workspace_, interaction_)); }

void WindowModel::RefreshIfDone(const Outcome& outcome) {
  if (outcome) Status_Refresh();
}

bool WindowModel::RequestClose() {
  if (!TransferBusy()) return true;
  // A transfer is under way inside a handler further up the call stack: ask
  // it to give up, and close once it has wound down (closing the link and the
  // log properly).
  state_.closeRequested = true;
  RequestCancel();
  return false;
}

}  // namespace tolv
