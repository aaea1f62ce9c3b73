// To Toppy: sending the selected components to the receiver as one TFD image.
#include "flash/packing.h"
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "results/result_codes.h"
#include "workspace/commands.h"
#include "workspace/transfers.h"
#include "workspace/transfers_internal.h"

namespace tolv {
namespace {

using transfer_detail::CancelWatch;
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
  bool packed;
  const char* failure;
  if (kind == ComponentKind::Flash) {
    packed = PackFlashData(systemId, image.data(), workspace.packedFlash.data());
    failure = "PackFlashData failed to pack the flash block";
  } else {
    packed = PackDefaultsData(systemId, image.data(), image.data() + kDefaultsEepromOffset,
                              workspace.packedFlash.data());
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

}  // namespace

UploadReport Transfer_ToToppy(Link& link, TfdStore& store, Workspace& workspace, UserInteraction& ui,
                              const UploadRequest& request, const TransferHooks& hooks) {
  UploadReport report;
  if (workspace.systemId == 0 && request.askForSystemId) SysID_Edit(workspace, ui);
  if (workspace.systemId == 0) {
    // An image for no model: no receiver could take it.
    ui.Message("Please enter a valid system ID");
    return report;
  }
  report.systemId = workspace.systemId;
  const CancelWatch watch(hooks);
  LogScope log(link, request.log);
  FillStore(workspace, store, request.selection, ui, report);
  std::vector<uint8_t> image;
  report.result = TFD_BuildImage(store, static_cast<uint16_t>(workspace.systemId), image);
  if (report.result == result::kOk) {
    report.imageSize = static_cast<int64_t>(image.size());
    report.started = true;
    if (hooks.blockStarting) hooks.blockStarting(ComponentKind::Flash, report.imageSize);
    report.result = TFD_SaveImageToToppy(link, request.port, watch.callback(), image.data(),
                                         static_cast<int32_t>(image.size()));
  }
  report.canceled = watch.requested();
  if (request.reportFailures && !report.canceled && report.result != result::kOk) {
    ui.Information(Transfer_Summary(report));
  }
  report.rebooted = transfer_detail::OfferReboot(link, ui, request.port);
  log.Stop();
  return report;
}

UploadReport Transfer_ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                              const TransferHooks& hooks) {
  return Transfer_ToToppy(Comm_Link(), TFD_Store(), workspace, ui, request, hooks);
}

}  // namespace tolv
