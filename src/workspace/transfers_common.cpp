#include <exception>
#include <memory>

#include "link/tfd_upload.h"
#include "results/result_codes.h"
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

CancelWatch::CancelWatch(const TransferHooks& hooks) : state_(std::make_shared<State>()) {
  callback_ = [state = state_, progress = hooks.progress](uint8_t status, double value) {
    if (status == comm_status::kCancelRequested) state->requested = true;
    if (status == comm_status::kDeviceOpened) state->opened = true;
    if (progress) progress(status, value);
  };
}

ModeReached ReachDownloadMode(Link& link, const std::string& port, const CancelWatch& watch) {
  ModeReached reached;
  // Kept, so that a cancel during the first wait for USB is told as such.
  reached.openResult = link.Open(port, watch.callback());
  link.Reboot();
  do {
    link.Close();
    if (watch.requested()) {
      // Open would forget the cancel; the user asked to stop.
      reached.modeResult = result::kDownloadModeCanceled;
      return reached;
    }
    reached.openResult = link.Open(port, watch.callback());
    reached.modeResult = link.DownloadMode();
  } while (reached.modeResult == result::kDownloadModeTimeout);
  return reached;
}

bool OfferReboot(Link& link, UserInteraction& ui, const std::string& port, bool portOpened) {
  if (!portOpened || !ui.Question("Reboot the Toppy?")) return false;
  Toppy_Reboot(link, port, CommCallback());
  return true;
}

}  // namespace tolv::transfer_detail
