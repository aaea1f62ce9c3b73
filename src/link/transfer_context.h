// What a block transfer works with: the link's packet channel, clock, log
// and status callback, and the steps every transfer shares.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/link_log.h"
#include "link/link_types.h"
#include "link/packet_channel.h"

namespace tolv {

// References into the link that makes it; valid while that link lives.
struct TransferContext {
  PacketChannel& channel;
  LinkClock& clock;
  LinkLog& log;
  // The link's callback, read at every call: the callback may replace it.
  const CommCallback& callback;

  // Calls a copy of the callback, so that it may replace the link's re-entrantly.
  void Notify(uint8_t status, double value) const {
    const CommCallback copy = callback;
    if (copy) copy(status, value);
  }
  void LogStep(std::string_view operation, std::string_view message) const {
    if (log.enabled()) log.Log(LinkLog_StepLine(operation, message));
  }
  // Logs the cancel of a transfer; returns kTransferCanceled.
  int32_t CancelExit() const;
  // Logs the end of a transfer of size bytes, status 6 at 100 %; returns 0.
  int32_t FinishTransfer(int32_t size) const;
};

}  // namespace tolv
