// The overlapped transfer both Windows USB back-ends use.
//
// A transfer starts with its OVERLAPPED record and its bytes in a request
// of the pipe's own; the caller's bytes are copied in (write) or out (read).
// The system writes into the record and, for a read, the bytes until the
// transfer has ended, and signals the event. A transfer still open after its
// time-out is cancelled; a driver ends a cancelled request at once, but one
// that never does would hold the caller for ever, so the end is awaited for
// kCancelledTransferWaitMs only. Past that the request is given up: it is
// kept, never freed, since the driver may still complete it, and the pipe
// fails from then on.

#include <algorithm>

#include "link/win32_usb_api.h"

namespace tolv::win32 {

struct OverlappedPipe::Request {
  OVERLAPPED overlapped{};
  std::vector<uint8_t> bytes;
};

namespace {

// Requests given up on; never freed, as a driver may complete them late.
std::vector<std::unique_ptr<OverlappedPipe::Request>>& Abandoned() {
  static auto* requests = new std::vector<std::unique_ptr<OverlappedPipe::Request>>();
  return *requests;
}

}  // namespace

OverlappedPipe::OverlappedPipe(UsbApi& api, HANDLE event)
    : api_(api), event_(event), request_(std::make_unique<Request>()) {}

OverlappedPipe::~OverlappedPipe() = default;

size_t OverlappedPipe_AbandonedCount() { return Abandoned().size(); }

IoResult OverlappedPipe::Transfer(uint8_t* data, int32_t byteCount, DWORD waitMs) {
  if (Failed()) return {IoResult::Status::Fault, 0};
  const DWORD count = static_cast<DWORD>(std::max(byteCount, 0));
  Request& request = *request_;
  if (request.bytes.size() < count) request.bytes.resize(count);
  if (!IsRead()) std::copy_n(data, count, request.bytes.data());
  request.overlapped = OVERLAPPED{};
  request.overlapped.hEvent = event_;
  api_.ResetEvent(event_);
  IoResult result = Run(request, count, waitMs);
  result.byteCount = std::clamp(result.byteCount, 0, static_cast<int32_t>(count));
  // A request given up on keeps its bytes: nothing of it reaches the caller.
  if (IsRead() && !Failed()) std::copy_n(request.bytes.data(), result.byteCount, data);
  return result;
}

IoResult OverlappedPipe::Run(Request& request, DWORD byteCount, DWORD waitMs) {
  DWORD moved = 0;
  if (Start(request.bytes.data(), byteCount, &request.overlapped)) {
    // Completed at once.
    const bool ok = Finish(&request.overlapped, &moved, true);
    return Ended(ok, moved);
  }
  const DWORD error = api_.LastError();
  if (error != ERROR_IO_PENDING) {
    return {error == ERROR_SEM_TIMEOUT ? IoResult::Status::Timeout : IoResult::Status::Fault, 0};
  }
  if (api_.Wait(event_, waitMs) == WAIT_OBJECT_0) {
    const bool ok = Finish(&request.overlapped, &moved, true);
    return Ended(ok, moved);
  }
  return EndLate(request);
}

// Late (or the wait failed): cancel the transfer and wait, a bounded time,
// for its end, so that nothing writes into the caller's bytes or signals the
// event after we return.
IoResult OverlappedPipe::EndLate(Request& request) {
  Abort(&request.overlapped);
  if (api_.Wait(event_, kCancelledTransferWaitMs) != WAIT_OBJECT_0) {
    // The driver did not end it: give it up, record and bytes kept.
    Abandoned().push_back(std::move(request_));
    return {IoResult::Status::Fault, 0};
  }
  DWORD moved = 0;
  const bool completed = Finish(&request.overlapped, &moved, true);
  if (completed) return {IoResult::Status::Ok, static_cast<int32_t>(moved)};
  // A reply that ended without a short packet stays open until aborted; what
  // arrived is the whole reply.
  if (IsRead() && moved > 0) return {IoResult::Status::Ok, static_cast<int32_t>(moved)};
  return {IoResult::Status::Timeout, static_cast<int32_t>(moved)};
}

// The outcome of a transfer that ended by itself: ok, or failed with the
// system's error (a pipe time-out of the driver counts as a time-out).
IoResult OverlappedPipe::Ended(bool ok, DWORD moved) {
  const int32_t count = static_cast<int32_t>(moved);
  if (ok) return {IoResult::Status::Ok, count};
  const DWORD error = api_.LastError();
  if (error == ERROR_SEM_TIMEOUT || error == ERROR_OPERATION_ABORTED) {
    if (IsRead() && count > 0) return {IoResult::Status::Ok, count};
    return {IoResult::Status::Timeout, count};
  }
  return {IoResult::Status::Fault, count};
}

}  // namespace tolv::win32
