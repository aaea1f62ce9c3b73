// The steps every block transfer shares.

#include "link/transfer_context.h"

#include "link/link_internal.h"
#include "results/result_codes.h"

namespace tolv {

using namespace link_detail;

int32_t TransferContext::CancelExit() const {
  LogStep(kTransferLower, "Exiting due to GlobalCancel");
  return result::kTransferCanceled;
}

int32_t TransferContext::FinishTransfer(int32_t size) const {
  LogStep(kTransfer, Format("transfer finished with %d bytes", size));
  Notify(comm_status::kProgress, 100);
  return result::kOk;
}

}  // namespace tolv
