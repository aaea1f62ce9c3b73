// The bytes of a soak run: the receiver memory the emulator starts from, the
// files tolv is given, and what must come out. Everything is drawn from the
// run's seed, so that each run moves data of its own.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "receiver_memory.h"
#include "soak_plan.h"

namespace tolv::soak {

struct RunBytes {
  sim::ReceiverMemory start;  // the emulator's memory at the start
  sim::ReceiverMemory after;  // upload: the memory once the image is taken; download: start
  // Download: each chosen component as tolv's BIN output must hold it.
  // Upload: each chosen component as the BIN file tolv is given.
  std::map<int, std::vector<uint8_t>> files;
};

// Built from the emulator's built-in memory of SystemID kSoakSystemId, with a
// loader, a firmware (of the plan's size and mix), an EEPROM and settings of
// the run's own. Thread-safe.
RunBytes MakeRunBytes(const RunPlan& plan);

inline constexpr uint16_t kSoakSystemId = 406;

// A component of memory as tolv's BIN file of it holds it: the settings
// (part 2) and defaults (part 4) unpacked from their packed blocks; empty when
// a packed block does not unpack.
std::vector<uint8_t> ComponentFile(const sim::ReceiverMemory& memory, int part);

// The unpacked image of a packed settings (part 2) or defaults (part 4) block,
// the defaults with their EEPROM at 0x60000; empty when it does not unpack.
std::vector<uint8_t> UnpackedImage(int part, const std::vector<uint8_t>& packed);

}  // namespace tolv::soak
