// The receiver transfers of the window model: From Toppy and To Toppy with
// their lock set, busy caption, progress display, cancel and close.
#include <chrono>

#include "link/link.h"
#include "window/window_model.h"

namespace tolv {

void WindowModel::Controls_Lock() {
  state_.controlsLocked = true;
  Render();
}

void WindowModel::Controls_Unlock() {
  state_.controlsLocked = false;
  Render();
}

void WindowModel::RequestCancel() { transfers_.Cancel(); }

std::string WindowModel::SelectedPort(int index) const {
  if (index < 0 || index >= static_cast<int>(state_.ports.size())) return "USB";
  return state_.ports[static_cast<size_t>(index)];
}

TransferHooks WindowModel::Hooks() {
  TransferHooks hooks;
  hooks.progress = [this](uint8_t status, double value) { Transfer_Progress(status, value); };
  // The block's label goes up at once, before the block's first packet.
  hooks.statusLine = [this](const std::string& text) {
    state_.statusText = text;
    RenderTransferState();
    face_.RepaintStatusLine();
  };
  return hooks;
}

void WindowModel::Transfer_Progress(uint8_t status, double value) {
  const TransferProgressView progress = tolv::Transfer_Progress(status, value, face_.DecimalSeparator());
  state_.progress = progress.barPosition;
  if (job_.Active()) {
    if (status == comm_status::kProgress) job_.BlockPercent(value);
    state_.progress = job_.Bar();
  }
  if (progress.statusText) state_.statusText = *progress.statusText;
  state_.statusHint = WaitHint(status);
  if (progress.restoreFromToppyCaption) state_.fromToppyCaptionRestored = true;
  RenderTransferState();
  // The only point at which the user's clicks get through during a transfer.
  face_.ProcessPendingMessages();
}

std::string Transfer_SilentReceiverHint(const std::string& port) {
  return "Waiting for the receiver on " + port +
         ": switch it on or reconnect the cable; \"Cancel transfer\" stops.";
}

uint64_t WindowModel::NowMs() const {
  if (clockMs_) return clockMs_();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The status line's texts are fixed ("Device opened" for as long as a silent
// receiver keeps the link waiting): what to do about a wait is their hint.
std::string WindowModel::WaitHint(uint8_t status) {
  if (status == comm_status::kDownloadMode || status == comm_status::kUploadMode) receiverAnswered_ = true;
  if (status == comm_status::kWaitingForUsb) {
    // Why a receiver that is there cannot be used: the last poll's reason.
    std::string reason = Transfer_UsbWaitReason(transfers_.UsbDiagnostic());
    if (!reason.empty()) return reason;
  }
  if (!TransferBusy() || receiverAnswered_ || NowMs() - transferStartMs_ < kSilentReceiverHintMs) return {};
  return Transfer_SilentReceiverHint(transferPort_);
}

// Locks the controls and turns the pressed button into "Cancel transfer";
// then runs transfer and, also when it throws, winds down: status line "-",
// button and controls back, bar at 0, the display refreshed (and the window
// closed when that was asked for meanwhile).
void WindowModel::RunTransfer(TransferKind kind, const std::function<void()>& transfer) {
  transferPort_ = SelectedPort(kind == TransferKind::FromToppy ? state_.loadPort : state_.savePort);
  transferStartMs_ = NowMs();
  receiverAnswered_ = false;
  state_.controlsLocked = true;
  state_.transfer = kind;
  state_.fromToppyCaptionRestored = false;
  Render();
  try {
    transfer();
  } catch (...) {
    FinishTransfer();
    throw;
  }
  FinishTransfer();
}

void WindowModel::FinishTransfer() {
  transferDoubleClickMs_ = 0;
  job_.Stop();
  state_.statusText = WindowState().statusText;  // "-"
  state_.statusHint.clear();
  state_.transfer = TransferKind::None;
  state_.fromToppyCaptionRestored = false;
  state_.controlsLocked = false;
  state_.progress = 0;
  if (state_.closeRequested) face_.CloseWindow();
  Status_Refresh();
}

void WindowModel::FromToppy() {
  if (TransferBusy()) return RequestCancel();  // the "Cancel transfer" press
  DownloadRequest request;
  request.port = SelectedPort(state_.loadPort);
  // The Background is never fetched: its box on this side selects nothing.
  for (ComponentKind kind : kAllComponents)
    request.selection[static_cast<size_t>(kind)] =
        kind != ComponentKind::Background && state_.checked[Index(LoadCheckBox(kind))];
  request.log = state_.checked[Index(ControlId::CheckBox11)];
  RunTransfer(TransferKind::FromToppy,
              [&] { transfers_.FromToppy(workspace_, transferInteraction_, request, Hooks()); });
}

void WindowModel::ToToppy() {
  if (TransferBusy()) return RequestCancel();
  // The SystemID box comes before the controls are locked.
  if (workspace_.systemId == 0) SysID_Edit();
  UploadRequest request;
  request.askForSystemId = false;
  request.port = SelectedPort(state_.savePort);
  for (ComponentKind kind : kAllComponents)
    request.selection[static_cast<size_t>(kind)] = state_.checked[Index(SaveCheckBox(kind))];
  request.log = state_.checked[Index(ControlId::CheckBox12)];
  RunTransfer(TransferKind::ToToppy,
              [&] { transfers_.ToToppy(workspace_, transferInteraction_, request, Hooks()); });
}

}  // namespace tolv
