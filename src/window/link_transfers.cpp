// The transfers of the window on the process-wide link.
#include "link/comm.h"
#include "link/tfd_upload.h"
#include "window/window_model.h"

namespace tolv {
namespace {

class ProcessLinkTransfers : public TransferRunner {
 public:
  DownloadReport FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                           const TransferHooks& hooks) override {
    return Transfer_FromToppy(workspace, ui, request, hooks);
  }
  UploadReport ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                       const TransferHooks& hooks) override {
    return Transfer_ToToppy(workspace, ui, request, hooks);
  }
  void Cancel() override { Comm_Cancel(); }
  std::string UsbDiagnostic() override { return Comm_UsbDiagnostic(); }
  void Reboot(const std::string& port) override { Toppy_Reboot(port); }
};

}  // namespace

TransferRunner& LinkTransfers() {
  static ProcessLinkTransfers transfers;
  return transfers;
}

}  // namespace tolv
