// The window's view of a transfer's progress, and the one-line summaries of
// how a transfer went.
#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

#include "link/tfd_upload.h"
#include "results/result_codes.h"
#include "workspace/transfers.h"

namespace tolv {
namespace {

int BarPosition(double value) {
  if (!(value > 0)) return 0;  // also NaN
  if (value >= 100) return 100;
  return static_cast<int>(value);  // truncated toward zero
}

// "42.5" with decimalPoint in place of the point, whatever the C locale says.
std::string OneDecimal(double value, const std::string& decimalPoint) {
  char digits[64];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
  std::string text(digits, error == std::errc() ? end : digits);
  if (const size_t point = text.find('.'); point != std::string::npos) text.replace(point, 1, decimalPoint);
  return text;
}

std::string ComponentList(const std::vector<ComponentKind>& kinds) {
  std::string list;
  for (ComponentKind kind : kinds) list += (list.empty() ? "" : ", ") + std::string(ComponentName(kind));
  return list;
}

}  // namespace

bool DownloadReport::AllStored() const {
  if (modeResult != 0) return false;
  for (const BlockOutcome& block : blocks) {
    if (!block.stored) return false;
  }
  return true;
}

bool DownloadReport::AnyDiscarded() const {
  for (const BlockOutcome& block : blocks) {
    if (block.stored && block.discarded) return true;
  }
  return false;
}

bool DownloadReport::AnyNote() const {
  for (const BlockOutcome& block : blocks) {
    if (block.stored && !block.note.empty()) return true;
  }
  return false;
}

bool UploadReport::Succeeded() const { return started && result == 0 && packFailures.empty(); }

TransferProgressView Transfer_Progress(uint8_t status, double value, const std::string& decimalPoint) {
  TransferProgressView view;
  view.barPosition = BarPosition(value);
  switch (status) {
    case 1: view.statusText = "Waiting for USB interface"; break;
    case 2: view.statusText = "Device opened"; break;
    case 3: view.statusText = "Set to download mode"; break;
    case 4: view.statusText = "Set to upload mode"; break;
    case 5:
      view.statusText = "Transfer of block " +
                        std::to_string(std::isfinite(value) ? static_cast<int>(value) : 0) + " started";
      break;
    case 6: view.statusText = OneDecimal(value, decimalPoint) + "% done\r"; break;
    case 7: view.statusText = "End of communication"; break;
    case 8: view.statusText = "Device closed"; break;
    case 9:
      view.statusText = "Communication has been canceled";
      view.restoreFromToppyCaption = true;
      break;
    default: break;
  }
  return view;
}

TransferProgressView Transfer_Progress(uint8_t status, double value) {
  const std::lconv* numeric = std::localeconv();
  const char* point =
      numeric && numeric->decimal_point && *numeric->decimal_point ? numeric->decimal_point : ".";
  return Transfer_Progress(status, value, point);
}

std::string Transfer_UsbWaitReason(const std::string& usbDiagnostic) {
  return usbDiagnostic.empty() ? std::string() : "Receiver found but not usable: " + usbDiagnostic + ".";
}

const char* Transfer_BlockLabel(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return "Loader:";
    case ComponentKind::Firmware: return "Firmware:";
    case ComponentKind::Flash: return "Flash:";
    case ComponentKind::Eeprom: return "EEPROM:";
    case ComponentKind::Defaults: return "Default:";
    case ComponentKind::Background: return "";
  }
  return "";
}

std::string Transfer_Summary(const DownloadReport& report) {
  if (report.modeResult != 0) {
    // The handshake reports a device that did not open as "not opened"; the
    // open's own result says why.
    const int32_t cause = report.openResult != 0 ? report.openResult : report.modeResult;
    return (report.outcome.IsCancelled() ? "Cancelled; nothing received: " : "Nothing received: ") +
           Result_Text(cause);
  }
  std::string received, discarded, failed;
  for (const BlockOutcome& block : report.blocks) {
    std::string& list = !block.stored ? failed : block.discarded ? discarded : received;
    list += list.empty() ? "" : ", ";
    list += ComponentName(block.kind);
    const std::string note = block.note.empty() ? "" : "; " + block.note;
    list += block.stored ? " (" + std::to_string(block.byteCount) + " bytes" + note + ")"
                         : " (" + block.failure + ")";
  }
  std::string text = (report.outcome.IsCancelled() ? "Cancelled. SystemID " : "SystemID ") +
                     std::to_string(report.systemId) + ".";
  if (report.blocks.empty()) return text + " No blocks requested.";
  if (!received.empty()) text += " Received: " + received + ".";
  // What the workspace holds at the end is what counts.
  if (!discarded.empty()) text += " Received, then discarded during the transfer: " + discarded + ".";
  if (!failed.empty()) text += " Not received: " + failed + ".";
  return text;
}

std::string Transfer_Summary(const UploadReport& report) {
  std::string text;
  // 0: the receiver did not answer (or no check was made).
  const bool otherModel =
      report.receiverSystemId != 0 && !TFD_ImageSuitsReceiver(report.systemId, report.receiverSystemId);
  if (!report.started) {
    text = "Nothing sent: " + (!report.refusal.empty() ? report.refusal + "."
                               : report.result != 0    ? Result_Text(report.result)
                                                       : std::string("no SystemID."));
  } else if (report.result == result::kTfdUploadWrongModel) {
    text = "Nothing sent: the receiver reports SystemID " + std::to_string(report.receiverSystemId) +
           "; the image is for SystemID " + std::to_string(static_cast<uint16_t>(report.systemId)) + ".";
  } else if (report.result != 0) {
    text = (report.canceled ? "Cancelled; upload of " : "Upload of ") +
           (report.sent.empty() ? std::string("an empty image") : ComponentList(report.sent)) +
           " not completed: " + Result_Text(report.result);
  } else {
    text = "Sent for SystemID " + std::to_string(report.systemId) + ": " +
           (report.sent.empty() ? std::string("an empty image") : ComponentList(report.sent)) + " (" +
           std::to_string(report.imageSize) + " bytes).";
    if (otherModel)
      text +=
          " The receiver reports SystemID " + std::to_string(report.receiverSystemId) + ", another model.";
  }
  for (const std::string& failure : report.packFailures) text += " Left out: " + failure + ".";
  return text;
}

}  // namespace tolv
