// The receiver transfers: From Toppy and To Toppy with their progress display,
// cancel button and the locking of the controls that must not run meanwhile.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <functional>
#include <iterator>
#include <string>

#include "link/comm.h"
#include "ui/main_window.h"
#include "workspace/transfers.h"

namespace tolv {

// Every control that must not run while a transfer uses the link, the TFD
// store and the packed block: the file loads and saves, both transfer
// buttons and the component boxes. New stays usable; the log boxes, the link
// lists and the other menus stay as they are.
void TForm1::SetTransferSensitiveEnabled(bool enabled) {
  for (QAction* action : {MenuLoadLoaderBIN, MenuLoadFirmwareBIN, MenuLoadFlashBIN, MenuLoadEEPROMBIN,
                          MenuLoadDefaultsBIN, MenuLoadBackgroundBIN, MenuLoadFlashDMP, MenuLoadFlashBlock,
                          MenuSaveLoaderBIN, MenuSaveFirmwareBIN, MenuSaveFlashBIN, MenuSaveEEPROMBIN,
                          MenuSaveDefaultsBIN, MenuSaveBackgroundBIN, MenuSaveFlashDMP, MenuSaveFlashBlocks})
    action->setEnabled(enabled);
  for (QPushButton* button :
       {ButtonLoadSTD, ButtonLoadTFD, ButtonLoadFromToppy, ButtonSaveSTD, ButtonSaveTFD, ButtonSaveToToppy})
    button->setEnabled(enabled);
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7,
                         CheckBox8, CheckBox9, CheckBox10, CheckBox13, CheckBox14})
    box->setEnabled(enabled);
}

void TForm1::Controls_Lock() { SetTransferSensitiveEnabled(false); }

void TForm1::Controls_Unlock() {
  SetTransferSensitiveEnabled(true);
  ButtonNew->setEnabled(true);
}

void TForm1::RequestTransferCancel() { Comm_Cancel(); }

TransferHooks TForm1::TransferHooksForWindow() {
  TransferHooks hooks;
  hooks.progress = [this](uint8_t status, double value) { Transfer_Progress(status, value); };
  // The block's label goes up at once, before the block's first packet.
  hooks.statusLine = [this](const std::string& text) {
    SetStatusText(text);
    Label10->repaint();
  };
  return hooks;
}

void TForm1::RunTransfer(QPushButton* button, const char* caption, const std::function<void()>& transfer) {
  Controls_Lock();
  button->setText("Cancel transfer");
  button->setEnabled(true);
  transferBusy_ = true;
  // The finish step runs on every way out; an error then reaches the
  // general error handling.
  try {
    transfer();
  } catch (...) {
    FinishTransfer(button, caption);
    throw;
  }
  FinishTransfer(button, caption);
}

void TForm1::FinishTransfer(QPushButton* button, const char* caption) {
  SetStatusText("-");
  transferBusy_ = false;
  button->setText(caption);
  Controls_Unlock();
  PB1->setValue(0);
  // Closed during the transfer: close now that it has wound down.
  if (closeRequested_) close();
  Status_Refresh();
}

void TForm1::ButtonLoadFromToppyClick() {
  if (transferBusy_) {
    RequestTransferCancel();
    return;
  }
  DownloadRequest request;
  request.port = ComboBox1->currentText().toStdString();
  // The Background is never fetched: its box on this side selects nothing.
  const QCheckBox* boxes[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5};
  for (size_t kind = 0; kind < std::size(boxes); ++kind) request.selection[kind] = boxes[kind]->isChecked();
  request.log = CheckBox11->isChecked();
  RunTransfer(ButtonLoadFromToppy, "From Toppy", [&] {
    Transfer_FromToppy(workspace_, transferInteraction_, request, TransferHooksForWindow());
  });
}

void TForm1::ButtonSaveToToppyClick() {
  if (transferBusy_) {
    RequestTransferCancel();
    return;
  }
  // The SystemID box comes before the controls are locked.
  if (workspace_.systemId == 0) SysID_Edit();
  UploadRequest request;
  request.askForSystemId = false;
  request.port = ComboBox2->currentText().toStdString();
  for (ComponentKind kind : kAllComponents)
    request.selection[static_cast<size_t>(kind)] = SaveCheckBox(kind)->isChecked();
  request.log = CheckBox12->isChecked();
  RunTransfer(ButtonSaveToToppy, "To Toppy",
              [&] { Transfer_ToToppy(workspace_, transferInteraction_, request, TransferHooksForWindow()); });
}

void TForm1::Transfer_Progress(uint8_t status, double value) {
  const TransferProgressView view =
      tolv::Transfer_Progress(status, value, QLocale().decimalPoint().toStdString());
  PB1->setValue(view.barPosition);
  if (view.statusText) SetStatusText(*view.statusText);
  // The status line's text while waiting for USB is fixed; why a receiver
  // that is there cannot be used (the last poll's reason) is its tooltip.
  const std::string reason =
      status == comm_status::kWaitingForUsb ? Transfer_UsbWaitReason(Comm_UsbDiagnostic()) : std::string();
  Label10->setToolTip(QString::fromStdString(reason));
  if (view.restoreFromToppyCaption) ButtonLoadFromToppy->setText("From Toppy");
  // The only point at which the user's clicks get through during a transfer.
  QCoreApplication::processEvents();
}

void TForm1::SetStatusText(const std::string& text) {
  // The progress text ends in a carriage return, which a one-line label does
  // not show.
  std::string shown = text;
  while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n')) shown.pop_back();
  Label10->setText(QString::fromStdString(shown));
}

}  // namespace tolv
