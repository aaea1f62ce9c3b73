// The transfers on the process-wide link, and the reboot on its own.
#include "link/comm.h"
#include "results/result_codes.h"
#include "workspace/transfer_runner.h"

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
  RebootReport Reboot(const std::string& port, const TransferHooks& hooks) override {
    return Transfer_Reboot(Comm_Link(), port, hooks);
  }
  void Cancel() override { Comm_Cancel(); }
  std::string UsbDiagnostic() override { return Comm_UsbDiagnostic(); }
  std::string OpenDiagnostic() override { return Comm_OpenDiagnostic(); }
  int32_t TransferSize() override { return Comm_TransferSize(); }
};

}  // namespace

RebootReport Transfer_Reboot(Link& link, const std::string& port, const TransferHooks& hooks) {
  RebootReport report;
  report.openResult = link.Open(port, hooks.progress);
  report.result = report.openResult == result::kOk ? link.Reboot() : report.openResult;
  link.Close();
  return report;
}

TransferRunner& LinkTransfers() {
  static ProcessLinkTransfers transfers;
  return transfers;
}

}  // namespace tolv
