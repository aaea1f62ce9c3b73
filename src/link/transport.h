// The byte pipe to the receiver: a serial port, or the pair of USB bulk pipes.
// The packet layer needs only these operations; one implementation per
// platform and kind of port lives in its own file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tolv {

struct IoResult {
  enum class Status { Ok, Timeout, Fault };
  Status status = Status::Ok;
  int32_t byteCount = 0;  // bytes moved (Ok; on Timeout, those moved before it)
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Writes byteCount bytes from data, waiting at most timeoutMs in all.
  // Timeout when not all could be handed over in time; Fault when the device
  // is gone or refuses. A write that timed out is cancelled before returning,
  // so data may be reused at once.
  virtual IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) = 0;

  // Reads up to dstCapacity bytes into dst, waiting at most timeoutMs for them.
  // USB: one call completes one bulk transfer (one reply packet), Ok with
  // byteCount 0 for a zero-length transfer, Timeout when none completed (the
  // transfer is cancelled before returning). Serial: returns what arrived
  // (Ok with byteCount 0 when nothing came within timeoutMs).
  virtual IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) = 0;

  // Discards bytes waiting in either direction (serial); nothing on USB.
  virtual void Purge() = 0;
};

// USB access is reached through a provider so that tests and the receiver
// emulator can stand in for the real device. Each call polls once: it returns
// an open transport when the receiver is present and usable, else nullptr and,
// in *diagnostic, why (empty when simply no receiver is attached).
using UsbProvider = std::function<std::unique_ptr<Transport>(std::string* diagnostic)>;

// Replaces the process's USB provider (the libusb one by default); an empty
// function restores the default.
void Link_SetUsbProvider(UsbProvider provider);

}  // namespace tolv
