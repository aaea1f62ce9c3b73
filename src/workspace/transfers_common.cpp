#include <exception>
#include <memory>

#include "link/tfd_upload.h"
#include "workspace/transfers_internal.h"

namespace tolv::transfer_detail {

LogScope::LogScope(Link& link, bool enabled) : link_(link), active_(enabled) {
  if (active_) link_.SetLogFile(kTransferLogName);
}

LogScope::~LogScope() {
  if (!active_) return;
  try {
    link_.SetLogFile("");
  } catch (...) {
    // Already unwinding from an error; the log simply ends here.
  }
}

void LogScope::Stop() {
  if (!active_) return;
  active_ = false;
  link_.SetLogFile("");
}

CloseOnUnwind::CloseOnUnwind(Link& link) : link_(link), uncaught_(std::uncaught_exceptions()) {}

CloseOnUnwind::~CloseOnUnwind() {
  if (std::uncaught_exceptions() <= uncaught_) return;
  try {
    link_.Close();
  } catch (...) {
  }
}

CancelWatch::CancelWatch(const TransferHooks& hooks) : requested_(std::make_shared<bool>(false)) {
  callback_ = [requested = requested_, progress = hooks.progress](uint8_t status, double value) {
    if (status == comm_status::kCancelRequested) *requested = true;
    if (progress) progress(status, value);
  };
}

bool OfferReboot(Link& link, UserInteraction& ui, const std::string& port) {
  if (!ui.Question("Reboot the Toppy?")) return false;
  Toppy_Reboot(link, port, CommCallback());
  return true;
}

}  // namespace tolv::transfer_detail
