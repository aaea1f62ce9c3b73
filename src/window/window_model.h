// The window without a toolkit: it holds the window's state, runs every
// command of the window (the file loads and saves with their dialogs, the
// receiver transfers with their lock set, busy caption and cancel, New, the
// removals, the Defaults copies, the SystemID edit, Exit and closing) and tells
// its face what to show. A face (the Qt window, the native Win32 window)
// builds its controls from window/controls.h, renders the WindowView it is
// given, and passes every click, double-click, menu pick, check box toggle and
// list choice on to the model. Nothing of the window's logic lives in a face.
//
// Everything runs on the user-interface thread. A transfer runs inside the
// model's handling of its button press; at every step of the link the model
// lets the face process its pending messages, and the user's clicks then come
// back into the model re-entrantly (a second press of the transfer button
// cancels; New, the removals, the Defaults menu and Change SysID may run in
// between).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "window/closing_interaction.h"
#include "window/command_bindings.h"
#include "window/dialog_requests.h"
#include "window/job_progress.h"
#include "window/view.h"
#include "workspace/outcome.h"
#include "workspace/transfer_runner.h"
#include "workspace/transfers.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// What a face does for the model.
class WindowFace {
 public:
  virtual ~WindowFace() = default;
  // Shows view: every control's caption, hint, colour, enabled and checked
  // state, the lists, the status line, the bar and every menu entry's enabled
  // state. Called at the end of every command that changed something (and
  // only then), at the lock and unlock of a transfer and at every step of a
  // transfer. A face may skip what it already shows.
  virtual void Render(const WindowView& view) = 0;
  // Paints the status line now, before the next step (a block's label goes up
  // before the block's first packet).
  virtual void RepaintStatusLine() {}
  // Processes the window's pending messages (clicks, painting) and returns:
  // the only point at which the user is heard during a transfer.
  virtual void ProcessPendingMessages() = 0;
  // Closes the window as its close box does: the face asks
  // WindowModel::RequestClose and closes (ending the program) only when that
  // allows it. Called by Exit, and once a transfer during which the window
  // was told to close has wound down.
  virtual void CloseWindow() = 0;
  // The user's decimal separator, for the progress text ("42,5% done").
  virtual std::string DecimalSeparator() const { return "."; }
};

// What the model works with; every pointer outlives the model.
struct WindowServices {
  Workspace* workspace = nullptr;
  UserInteraction* interaction = nullptr;
  FileDialogs* fileDialogs = nullptr;
  // Names of the serial ports that can be opened now, in the order to list
  // them (asked once, by FormCreate). May throw; the lists then hold "USB"
  // alone. Empty: no serial ports.
  std::function<std::vector<std::string>()> listSerialPorts;
  // The receiver side; nullptr means LinkTransfers().
  TransferRunner* transfers = nullptr;
  // Milliseconds of a steady clock, for how long a transfer has waited for
  // the receiver; empty means the system's.
  std::function<uint64_t()> clockMs = nullptr;
};

// How long a transfer waits for the receiver to answer before the status
// line's hint says what to check.
inline constexpr uint64_t kSilentReceiverHintMs = 3000;

// The status line's hint while a transfer has waited kSilentReceiverHintMs
// for the receiver on port to answer: what to check, and how to stop.
std::string Transfer_SilentReceiverHint(const std::string& port);

class WindowModel {
 public:
  // services' workspace, interaction and fileDialogs must be set; face must
  // outlive the model. Nothing is rendered before FormCreate.
  WindowModel(const WindowServices& services, WindowFace& face);
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Start-up: both link lists get "USB" and then the serial ports, "USB"
  // selected; then Status_Refresh (the first render).
  void FormCreate();

  const WindowState& State() const { return state_; }
  WindowView View() const { return Window_View(workspace_, state_); }
  bool TransferBusy() const { return state_.transfer != TransferKind::None; }

  // --- Events from the face. Each runs inside the general error handling
  // (RunGuarded). An event on a control or menu entry that the current view
  // shows disabled, or that runs no command, is ignored.
  void Click(ControlId id);
  // A click at timeMs (the face's clock of input events, milliseconds, may
  // wrap) by a face whose system counts two clicks within doubleClickMs as a
  // double-click. A press of a transfer button that comes within
  // doubleClickMs of the press that started the transfer is the second half
  // of a double-click on it, not a cancel, and is ignored.
  void Click(ControlId id, uint32_t timeMs, uint32_t doubleClickMs);
  void DoubleClick(ControlId id);
  void PickMenuEntry(MenuEntryId id);
  // The user toggled a check box, or chose a list item. Nothing is rendered
  // (the face already shows it). Other controls, and an index outside the
  // list, are ignored.
  void SetChecked(ControlId box, bool checked);
  void SelectItem(ControlId combo, int index);
  // The window is asked to close (its close box, the system menu, Exit).
  // Returns true when it may close now. During a transfer it returns false,
  // cancels the transfer, and closes the window (WindowFace::CloseWindow)
  // once the transfer has wound down, without asking anything more (no
  // "Reboot the Toppy?").
  bool RequestClose();

  // Runs command as its control would, inside the general error handling,
  // whether or not its control is enabled now.
  void Run(CommandId command);

  // The general error handling: runs handler; an exception it throws is shown
  // (UserInteraction::Information with its text; "An unexpected error ended
  // the command." for one without text) and swallowed, and the window goes on
  // with the state reached so far.
  void RunGuarded(const std::function<void()>& handler);

  // --- Pieces of the commands, under the window's names -------------------

  // Renders the view of the workspace as it stands; a model list that cannot
  // be read is then told once per run.
  void Status_Refresh();
  // The SystemID input box (SystemId_Ask); a SystemID from 1 to 65535 is
  // stored and shown. Throws SystemIdTextError for text that is no SystemID.
  void SysID_Edit();
  // Disable and enable the transfer-sensitive controls (and render).
  void Controls_Lock();
  void Controls_Unlock();
  // The link's progress callback: status line, hint and bar by
  // Transfer_Progress (during a job, the bar over the whole job), the From
  // Toppy caption on a cancel; then a render of
  // these (the rest of the display is refreshed at the transfer's end) and
  // the face's pending messages. The hint says why a USB receiver cannot be
  // used, or, once the receiver has not answered for kSilentReceiverHintMs
  // since the transfer started, Transfer_SilentReceiverHint (until it does).
  void Transfer_Progress(uint8_t status, double value);

 private:
  void RunCommand(CommandId command);
  void RunFileCommand(CommandId command);
  Outcome RunFileOperation(CommandId command, const std::string& fileName);
  // The notices of one command, joined into one box; none shows nothing.
  void ShowNotices(const std::vector<std::string>& notices);
  Outcome SaveFlashBlocks(const std::string& fileName);
  void Unload(ComponentKind kind);
  // The display follows a workspace command only when it changed something.
  void RefreshIfDone(const Outcome& outcome);
  void FromToppy();
  void ToToppy();
  void RunTransfer(TransferKind kind, const std::function<void()>& transfer);
  void FinishTransfer();
  void RequestCancel();
  TransferHooks Hooks();
  std::string WaitHint(uint8_t status);
  uint64_t NowMs() const;
  std::string SelectedPort(int index) const;
  // Renders the whole view, or (during a transfer step) the view last
  // rendered with the transfer's state brought up to date.
  void Render();
  void RenderTransferState();

  // The owner's jobs on a backup folder (window_jobs.cpp). Each runs its
  // receiver sessions as one transfer (backup and compare on the From Toppy
  // side, whose button cancels; restore on the To Toppy side), with the bar
  // over the whole job, answers "Reboot the Toppy?" itself once at the end
  // (never when the loader may be wrong) and tells its result in one box.
  void BackUpJob();
  void RestoreJob();
  void CompareJob();
  // The backup folder the user picks, judged and loaded into backup; empty
  // (after telling why) when there is none to use.
  std::string ChooseBackup(const std::string& title, const std::string& nothingDone, Workspace& backup);
  // The progress hooks of a job's session.
  TransferHooks JobHooks();
  // Ends a job's report: unless the loader may be wrong or the receiver
  // never answered, asks "Reboot the Toppy?" and says the state it is left
  // in; then shows every line in one box.
  void EndJob(std::vector<std::string> lines, const std::string& port, bool answered, bool loaderSuspect);

  Workspace& workspace_;
  UserInteraction& interaction_;
  FileDialogs& fileDialogs_;
  std::function<std::vector<std::string>()> listSerialPorts_;
  TransferRunner& transfers_;
  std::function<uint64_t()> clockMs_;
  WindowFace& face_;
  WindowState state_;
  WindowView shown_;  // the view last rendered
  JobProgress job_;   // the bar over a running job; inactive outside one
  // When the press that started the running transfer came, and the double-
  // click time then (0: not known, every later press cancels).
  uint32_t transferPressMs_ = 0;
  uint32_t transferDoubleClickMs_ = 0;
  // The running transfer's port, start and whether the receiver answered.
  std::string transferPort_;
  uint64_t transferStartMs_ = 0;
  bool receiverAnswered_ = false;
  // What the transfers ask the user: nothing once the window is closing.
  ClosingInteraction transferInteraction_{interaction_, state_.closeRequested};
};

}  // namespace tolv
