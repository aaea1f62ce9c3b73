// To Toppy: sending the selected components to the receiver as one TFD image.
#include "flash/model_list.h"
#include "flash/packing.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"
#include "workspace/commands.h"
#include "workspace/flash_settings.h"
#include "workspace/transfers.h"
#include "workspace/transfers_internal.h"

namespace tolv {
namespace {

using transfer_detail::CancelWatch;
using transfer_detail::CloseOnUnwind;
using transfer_detail::LogScope;

// Puts one present component into its slot: Flash and Defaults packed for the
// SystemID (through packedFlash), the others as they are. Returns the message
// shown when the component had to be left out, else an empty text.
std::string PutComponent(Workspace& workspace, TfdStore& store, ComponentKind kind, UserInteraction& ui) {
  const uint8_t slot = static_cast<uint8_t>(kind);
  const uint16_t systemId = static_cast<uint16_t>(workspace.systemId);
  const std::vector<uint8_t>& image = workspace.Image(kind);
  if (kind != ComponentKind::Flash && kind != ComponentKind::Defaults) {
    TFD_SetBlock(store, slot, image.data(), image.size());
    return {};
  }
  workspace.packedFlash.assign(kPackedBlockSize, 0);
  const ModelHeader* ownHeader = Workspace_OwnModelHeader(workspace);
  bool packed;
  const char* failure;
  if (kind == ComponentKind::Flash) {
    packed = PackFlashData(systemId, image.data(), workspace.packedFlash.data(), ownHeader);
    failure = "PackFlashData failed to pack the flash block";
  } else {
    packed = PackDefaultsData(systemId, image.data(), image.data() + kDefaultsEepromOffset,
                              workspace.packedFlash.data(), ownHeader);
    failure = "PackFlashData failed to pack the defaults block";
  }
  if (!packed) {
    ui.Information(failure);
    return failure;
  }
  TFD_SetBlock(store, slot, workspace.packedFlash.data(), workspace.packedFlash.size());
  return {};
}

// Fills the store from the selected present components, in slot order.
void FillStore(Workspace& workspace, TfdStore& store, const ComponentSelection& selection,
               UserInteraction& ui, UploadReport& report) {
  TFD_Clear(store);
  for (ComponentKind kind : kAllComponents) {
    if (!selection[static_cast<size_t>(kind)] || !workspace.Present(kind)) continue;
    if (std::string failure = PutComponent(workspace, store, kind, ui); failure.empty()) {
      report.sent.push_back(kind);
    } else {
      report.packFailures.push_back(std::move(failure));
    }
  }
}

// A selected Firmware of 0 bytes: no receiver takes it, and sending the rest
// without it is not what was asked.
bool EmptyFirmwareSelected(const Workspace& workspace, const ComponentSelection& selection) {
  const ComponentKind firmware = ComponentKind::Firmware;
  return selection[static_cast<size_t>(firmware)] && workspace.Present(firmware) &&
         workspace.Image(firmware).empty();
}

std::string ModelQuestion(int32_t receiverSystemId, int32_t imageSystemId) {
  // Each name copied at once: the next call overwrites the shared text.
  const std::string receiverModel = Model_GetName(receiverSystemId);
  const std::string imageModel = Model_GetName(imageSystemId);
  return "The receiver reports SystemID " + std::to_string(receiverSystemId) + " (" + receiverModel +
         "); the image is for SystemID " + std::to_string(imageSystemId) + " (" + imageModel +
         "). Send it anyway?";
}

// The check before the first byte goes out: the same model (or the wildcard)
// goes without a word; another model only on the user's Yes.
ReceiverCheck ModelCheck(int32_t systemId, UserInteraction& ui, UploadReport& report) {
  return [systemId, &ui, &report](int32_t reported) {
    report.receiverSystemId = reported;
    if (TFD_ImageSuitsReceiver(systemId, reported)) return true;
    return ui.QuestionDefaultNo(ModelQuestion(reported, static_cast<uint16_t>(systemId)));
  };
}

// Whether nothing may be sent at all; says why (and records it) when so.
bool RefuseBeforeSending(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                         UploadReport& report) {
  if (EmptyFirmwareSelected(workspace, request.selection)) {
    report.outcome =
        ShowFailure(ui, "The Firmware is empty (0 bytes): no receiver takes it. Nothing was sent.");
    report.refusal = "the Firmware is empty (0 bytes)";
    return true;
  }
  if (workspace.systemId == 0 && request.askForSystemId) SystemId_Ask(workspace, ui);
  if (workspace.systemId == 0) {
    // An image for no model: no receiver could take it.
    report.outcome = ShowPlainFailure(ui, "Please enter a valid system ID");
    report.refusal = "no SystemID";
    return true;
  }
  return false;
}

// Done when everything selected went (or a dry run learnt the receiver's
// SystemID); cancelled on the user's cancel. A receiver of another model
// that was not sent the image refused this input; one that could not be
// opened, never answered or stopped asking was not reached.
Outcome UploadOutcome(const UploadReport& report, bool dryRun) {
  if (report.Succeeded()) return Outcome::Done();
  const bool wrongModel = report.result == result::kTfdUploadWrongModel;
  if (dryRun && wrongModel && report.receiverSystemId != 0) return Outcome::Done();
  const std::string summary = Transfer_Summary(report);
  if (report.result != result::kOk && report.canceled) return Outcome::Cancelled(summary);
  if (wrongModel) return Outcome::Failed(summary, FailureCause::kInputRefused);
  const bool notReached =
      report.result == result::kTfdUploadOpenFailed || report.result == result::kTfdUploadTimeout ||
      report.result == result::kOpenUsbNotFound || report.result == result::kUploadModeTimeout ||
      report.result == result::kTransferTimeout;
  return Outcome::Failed(summary, notReached ? FailureCause::kNotReached : FailureCause::kOther);
}

// A dry run learns the receiver's SystemID without upload mode: the receiver
// is rebooted, asked for download mode (on a serial line it announces its
// SystemID, on USB the mode reply carries it) and the session ends at once.
// Nothing is written to its memory. kTfdUploadWrongModel as "nothing sent"
// once the SystemID is known.
int32_t LearnReceiverSystemId(Link& link, const std::string& port, const CancelWatch& watch,
                              UploadReport& report) {
  CloseOnUnwind closeOnError(link);
  const transfer_detail::ModeReached mode = transfer_detail::ReachDownloadMode(link, port, watch);
  if (mode.modeResult == result::kOk) link.GetReceiverInfo(&report.receiverSystemId, nullptr);
  link.End();
  link.Close();
  if (mode.modeResult == result::kOk) return result::kTfdUploadWrongModel;
  if (watch.requested()) return result::kTfdUploadCanceled;
  if (mode.openResult == result::kOpenSerialFailed) return result::kTfdUploadOpenFailed;
  return mode.openResult != result::kOk ? mode.openResult : mode.modeResult;
}

// A session stopped by a fault starts again: the user is told in the status
// line (which tolv prints) why and which restart it is.
UploadRestartNotice RestartNotice(const TransferHooks& hooks, UploadReport& report) {
  return [&hooks, &report](int restart, int32_t cause) {
    report.restarts = restart;
    if (!hooks.statusLine) return;
    hooks.statusLine("Upload stopped (" + Result_Text(cause) + "); starting again from the reboot (" +
                     std::to_string(restart) + " of " + std::to_string(kUploadRestarts) + ").");
  };
}

}  // namespace

UploadReport Transfer_ToToppy(Link& link, TfdStore& store, Workspace& workspace, UserInteraction& ui,
                              const UploadRequest& request, const TransferHooks& hooks) {
  UploadReport report;
  if (RefuseBeforeSending(workspace, ui, request, report)) return report;
  report.systemId = workspace.systemId;
  const CancelWatch watch(hooks);
  LogScope log(link, request.log);
  FillStore(workspace, store, request.selection, ui, report);
  std::vector<uint8_t> image;
  report.result = TFD_BuildImage(store, static_cast<uint16_t>(workspace.systemId), image);
  if (report.result == result::kOk) {
    report.imageSize = static_cast<int64_t>(image.size());
    report.started = true;
    if (request.dryRun) {
      report.result = LearnReceiverSystemId(link, request.port, watch, report);
    } else {
      if (hooks.blockStarting) hooks.blockStarting(ComponentKind::Flash, report.imageSize);
      CloseOnUnwind closeOnError(link);
      report.result = TFD_SaveImageToToppy(
          link, request.port, watch.callback(), image.data(), static_cast<int32_t>(image.size()),
          ModelCheck(workspace.systemId, ui, report), RestartNotice(hooks, report));
    }
  }
  report.canceled = watch.requested();
  report.opened = watch.deviceOpened();
  report.outcome = UploadOutcome(report, request.dryRun);
  if (request.reportFailures && !report.canceled && report.result != result::kOk &&
      report.result != result::kTfdUploadWrongModel) {
    ui.Information(Transfer_Summary(report));
  }
  report.rebooted = transfer_detail::OfferReboot(link, ui, request.port, report.opened);
  log.Stop();
  return report;
}

namespace {}  // namespace

ComponentBytes Transfer_UploadShares(Workspace& workspace, const ComponentSelection& selection) {
  ComponentBytes shares{};
  auto store = std::make_unique<TfdStore>();
  SilentInteraction quiet;  // the plan's image is made without a word
  UploadReport report;
  const std::vector<uint8_t> packedFlash = workspace.packedFlash;  // FillStore packs through it
  FillStore(workspace, *store, selection, quiet, report);
  workspace.packedFlash = packedFlash;
  std::vector<uint8_t> image;
  TfdFileInfo info;
  if (TFD_BuildImage(*store, static_cast<uint16_t>(workspace.systemId), image) != result::kOk ||
      TFD_Scan(image.data(), image.size(), info) != result::kOk)
    return shares;
  // Each block with its length field; the header goes with no component.
  for (const TfdFileBlock& block : info.blocks)
    if (block.blockType < kComponentCount) shares[block.blockType] += block.blockLength + 2;
  return shares;
}

UploadReport Transfer_ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                              const TransferHooks& hooks) {
  return Transfer_ToToppy(Comm_Link(), TFD_Store(), workspace, ui, request, hooks);
}

}  // namespace tolv
