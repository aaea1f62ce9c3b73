// The receiver side of a front end: the workflows of workspace/transfers.h
// and the few link operations around them. The standard one (LinkTransfers)
// works on the process-wide link; tests give one of their own.
#pragma once

#include <cstdint>
#include <string>

#include "workspace/transfers.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// What a reboot came to: the open's result, and the reboot command's (the
// open's again when the port was not opened). 0 = done.
struct RebootReport {
  int32_t openResult = 0;
  int32_t result = 0;
};

// Opens port (waiting for a USB receiver as Link::Open does, with the hooks'
// progress), sends the reboot command when it opened, and closes.
RebootReport Transfer_Reboot(Link& link, const std::string& port, const TransferHooks& hooks);

class TransferRunner {
 public:
  virtual ~TransferRunner() = default;
  virtual DownloadReport FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                                   const TransferHooks& hooks) = 0;
  virtual UploadReport ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                               const TransferHooks& hooks) = 0;
  // Transfer_Reboot.
  virtual RebootReport Reboot(const std::string& port, const TransferHooks& hooks) = 0;
  // Makes the link operation under way give up (called from inside a
  // progress hook, by a second press of the transfer button or a close).
  virtual void Cancel() = 0;
  // Why a USB receiver that the link waits for cannot be used ("" when it
  // is simply not there); see Transfer_UsbWaitReason.
  virtual std::string UsbDiagnostic() = 0;
  // Why the last open of a serial port failed ("" when it did not).
  virtual std::string OpenDiagnostic() = 0;
  // Bytes on the wire of the block under way; 0 until the receiver has told.
  virtual int32_t TransferSize() = 0;
};

// The process-wide link's transfers. One instance for the whole run.
TransferRunner& LinkTransfers();

}  // namespace tolv
